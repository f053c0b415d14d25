// The codes of a HART frame, named once for every part of the program: the preamble byte, the
// delimiter and its bits, the address bits, the command numbers, the response codes of the first
// status byte and the device status bits of the second.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace hart {

constexpr uint8_t kPreamble = 0xFF;

// Delimiter: bit 7 a long (five-byte) address, bits 0-2 the frame type.
constexpr uint8_t kLongAddressFrame = 0x80;
constexpr uint8_t kFrameTypeMask = 0x07;
constexpr uint8_t kBurstFrame = 0x01;    // an instrument in burst mode
constexpr uint8_t kRequestFrame = 0x02;  // master to instrument
constexpr uint8_t kReplyFrame = 0x06;    // instrument to master
// Bits 3-6 (expansion bytes, physical layer) are 0 in every frame this program meets.
constexpr uint8_t kDelimiterReservedMask = 0x78;

constexpr uint8_t kShortRequest = kRequestFrame;
constexpr uint8_t kLongRequest = kLongAddressFrame | kRequestFrame;
constexpr uint8_t kShortReply = kReplyFrame;
constexpr uint8_t kLongReply = kLongAddressFrame | kReplyFrame;
constexpr uint8_t kShortBurst = kBurstFrame;
constexpr uint8_t kLongBurst = kLongAddressFrame | kBurstFrame;

// First address byte: the master's bit and the burst bit above the polling address (short frame)
// or the manufacturer identifier's low six bits (long frame).
constexpr uint8_t kPrimaryMaster = 0x80;
constexpr uint8_t kBurstMode = 0x40;
constexpr uint8_t kAddressMask = 0x3F;
constexpr size_t kShortAddressLength = 1;
constexpr size_t kLongAddressLength = 5;

// A byte count is one byte: no frame carries more data than this.
constexpr size_t kMaxDataBytes = 255;

// The number of preambles before a frame, in either direction.
constexpr int kMinPreambles = 5;
constexpr int kMaxPreambles = 20;

// A floating-point value whose first byte is this is HART's not-a-number (7F A0 00 00) or beyond
// every number; the program shows none of them as a value.
constexpr uint8_t kNotANumberFirstByte = 0x7F;

// Command numbers: the universal commands, then the common-practice ones.
enum Command : uint8_t {
  kReadUniqueIdentifier = 0,
  kReadPrimaryVariable = 1,
  kReadLoopCurrentAndPercent = 2,
  kReadDynamicVariables = 3,
  kWritePollingAddress = 6,
  kReadLoopConfiguration = 7,
  kReadDynamicVariableClassifications = 8,
  kReadDeviceVariablesWithStatus = 9,
  kReadUniqueIdentifierWithTag = 11,
  kReadMessage = 12,
  kReadTagDescriptorDate = 13,
  kReadTransducerInformation = 14,
  kReadDeviceInformation = 15,
  kReadFinalAssemblyNumber = 16,
  kWriteMessage = 17,
  kWriteTagDescriptorDate = 18,
  kWriteFinalAssemblyNumber = 19,
  kReadLongTag = 20,
  kReadUniqueIdentifierWithLongTag = 21,
  kWriteLongTag = 22,
  kReadDeviceVariables = 33,
  kWriteDampingValue = 34,
  kWriteRangeValues = 35,
  kResetConfigurationChanged = 38,
  kEnterExitFixedCurrent = 40,
  kPerformDeviceReset = 42,
  kWritePrimaryVariableUnits = 44,
  kTrimLoopCurrentZero = 45,
  kTrimLoopCurrentGain = 46,
  kReadAdditionalDeviceStatus = 48,
  kWriteResponsePreambles = 59,
};

// The name of a command this program knows ("read dynamic variables and loop current"); "" for others.
const char *CommandName(int command);

// Response codes of the first status byte (when its bit 7 is clear). Codes 1-127 mean different
// things for different commands; these are the ones every command shares.
enum ResponseCode : uint8_t {
  kSuccess = 0,
  kInvalidSelection = 2,
  kParameterTooLarge = 3,
  kParameterTooSmall = 4,
  kTooFewDataBytes = 5,
  kDeviceSpecificCommandError = 6,
  kInWriteProtectMode = 7,
  kAccessRestricted = 16,
  kBusy = 32,
  kDelayedResponseInitiated = 33,
  kDelayedResponseRunning = 34,
  kDelayedResponseDead = 35,
  kDelayedResponseConflict = 36,
  kCommandNotImplemented = 64,
};

// Response codes whose meaning depends on the command, for the commands that use them.
enum CommandResponseCode : uint8_t {
  kSetToNearestPossibleValue = 8,         // a warning: the value was taken, rounded (34, 59)
  kConfigurationChangeCounterMismatch = 9,  // 38
  kLowerRangeValueTooHigh = 9,            // 35
  kLowerRangeValueTooLow = 10,            // 35
  kUpperRangeValueTooHigh = 11,           // 35
  kInMultidropMode = 11,                  // 40
  kUpperRangeValueTooLow = 12,            // 35
  kRangeValuesOutOfLimits = 13,           // 35
  kSpanTooSmall = 14,                     // a warning (35)
  kInvalidSpan = 29,                      // 35
  kResponseTruncated = 30,                // a warning: fewer device variables than asked (9)
};
// ResponseCodeText, with the meaning a code has for `command` where it depends on the command:
// "11 upper range value too high" for command 35, "11 in multidrop mode" for command 40.
std::string ResponseCodeText(uint8_t code, int command);

// Bit 7 of the first status byte: the instrument did not receive the request right; the other bits
// then say how, instead of a response code.
constexpr uint8_t kCommunicationError = 0x80;
enum CommunicationErrorBit : uint8_t {
  kVerticalParityError = 0x40,
  kOverrunError = 0x20,
  kFramingError = 0x10,
  kLongitudinalParityError = 0x08,
  kBufferOverflow = 0x02,
};

// A response code that reports data together with a warning rather than a refusal.
bool IsWarningCode(uint8_t code);
// "7 in write-protect mode", "64 command not implemented"; "9 command-specific error" for a code
// whose meaning depends on the command.
std::string ResponseCodeText(uint8_t code);
// The communication errors of a first status byte with bit 7 set, named ("framing error, overrun error").
std::string CommunicationErrorText(uint8_t status);

// Device status, the second status byte.
enum DeviceStatusBit : uint8_t {
  kPrimaryVariableOutOfLimits = 0x01,
  kNonPrimaryVariableOutOfLimits = 0x02,
  kLoopCurrentSaturated = 0x04,
  kLoopCurrentFixed = 0x08,
  kMoreStatusAvailable = 0x10,
  kColdStart = 0x20,
  kConfigurationChanged = 0x40,
  kDeviceMalfunction = 0x80,
};
// Device variable codes that stand for a role rather than a variable of the instrument (command 9).
enum DeviceVariableCode : uint8_t {
  kPercentOfRangeVariable = 244,
  kLoopCurrentVariable = 245,
  kPrimaryVariableCode = 246,
  kSecondaryVariableCode = 247,
  kTertiaryVariableCode = 248,
  kQuaternaryVariableCode = 249,
};
// The status byte of a device variable (command 9): bits 6-7 the quality of its value.
constexpr uint8_t kVariableQualityMask = 0xC0;
enum VariableQuality : uint8_t {
  kVariableBad = 0x00,
  kVariablePoorAccuracy = 0x40,
  kVariableFixed = 0x80,  // manual or fixed
  kVariableGood = 0xC0,
};
constexpr uint8_t kVariableLimitConstant = 0x30;

// Unit codes with a meaning of their own beyond the unit lists.
constexpr uint8_t kUnitMilliampere = 39;
constexpr uint8_t kUnitPercent = 57;
constexpr uint8_t kUnitNotUsed = 250;

// Command 15's write-protect code.
constexpr uint8_t kNotWriteProtected = 0;
constexpr uint8_t kWriteProtected = 1;

// Dates travel as day, month and the year less this.
constexpr int kDateYearBase = 1900;

// Command 40 with this current leaves fixed current mode.
constexpr float kLeaveFixedCurrent = 0.0f;

// The name of one device status bit ("loop current fixed"); "" for a value that is not one bit.
const char *DeviceStatusBitName(uint8_t bit);
// The bits set, from the most significant, joined by ", "; "" when none is.
std::string DeviceStatusText(uint8_t status);

}  // namespace hart
