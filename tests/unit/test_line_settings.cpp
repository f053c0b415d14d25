// TComm's line settings without a port: each property's flags in the terminal's settings. A
// pseudo-terminal ignores some of them (CRTSCTS, CMSPAR), so only here can a wrong one show.
#include "serial/line_settings.h"
#include "serial/termios2_baud.h"

#include <gtest/gtest.h>

namespace {

// Settings a port might come with: cooked, 7 data bits, flow control, 1200 baud.
termios Cooked() {
  termios t{};
  t.c_iflag = ICRNL | IXANY | ISTRIP | BRKINT | IXON;
  t.c_oflag = OPOST | ONLCR;
  t.c_lflag = ICANON | ECHO | ISIG;
  t.c_cflag = CS7 | PARENB | CRTSCTS | CMSPAR;
  cfsetispeed(&t, B1200);
  cfsetospeed(&t, B1200);
  return t;
}

LineProperties LikeTheWindow() {
  LineProperties p;
  p.outxXonXoffFlow = false;
  p.inxXonXoffFlow = false;
  p.rtsControl = TRtsControl::RtsDisable;
  return p;
}

tcflag_t Parity(const termios &t) { return t.c_cflag & (PARENB | PARODD | CMSPAR); }

TEST(LineSettings, TheWindowsPortIsRawEightBitsNoParityOneStopNoFlowControl) {
  const termios t = LineTermios(LikeTheWindow(), Cooked());
  EXPECT_EQ(t.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
  EXPECT_EQ(t.c_cflag & (PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS), 0u);
  EXPECT_EQ(t.c_cflag & (CLOCAL | CREAD), static_cast<tcflag_t>(CLOCAL | CREAD));
  EXPECT_EQ(t.c_iflag & (IXON | IXOFF | IXANY | INPCK | ICRNL | ISTRIP | BRKINT), 0u);
  EXPECT_EQ(t.c_lflag & (ICANON | ECHO | ISIG), 0u);
  EXPECT_EQ(t.c_oflag & OPOST, 0u);
  EXPECT_EQ(cfgetispeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B9600));
  EXPECT_EQ(t.c_cc[VMIN], 1);
  EXPECT_EQ(t.c_cc[VTIME], 0);
}

TEST(LineSettings, EachPropertySetsItsOwnFlags) {
  const std::pair<TParity, tcflag_t> parities[] = {{TParity::None, 0},
                                                   {TParity::Odd, PARENB | PARODD},
                                                   {TParity::Even, PARENB},
                                                   {TParity::Mark, PARENB | CMSPAR | PARODD},
                                                   {TParity::Space, PARENB | CMSPAR}};
  for (const auto &[parity, flags] : parities) {
    LineProperties p = LikeTheWindow();
    p.parity = parity;
    EXPECT_EQ(Parity(LineTermios(p, Cooked())), flags) << static_cast<int>(parity);
  }
  const std::pair<TByteSize, tcflag_t> sizes[] = {
      {TByteSize::_5, CS5}, {TByteSize::_6, CS6}, {TByteSize::_7, CS7}, {TByteSize::_8, CS8}};
  for (const auto &[size, flag] : sizes) {
    LineProperties p = LikeTheWindow();
    p.byteSize = size;
    EXPECT_EQ(LineTermios(p, Cooked()).c_cflag & CSIZE, flag);
  }
  for (TStopBits stop : {TStopBits::_1_5, TStopBits::_2}) {
    LineProperties p = LikeTheWindow();
    p.stopBits = stop;
    EXPECT_TRUE(LineTermios(p, Cooked()).c_cflag & CSTOPB);
  }

  // CTS flow control, and RTS handshaking, are CRTSCTS; RTS on while sending is not.
  LineProperties p = LikeTheWindow();
  p.outxCtsFlow = true;
  EXPECT_TRUE(LineTermios(p, Cooked()).c_cflag & CRTSCTS);
  p = LikeTheWindow();
  p.rtsControl = TRtsControl::RtsHandshake;
  EXPECT_TRUE(LineTermios(p, Cooked()).c_cflag & CRTSCTS);
  p.rtsControl = TRtsControl::RtsTransmissionAvailable;
  EXPECT_FALSE(LineTermios(p, Cooked()).c_cflag & CRTSCTS);

  p = LikeTheWindow();
  p.parityCheck = true;
  p.outxXonXoffFlow = true;
  p.xonChar = 'Q';
  p.xoffChar = 'S';
  const termios t = LineTermios(p, Cooked());
  EXPECT_EQ(t.c_iflag & (INPCK | IXON | IXOFF), static_cast<tcflag_t>(INPCK | IXON));
  EXPECT_EQ(t.c_cc[VSTART], 'Q');
  EXPECT_EQ(t.c_cc[VSTOP], 'S');
  p.outxXonXoffFlow = false;
  p.inxXonXoffFlow = true;
  EXPECT_EQ(LineTermios(p, Cooked()).c_iflag & (IXON | IXOFF), static_cast<tcflag_t>(IXOFF));
}

TEST(LineSettings, RatesWithoutAConstantGoThroughTermios2) {
  LineProperties p = LikeTheWindow();
  for (uint32_t baud : {15200u, 0u}) {
    p.baudRate = baud;
    EXPECT_EQ(SpeedConstant(baud), static_cast<speed_t>(B0));
    const termios t = LineTermios(p, Cooked());
    EXPECT_EQ(cfgetospeed(&t), static_cast<speed_t>(B1200)) << baud << " leaves the speed as it was";
  }
  p.baudRate = 115200;
  const termios fast = LineTermios(p, Cooked());
  EXPECT_EQ(cfgetospeed(&fast), static_cast<speed_t>(B115200));

  // termios2: the speed fields of both directions are BOTHER (0x1000; input ones 16 bits up).
  const uint32_t cflag = CS8 | CLOCAL | B9600 | (B9600 << 16);
  EXPECT_EQ(serial_detail::ArbitraryBaudFlags(cflag), (CS8 | CLOCAL | 0x1000u | (0x1000u << 16)));
}

}  // namespace
