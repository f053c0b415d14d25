// The module's answer to the MODBUS parameter query ("QQQ#QQ<d>#"): keyed groups with values at
// fixed distances from the key. Each group is searched afresh from the first character, so the
// groups may come in any order; the first occurrence of a key wins.
#pragma once

#include <string_view>

// What a group carries, in the order the parse sets it.
enum class ModbusReplyField {
  CoefficientMode,    // FMW: digit
  CoefficientFactor,  // FMW: five characters
  Enabled,            // HART: digit
  DeviceMode,         // HART: digit
  MeterType,          // HART: two digits
  Preamble,           // HART: digit minus 4 ("4" is the first item)
  ClearTime,          // HART: three characters
  Format1,            // DFO: five digits
  Format3,
  Format5,
  Format7,
  Format9,
  AddressBits,        // ZDY: digit minus 3 ("3" is the first item)
  Command1,           // ZDY: per variable a command digit, two address characters and a length digit
  StartAddress1,
  Length1,
  Command3,
  StartAddress3,
  Length3,
  Command5,
  StartAddress5,
  Length5,
  Command7,
  StartAddress7,
  Length7,
  OperationMode,      // MD: digit
  Command1Switch,     // CAMD with command "1": digit
  Command1Bytes,      //   the bytes as hexadecimal pairs separated by blanks
  Command2Switch,     // CAMD with command "2"
  Command2Bytes,
};

// Receives the values as they are read. A position may lie outside the control's list.
class ModbusReplySink {
 public:
  virtual ~ModbusReplySink() = default;
  virtual void SetPosition(ModbusReplyField field, int position) = 0;
  virtual void SetText(ModbusReplyField field, std::string_view text) = 0;
  // The custom-meter groups (ZDY, MD, CAMD) apply only while the meter type is 0.
  virtual int SelectedMeterType() const = 0;  // -1 when none is selected
  virtual void ShowCustomParsing(bool shown) = 0;
};

// Does nothing unless the reply holds "QQ". A group whose key is missing, or that the end of the
// reply cuts short, is skipped. A character read as a number that is not a decimal digit throws
// EConvertError naming it; what was set before stays set.
void ApplyModbusParameterReply(std::string_view reply, ModbusReplySink &sink);
