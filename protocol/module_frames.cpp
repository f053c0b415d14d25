#include "protocol/module_frames.h"

#include <initializer_list>

#include "protocol/config_frame.h"
#include "protocol/module_layouts.h"

namespace {

namespace L = module_layout;

// One value of a frame, in the order of its layout: a position or a number, or text (a payload's
// bytes as characters).
struct Arg {
  Arg(int64_t n) : number(n) {}
  Arg(std::string_view t) : text(t) {}
  int64_t number = 0;
  std::string_view text;
};

std::optional<std::string> Digits(int64_t value, uint8_t width) {
  if (value < INT32_MIN || value > INT32_MAX) return std::nullopt;
  const auto v = static_cast<int32_t>(value);
  std::optional<std::string> out;
  if (width == 2) {
    if (const auto d = TwoDigitDecimal(v)) out.emplace(d->begin(), d->end());
  } else if (width == 3) {
    if (const auto d = ThreeDigitDecimal(v)) out.emplace(d->begin(), d->end());
  }
  return out;
}

// Writes the layout with its values. Digits and numbers that their field cannot carry are
// reported, numbered in the order they stand, and written as '0' digits.
ModuleFrame Build(const L::Layout &layout, std::initializer_list<Arg> args) {
  ModuleFrame frame;
  std::string &out = frame.bytes;
  out += L::Prefix(layout.form());
  const Arg *arg = args.begin();
  auto next = [&]() { return arg != args.end() ? *arg++ : Arg(int64_t{0}); };
  size_t checked = 0;
  auto problem = [&](int64_t value, int32_t high) {
    frame.problems.push_back({checked, static_cast<int32_t>(value), 0, high});
  };
  for (const L::Field &f : layout) {
    switch (f.kind) {
      case L::Kind::Literal: out += f.text; break;
      case L::Kind::Digit: {
        const int64_t position = next().number;
        const int p = position < INT32_MIN || position > INT32_MAX ? -1 : static_cast<int>(position);
        const auto digit = f.first == '0' ? IndexDigit(p) : OffsetDigit(p, f.first);
        if (!digit) problem(position, '9' - f.first);
        out += static_cast<char>(digit.value_or('0'));
        ++checked;
        break;
      }
      case L::Kind::Number:
      case L::Kind::Count: {
        const int64_t value = next().number;
        const auto digits = Digits(value, f.width);
        if (!digits) {
          int32_t high = 0;
          for (uint8_t i = 0; i < f.width; ++i) high = high * 10 + 9;
          problem(value, high);
        }
        out += digits.value_or(std::string(f.width, '0'));
        ++checked;
        break;
      }
      case L::Kind::Text:
      case L::Kind::Payload: out += next().text; break;
      case L::Kind::Padded: out += PaddedDecimal(next().number, f.width); break;
      case L::Kind::Char: out += static_cast<char>(next().number); break;
    }
  }
  if (layout.begin() == layout.end() || (layout.end() - 1)->kind != L::Kind::Payload) out += L::kFrameEnd;
  return frame;
}

int64_t AsUnsigned32(int32_t value) { return static_cast<int64_t>(static_cast<uint32_t>(value)); }

}  // namespace

std::string CommunicationQueryFrame() { return Build(L::kCommunicationQuery, {}).bytes; }
std::string SystemParameterQueryFrame() { return Build(L::kSystemParameterQuery, {}).bytes; }
std::string AdChannelQueryFrame() { return Build(L::kAdChannelQuery, {}).bytes; }
std::string ParameterResetFrame() { return Build(L::kParameterReset, {}).bytes; }

ModuleFrame MeterQueryFrame(int device) { return Build(L::kMeterQuery, {device}); }

ModuleFrame SlaveAddressFrame(int32_t address) { return Build(L::kSlaveAddress, {address}); }
ModuleFrame WorkingModeFrame(int mode) { return Build(L::kWorkingMode, {mode}); }
ModuleFrame ReturnTimeFrame(int position) { return Build(L::kReturnTime, {position}); }
ModuleFrame HartIntervalFrame(int32_t interval) { return Build(L::kHartInterval, {interval}); }
ModuleFrame LineSettingFrame(int baudPosition, int parityPosition) {
  return Build(L::kLineSetting, {baudPosition, parityPosition});
}

ModuleFrame MeterProfileFrame(int device, int enabled, int deviceMode, int meterType, int preamblePosition,
                              int32_t clearTime) {
  return Build(L::kMeterProfile, {device, enabled, deviceMode, meterType, preamblePosition, clearTime});
}

ModuleFrame DataFormatFrame(int device, const std::array<int, 5> &formats) {
  return Build(L::kDataFormat, {device, formats[0], formats[1], formats[2], formats[3], formats[4]});
}

ModuleFrame CoefficientFrame(int mode, std::string_view factor) { return Build(L::kCoefficient, {mode, factor}); }

ModuleFrame CustomCommandFrame(int device, char command, int enabled, const std::vector<uint8_t> &bytes) {
  const std::string_view payload(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return Build(L::kCustomCommand, {device, command, enabled, static_cast<int64_t>(bytes.size()), payload});
}

ModuleFrame ParsingFormatFrame(int device, int addressBitsPosition, const std::array<ParsingRow, 4> &rows) {
  return Build(L::kParsingFormat, {device, addressBitsPosition,                          //
                                   rows[0].command, rows[0].start, rows[0].length,  //
                                   rows[1].command, rows[1].start, rows[1].length,  //
                                   rows[2].command, rows[2].start, rows[2].length,  //
                                   rows[3].command, rows[3].start, rows[3].length});
}

std::string TotalizerFrame(std::string_view upper, std::string_view lower, std::string_view start) {
  return Build(L::kTotalizer, {upper, lower, start}).bytes;
}
std::string CutoffFrame(std::string_view cutoff) { return Build(L::kCutoff, {cutoff}).bytes; }
std::string IntegerLsdFrame(int32_t value) { return Build(L::kIntegerLsd, {AsUnsigned32(value)}).bytes; }
std::string DecimalLsdFrame(std::string_view value) { return Build(L::kDecimalLsd, {value}).bytes; }
std::string CoefficientFactorFrame(int32_t value) { return Build(L::kCoefficientFactor, {AsUnsigned32(value)}).bytes; }
std::string BoardDataFrame(int32_t serial, int32_t inspector) { return Build(L::kBoardData, {serial, inspector}).bytes; }
