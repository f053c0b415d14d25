#include "protocol/module_frames.h"

#include "protocol/config_frame.h"

namespace {

// Appends a frame's pieces, reporting the values that do not fit.
class Builder {
 public:
  Builder &Text(std::string_view text) {
    frame_.bytes += text;
    return *this;
  }
  Builder &Byte(uint8_t byte) {
    frame_.bytes += static_cast<char>(byte);
    return *this;
  }
  // A position as one digit; `first` is the digit of the list's first item.
  Builder &Digit(size_t field, int position, char first = '0') {
    const auto digit = first == '0' ? IndexDigit(position) : OffsetDigit(position, first);
    if (!digit) Problem(field, position, 0, '9' - first);
    return Byte(digit.value_or('0'));
  }
  Builder &TwoDigits(size_t field, int32_t value) {
    const auto digits = TwoDigitDecimal(value);
    if (!digits) Problem(field, value, 0, 99);
    const auto out = digits.value_or(std::array<uint8_t, 2>{'0', '0'});
    frame_.bytes.append(out.begin(), out.end());
    return *this;
  }
  Builder &ThreeDigits(size_t field, int32_t value) {
    const auto digits = ThreeDigitDecimal(value);
    if (!digits) Problem(field, value, 0, 999);
    const auto out = digits.value_or(std::array<uint8_t, 3>{'0', '0', '0'});
    frame_.bytes.append(out.begin(), out.end());
    return *this;
  }
  ModuleFrame Done() { return std::move(frame_); }

 private:
  void Problem(size_t field, int32_t value, int32_t low, int32_t high) {
    frame_.problems.push_back({field, value, low, high});
  }
  ModuleFrame frame_;
};

// A MODBUS-side setting: its key, then the meter as one digit (field 0).
Builder MeterSetting(std::string_view key, int device) {
  Builder b;
  b.Text(key).Digit(0, device);
  return b;
}

}  // namespace

std::string CommunicationQueryFrame() { return "QQQ#QV#"; }
std::string SystemParameterQueryFrame() { return "QQQ#QX#"; }
std::string AdChannelQueryFrame() { return "QQQ#QVAL#"; }
std::string ParameterResetFrame() { return "QQS#RESET#"; }

ModuleFrame MeterQueryFrame(int device) { return MeterSetting("QQQ#QQ", device).Text("#").Done(); }

ModuleFrame SlaveAddressFrame(int32_t address) { return Builder().Text("QQS#ADR:").ThreeDigits(0, address).Text("#").Done(); }

ModuleFrame WorkingModeFrame(int mode) { return Builder().Text("QQS#MD:").Digit(0, mode).Text("#").Done(); }

ModuleFrame ReturnTimeFrame(int position) { return Builder().Text("QQS#XY:").Digit(0, position).Text("#").Done(); }

ModuleFrame HartIntervalFrame(int32_t interval) {
  return Builder().Text("QQS#JTM:").ThreeDigits(0, interval).Text("#").Done();
}

ModuleFrame LineSettingFrame(int baudPosition, int parityPosition) {
  return Builder().Text("QQS#BA2:").Digit(0, baudPosition).Digit(1, parityPosition).Text("#").Done();
}

ModuleFrame MeterProfileFrame(int device, int enabled, int deviceMode, int meterType, int preamblePosition,
                              int32_t clearTime) {
  return MeterSetting("QQS#HART", device)
      .Text(":")
      .Digit(1, enabled)
      .Text(",")
      .Digit(2, deviceMode)
      .Text(",")
      .TwoDigits(3, meterType)
      .Text(",")
      .Digit(4, preamblePosition, '4')
      .Text(",")
      .ThreeDigits(5, clearTime)
      .Text("#")
      .Done();
}

ModuleFrame DataFormatFrame(int device, const std::array<int, 5> &formats) {
  Builder b = MeterSetting("QQS#DFOT", device);
  b.Text(":");
  for (size_t i = 0; i < formats.size(); ++i) b.Digit(1 + i, formats[i]);
  return b.Text("#").Done();
}

ModuleFrame CoefficientFrame(int mode, std::string_view factor) {
  return Builder().Text("QQS#FMW:").Digit(0, mode).Text(",").Text(factor).Text("#").Done();
}

ModuleFrame CustomCommandFrame(int device, char command, int enabled, const std::vector<uint8_t> &bytes) {
  Builder b = MeterSetting("QQS#CAMD", device);
  b.Byte(static_cast<uint8_t>(command))
      .Text(":")
      .Digit(1, enabled)
      .Text("<")
      .TwoDigits(2, static_cast<int32_t>(bytes.size()))
      .Text(",");
  for (uint8_t byte : bytes) b.Byte(byte);
  return b.Done();
}

ModuleFrame ParsingFormatFrame(int device, int addressBitsPosition, const std::array<ParsingRow, 4> &rows) {
  Builder b = MeterSetting("QQS#MDBS", device);
  b.Text(":").Digit(1, addressBitsPosition, '3');
  for (size_t v = 0; v < rows.size(); ++v) {
    const size_t field = 2 + 3 * v;
    b.Text(",").Digit(field, rows[v].command).TwoDigits(field + 1, rows[v].start).Digit(field + 2, rows[v].length);
  }
  return b.Text("#").Done();
}

std::string TotalizerFrame(std::string_view upper, std::string_view lower, std::string_view start) {
  return "KORVEN#AIN1:" + std::string(upper) + "," + std::string(lower) + "," + std::string(start) + "#";
}

std::string CutoffFrame(std::string_view cutoff) { return "KORVEN#ZOM:" + std::string(cutoff) + "#"; }

std::string IntegerLsdFrame(int32_t value) { return "KORVEN#LPN:" + PaddedDecimalUnsigned(value, 8) + "#"; }

std::string DecimalLsdFrame(std::string_view value) { return "KORVEN#LPF:" + std::string(value) + "#"; }

std::string CoefficientFactorFrame(int32_t value) { return "KORVEN#ADX:" + PaddedDecimalUnsigned(value, 4) + "#"; }

std::string BoardDataFrame(int32_t serial, int32_t inspector) {
  return "KORVEN#PCBSN:" + PaddedDecimal(serial, 8) + "," + PaddedDecimal(inspector, 3) + "#";
}
