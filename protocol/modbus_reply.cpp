#include "protocol/modbus_reply.h"

#include <optional>
#include <string>

#include "protocol/config_frame.h"
#include "protocol/int_text.h"

namespace {

constexpr char kAny = '?';  // matches any character in a key pattern

using F = ModbusReplyField;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One character as a list position, with the shared conversion's message when it is not a digit.
int Digit(std::string_view reply, size_t at) {
  const char c = reply[at];
  if (!IsDigit(c)) throw EConvertError(NotAnIntegerMessage(std::string(1, c)));
  return c - '0';
}

// Two characters as one decimal number.
int TwoDigits(std::string_view reply, size_t at) {
  if (!IsDigit(reply[at]) || !IsDigit(reply[at + 1]))
    throw EConvertError(NotAnIntegerMessage(std::string(reply.substr(at, 2))));
  return (reply[at] - '0') * 10 + (reply[at + 1] - '0');
}

// Where the group's key starts, when the key is there and the reply holds `length` characters from
// that point.
std::optional<size_t> FindGroup(std::string_view reply, std::string_view pattern, size_t length) {
  auto k = FindReplyKey(reply, pattern, kAny);
  if (!k || !ReplyField(reply, *k, length)) return std::nullopt;
  return k;
}

void Coefficient(std::string_view r, ModbusReplySink &sink) {
  auto k = FindGroup(r, "FMW:", 11);
  if (!k) return;
  sink.SetPosition(F::CoefficientMode, Digit(r, *k + 4));
  sink.SetText(F::CoefficientFactor, r.substr(*k + 6, 5));
}

void MeterProfile(std::string_view r, ModbusReplySink &sink) {
  auto k = FindGroup(r, "HART?:", 18);
  if (!k) return;
  sink.SetPosition(F::Enabled, Digit(r, *k + 6));
  sink.SetPosition(F::DeviceMode, Digit(r, *k + 8));
  sink.SetPosition(F::MeterType, TwoDigits(r, *k + 10));
  sink.SetPosition(F::Preamble, Digit(r, *k + 13) - 4);
  sink.SetText(F::ClearTime, r.substr(*k + 15, 3));
}

void DataFormat(std::string_view r, ModbusReplySink &sink) {
  auto k = FindGroup(r, "DFO?:", 10);
  if (!k) return;
  const F boxes[] = {F::Format1, F::Format3, F::Format5, F::Format7, F::Format9};
  for (size_t i = 0; i < 5; ++i) sink.SetPosition(boxes[i], Digit(r, *k + 5 + i));
}

void CustomFormat(std::string_view r, ModbusReplySink &sink) {
  auto k = FindGroup(r, "ZDY?:", 26);
  if (!k) return;
  sink.SetPosition(F::AddressBits, Digit(r, *k + 5) - 3);
  const F rows[4][3] = {{F::Command1, F::StartAddress1, F::Length1},
                        {F::Command3, F::StartAddress3, F::Length3},
                        {F::Command5, F::StartAddress5, F::Length5},
                        {F::Command7, F::StartAddress7, F::Length7}};
  for (size_t v = 0; v < 4; ++v) {
    const size_t at = *k + 7 + 5 * v;
    sink.SetPosition(rows[v][0], Digit(r, at));
    sink.SetText(rows[v][1], r.substr(at + 1, 2));
    sink.SetPosition(rows[v][2], Digit(r, at + 3));
  }
}

void OperationMode(std::string_view r, ModbusReplySink &sink) {
  auto k = FindGroup(r, "MD:", 4);
  if (!k) return;
  sink.SetPosition(F::OperationMode, Digit(r, *k + 3));
}

void CustomCommand(std::string_view r, char command, F onOff, F bytes, ModbusReplySink &sink) {
  const char pattern[] = {'C', 'A', 'M', 'D', kAny, command, ':'};
  auto k = FindGroup(r, std::string_view(pattern, sizeof pattern), 11);
  if (!k) return;
  if (!IsDigit(r[*k + 9]) || !IsDigit(r[*k + 10])) {
    // Applied in reading order: the switch first, then the count fails.
    sink.SetPosition(onOff, Digit(r, *k + 7));
    Digit(r, *k + 9);
    Digit(r, *k + 10);
  }
  const size_t n = static_cast<size_t>((r[*k + 9] - '0') * 10 + (r[*k + 10] - '0'));
  const size_t textLength = n == 0 ? 0 : 3 * n - 1;
  if (n > 0 && !ReplyField(r, *k + 12, textLength)) return;  // cut short by the end of the reply
  sink.SetPosition(onOff, Digit(r, *k + 7));
  sink.SetText(bytes, n == 0 ? std::string_view() : r.substr(*k + 12, textLength));
}

}  // namespace

void ApplyModbusParameterReply(std::string_view reply, ModbusReplySink &sink) {
  if (!FindReplyKey(reply, "QQ")) return;
  Coefficient(reply, sink);
  MeterProfile(reply, sink);
  DataFormat(reply, sink);
  if (sink.SelectedMeterType() != 0) {
    sink.ShowCustomParsing(false);
    return;
  }
  sink.ShowCustomParsing(true);
  CustomFormat(reply, sink);
  OperationMode(reply, sink);
  CustomCommand(reply, '1', F::Command1Switch, F::Command1Bytes, sink);
  CustomCommand(reply, '2', F::Command2Switch, F::Command2Bytes, sink);
}
