// The converter module's configuration frames ("QQQ#" queries, "QQS#" settings, "KORVEN#" factory
// commands), built from the values they carry as their layouts (module_layouts.h) say, for the
// window and for rq735ctl.
//
// Values are positions in their lists (counted from 0) or numbers. A value that its field cannot
// carry is reported as a FieldProblem and stands as '0' digits in the frame, which must then not
// be sent.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct FieldProblem {
  size_t field;  // which value, counting from 0 the digits and numbers among the builder's arguments
  int32_t value;
  int32_t low, high;  // what the field can carry
};

struct ModuleFrame {
  std::string bytes;
  std::vector<FieldProblem> problems;  // in the order of the frame
};

// Queries and the parameter reset: no values.
std::string CommunicationQueryFrame();   // QQQ#QV#
std::string SystemParameterQueryFrame(); // QQQ#QX#
std::string AdChannelQueryFrame();       // QQQ#QVAL#
std::string ParameterResetFrame();       // QQS#RESET#

// The MODBUS-side parameters of meter `device` (0 to 9).
ModuleFrame MeterQueryFrame(int device);

// System settings.
ModuleFrame SlaveAddressFrame(int32_t address);                    // 0 to 999
ModuleFrame WorkingModeFrame(int mode);                            // position, 0 to 9
ModuleFrame ReturnTimeFrame(int position);                         // 0 to 9
ModuleFrame HartIntervalFrame(int32_t interval);                   // tens of ms, 0 to 999
ModuleFrame LineSettingFrame(int baudPosition, int parityPosition);  // the RS485 line

// MODBUS-side settings of meter `device`. Preamble and address-bits positions count from the first
// item of their lists, "4" and "3": the byte sent is that item's text.
ModuleFrame MeterProfileFrame(int device, int enabled, int deviceMode, int meterType, int preamblePosition,
                              int32_t clearTime);
ModuleFrame DataFormatFrame(int device, const std::array<int, 5> &formats);
// `factor` goes as it is: the module takes exactly five characters (the caller sees to that).
ModuleFrame CoefficientFrame(int mode, std::string_view factor);
// Custom read command `command` (1 or 2): on or off, and its bytes (no closing "#").
ModuleFrame CustomCommandFrame(int device, char command, int enabled, const std::vector<uint8_t> &bytes);
struct ParsingRow {
  int command;    // position: 0 not analytic, 1 command 1, 2 command 2
  int32_t start;  // start address, 0 to 99
  int length;     // position: 0 four bytes, 1 eight bytes
};
ModuleFrame ParsingFormatFrame(int device, int addressBitsPosition, const std::array<ParsingRow, 4> &rows);

// Factory commands, built as text from the boxes' texts or numbers.
std::string TotalizerFrame(std::string_view upper, std::string_view lower, std::string_view start);
std::string CutoffFrame(std::string_view cutoff);
std::string IntegerLsdFrame(int32_t value);        // padded to 8 digits, as an unsigned 32-bit value
std::string DecimalLsdFrame(std::string_view value);
std::string CoefficientFactorFrame(int32_t value);  // padded to 4 digits, as an unsigned 32-bit value
std::string BoardDataFrame(int32_t serial, int32_t inspector);
