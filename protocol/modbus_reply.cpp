#include "protocol/modbus_reply.h"

#include <string>

#include "protocol/config_frame.h"
#include "protocol/int_text.h"
#include "protocol/module_layouts.h"

namespace {

namespace L = module_layout;
using F = ModbusReplyField;

// A digit's position or a number's value, with the shared conversion's message naming the
// characters when they are not digits.
int Position(const L::ReplyGroup &group, size_t value) {
  if (const auto position = group.Position(value)) return *position;
  throw EConvertError(NotAnIntegerMessage(std::string(group.Text(value))));
}

void Coefficient(std::string_view r, ModbusReplySink &sink) {
  const auto g = L::FindGroup(r, L::kCoefficient);
  if (!g) return;
  sink.SetPosition(F::CoefficientMode, Position(*g, 0));
  sink.SetText(F::CoefficientFactor, g->Text(1));
}

void MeterProfile(std::string_view r, ModbusReplySink &sink) {
  const auto g = L::FindGroup(r, L::kMeterProfile);
  if (!g) return;
  // Value 0 is the meter.
  sink.SetPosition(F::Enabled, Position(*g, 1));
  sink.SetPosition(F::DeviceMode, Position(*g, 2));
  sink.SetPosition(F::MeterType, Position(*g, 3));
  sink.SetPosition(F::Preamble, Position(*g, 4));
  sink.SetText(F::ClearTime, g->Text(5));
}

void DataFormat(std::string_view r, ModbusReplySink &sink) {
  const auto g = L::FindGroup(r, L::kDataFormatGroup);
  if (!g) return;
  const F boxes[] = {F::Format1, F::Format3, F::Format5, F::Format7, F::Format9};
  for (size_t i = 0; i < 5; ++i) sink.SetPosition(boxes[i], Position(*g, 1 + i));
}

void CustomFormat(std::string_view r, ModbusReplySink &sink) {
  const auto g = L::FindGroup(r, L::kParsingFormatGroup);
  if (!g) return;
  sink.SetPosition(F::AddressBits, Position(*g, 1));
  const F rows[4][L::kParsingRowValues] = {{F::Command1, F::StartAddress1, F::Length1},
                                           {F::Command3, F::StartAddress3, F::Length3},
                                           {F::Command5, F::StartAddress5, F::Length5},
                                           {F::Command7, F::StartAddress7, F::Length7}};
  for (size_t v = 0; v < 4; ++v) {
    const size_t first = 2 + L::kParsingRowValues * v;
    sink.SetPosition(rows[v][0], Position(*g, first));
    sink.SetText(rows[v][1], g->Text(first + 1));
    sink.SetPosition(rows[v][2], Position(*g, first + 2));
  }
}

void OperationMode(std::string_view r, ModbusReplySink &sink) {
  const auto g = L::FindGroup(r, L::kWorkingMode);
  if (!g) return;
  sink.SetPosition(F::OperationMode, Position(*g, 0));
}

void CustomCommand(std::string_view r, char command, F onOff, F bytes, ModbusReplySink &sink) {
  // Values: the meter, the command, its switch, the byte count, the bytes.
  const auto g = L::FindGroup(r, L::kCustomCommand, command);
  if (!g) return;
  const std::string_view count = g->Text(3);
  for (char c : count) {
    if (c >= '0' && c <= '9') continue;
    // Applied in reading order: the switch first, then the count fails on its first non-digit.
    sink.SetPosition(onOff, Position(*g, 2));
    throw EConvertError(NotAnIntegerMessage(std::string(1, c)));
  }
  const size_t n = static_cast<size_t>(Position(*g, 3));
  const size_t textLength = L::HexPairsLength(n);
  const size_t payload = g->Key() + L::kCustomCommand.FirstOf(L::Kind::Payload).at;
  if (n > 0 && !ReplyField(r, payload, textLength)) return;  // cut short by the end of the reply
  sink.SetPosition(onOff, Position(*g, 2));
  sink.SetText(bytes, n == 0 ? std::string_view() : r.substr(payload, textLength));
}

}  // namespace

void ApplyModbusParameterReply(std::string_view reply, ModbusReplySink &sink) {
  if (!FindReplyKey(reply, L::kMeterReplyMarker)) return;
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
