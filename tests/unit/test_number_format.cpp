#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "protocol/number_format.h"

namespace {

std::string Hex(uint8_t a, uint8_t b, uint8_t c, uint8_t d, size_t cut) {
  return CutTo(FormatGeneral(FloatFromBytes(a, b, c, d)), cut);
}

TEST(FormatGeneral, ProcessValueExamplesCutToNine) {
  EXPECT_EQ(Hex(0x41, 0x48, 0x00, 0x00, 9), "12.5");
  EXPECT_EQ(Hex(0x3D, 0xCC, 0xCC, 0xCD, 9), "0.1000000");
  EXPECT_EQ(Hex(0x42, 0xCA, 0xA6, 0x66, 9), "101.32499");
  EXPECT_EQ(Hex(0xC0, 0x70, 0x00, 0x00, 9), "-3.75");
  EXPECT_EQ(CutTo(FormatGeneral(static_cast<float>(1.5e-6)), 9), "1.5000000");
}

// The line decoder writes values into its line: each form lands after what is there already.
TEST(FormatGeneral, AppendedAfterTheTextBeforeIt) {
  std::string line = "v";
  for (double v : {-0.0, 1e-5, 0.00012, 123.25, 1e15, -std::numeric_limits<double>::infinity()}) {
    line += ' ';
    AppendGeneral(line, v, ",");
  }
  EXPECT_EQ(line, "v 0 1E-5 0,00012 123,25 1E15 -INF");
}

TEST(FormatGeneral, CalculatorExamplesCutToTen) {
  EXPECT_EQ(Hex(0x3F, 0x80, 0x00, 0x00, 10), "1");
  EXPECT_EQ(Hex(0x41, 0x20, 0x00, 0x00, 10), "10");
  EXPECT_EQ(Hex(0xC2, 0xC8, 0x00, 0x00, 10), "-100");
  EXPECT_EQ(Hex(0x3F, 0x00, 0x00, 0x00, 10), "0.5");
  EXPECT_EQ(FormatGeneral(FloatFromBytes(0x40, 0x49, 0x0F, 0xDB)), "3.14159274101257");
  EXPECT_EQ(Hex(0x40, 0x49, 0x0F, 0xDB, 10), "3.14159274");
  EXPECT_EQ(Hex(0x3D, 0xCC, 0xCC, 0xCD, 10), "0.10000000");
  EXPECT_EQ(Hex(0x4E, 0x6E, 0x6B, 0x28, 10), "1000000000");
  EXPECT_EQ(Hex(0x00, 0x00, 0x00, 0x00, 10), "0");
  EXPECT_EQ(Hex(0x80, 0x00, 0x00, 0x00, 10), "0");
  EXPECT_EQ(Hex(0x7F, 0x80, 0x00, 0x00, 10), "INF");
  EXPECT_EQ(Hex(0xFF, 0x80, 0x00, 0x00, 10), "-INF");
  EXPECT_EQ(Hex(0xFF, 0xFF, 0xFF, 0xFF, 10), "-NAN");
  EXPECT_EQ(Hex(0x7F, 0xC0, 0x00, 0x00, 10), "NAN");
  EXPECT_EQ(Hex(0x5A, 0x0E, 0x1B, 0xCA, 10), "1.00000002");
  EXPECT_EQ(Hex(0x38, 0xD1, 0xB7, 0x17, 10), "9.99999974");
}

TEST(FormatGeneral, FixedAndScientificBoundaries) {
  EXPECT_EQ(FormatGeneral(0.0001), "0.0001");
  EXPECT_EQ(FormatGeneral(0.00009), "9E-5");
  EXPECT_EQ(FormatGeneral(-0.00012345), "-0.00012345");
  EXPECT_EQ(FormatGeneral(1e15), "1E15");
  EXPECT_EQ(FormatGeneral(999999999999999.0), "999999999999999");
  EXPECT_EQ(FormatGeneral(1e14), "100000000000000");
  // Rounding to 15 digits can carry into the next power of ten.
  EXPECT_EQ(FormatGeneral(9999999999999999.0), "1E16");
  EXPECT_EQ(FormatGeneral(0.000099999999999999999), "0.0001");
  EXPECT_EQ(FormatGeneral(1.5e-6), "1.5E-6");
  EXPECT_EQ(FormatGeneral(-2.5e20), "-2.5E20");
  EXPECT_EQ(FormatGeneral(123.456), "123.456");
  EXPECT_EQ(FormatGeneral(-0.0), "0");
  EXPECT_EQ(FormatGeneral(1.0 / 3.0), "0.333333333333333");
}

TEST(FormatGeneral, SubnormalsAndExtremesOfSinglePrecision) {
  EXPECT_EQ(FormatGeneral(FloatFromBytes(0x00, 0x00, 0x00, 0x01)), "1.40129846432482E-45");
  EXPECT_EQ(FormatGeneral(FloatFromBytes(0x80, 0x00, 0x00, 0x01)), "-1.40129846432482E-45");
  EXPECT_EQ(FormatGeneral(FloatFromBytes(0x7F, 0x7F, 0xFF, 0xFF)), "3.40282346638529E38");
  EXPECT_EQ(FormatGeneral(FloatFromBytes(0x00, 0x80, 0x00, 0x00)), "1.17549435082229E-38");
}

TEST(FormatGeneral, UsesTheGivenDecimalSeparator) {
  EXPECT_EQ(FormatGeneral(12.5, ","), "12,5");
  EXPECT_EQ(FormatGeneral(1.5e-6, ","), "1,5E-6");
  EXPECT_EQ(FormatGeneral(0.25, ","), "0,25");
  // A separator of several bytes is kept whole, and the cut counts it as one character.
  const std::string arabic = "\u066B";
  EXPECT_EQ(FormatGeneral(-3.75, arabic), "-3" + arabic + "75");
  EXPECT_EQ(CutTo(FormatGeneral(FloatFromBytes(0x3D, 0xCC, 0xCC, 0xCD), arabic), 9), "0" + arabic + "1000000");
  EXPECT_EQ(CutTo("1" + arabic, 1), "1");
}

}  // namespace
