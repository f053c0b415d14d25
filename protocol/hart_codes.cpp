#include "protocol/hart_codes.h"

namespace hart {

const char *CommandName(int command) {
  switch (command) {
    case kReadUniqueIdentifier: return "read unique identifier";
    case kReadPrimaryVariable: return "read primary variable";
    case kReadLoopCurrentAndPercent: return "read loop current and percent of range";
    case kReadDynamicVariables: return "read dynamic variables and loop current";
    case kWritePollingAddress: return "write polling address";
    case kReadLoopConfiguration: return "read loop configuration";
    case kReadDynamicVariableClassifications: return "read dynamic variable classifications";
    case kReadDeviceVariablesWithStatus: return "read device variables with status";
    case kReadUniqueIdentifierWithTag: return "read unique identifier associated with tag";
    case kReadMessage: return "read message";
    case kReadTagDescriptorDate: return "read tag, descriptor, date";
    case kReadTransducerInformation: return "read primary variable transducer information";
    case kReadDeviceInformation: return "read device information";
    case kReadFinalAssemblyNumber: return "read final assembly number";
    case kWriteMessage: return "write message";
    case kWriteTagDescriptorDate: return "write tag, descriptor, date";
    case kWriteFinalAssemblyNumber: return "write final assembly number";
    case kReadLongTag: return "read long tag";
    case kReadUniqueIdentifierWithLongTag: return "read unique identifier associated with long tag";
    case kWriteLongTag: return "write long tag";
    case kReadDeviceVariables: return "read device variables";
    case kWriteDampingValue: return "write primary variable damping value";
    case kWriteRangeValues: return "write primary variable range values";
    case kResetConfigurationChanged: return "reset configuration changed flag";
    case kEnterExitFixedCurrent: return "enter/exit fixed current mode";
    case kPerformDeviceReset: return "perform device reset";
    case kWritePrimaryVariableUnits: return "write primary variable units";
    case kTrimLoopCurrentZero: return "trim loop current zero";
    case kTrimLoopCurrentGain: return "trim loop current gain";
    case kReadAdditionalDeviceStatus: return "read additional device status";
    case kWriteResponsePreambles: return "write number of response preambles";
    default: return "";
  }
}

bool IsWarningCode(uint8_t code) {
  // The classes of the response codes: 8, 14, 24-27, 30-31 and 96-111 are warnings.
  return code == 8 || code == 14 || (code >= 24 && code <= 27) || code == 30 || code == 31 ||
         (code >= 96 && code <= 111);
}

std::string ResponseCodeText(uint8_t code) {
  const char *name = nullptr;
  switch (code) {
    case kSuccess: name = "success"; break;
    case kInvalidSelection: name = "invalid selection"; break;
    case kParameterTooLarge: name = "passed parameter too large"; break;
    case kParameterTooSmall: name = "passed parameter too small"; break;
    case kTooFewDataBytes: name = "too few data bytes received"; break;
    case kDeviceSpecificCommandError: name = "device-specific command error"; break;
    case kInWriteProtectMode: name = "in write-protect mode"; break;
    case kAccessRestricted: name = "access restricted"; break;
    case kBusy: name = "busy"; break;
    case kDelayedResponseInitiated: name = "delayed response initiated"; break;
    case kDelayedResponseRunning: name = "delayed response running"; break;
    case kDelayedResponseDead: name = "delayed response dead"; break;
    case kDelayedResponseConflict: name = "delayed response conflict"; break;
    case kCommandNotImplemented: name = "command not implemented"; break;
    default: break;
  }
  const std::string number = std::to_string(code);
  if (name) return number + " " + name;
  return number + (IsWarningCode(code) ? " command-specific warning" : " command-specific error");
}

std::string ResponseCodeText(uint8_t code, int command) {
  struct Meaning {
    uint8_t command;
    uint8_t code;
    const char *name;
  };
  static constexpr Meaning kMeanings[] = {
      {kReadDeviceVariablesWithStatus, kResponseTruncated, "command response truncated"},
      {kWriteDampingValue, kSetToNearestPossibleValue, "set to nearest possible value"},
      {kWriteRangeValues, kLowerRangeValueTooHigh, "lower range value too high"},
      {kWriteRangeValues, kLowerRangeValueTooLow, "lower range value too low"},
      {kWriteRangeValues, kUpperRangeValueTooHigh, "upper range value too high"},
      {kWriteRangeValues, kUpperRangeValueTooLow, "upper range value too low"},
      {kWriteRangeValues, kRangeValuesOutOfLimits, "upper and lower range values out of limits"},
      {kWriteRangeValues, kSpanTooSmall, "span too small"},
      {kWriteRangeValues, kInvalidSpan, "invalid span"},
      {kResetConfigurationChanged, kConfigurationChangeCounterMismatch, "configuration change counter mismatch"},
      {kEnterExitFixedCurrent, kInMultidropMode, "in multidrop mode"},
      {kWriteResponsePreambles, kSetToNearestPossibleValue, "set to nearest possible value"},
  };
  for (const Meaning &m : kMeanings)
    if (m.command == command && m.code == code) return std::to_string(code) + " " + m.name;
  return ResponseCodeText(code);
}

std::string CommunicationErrorText(uint8_t status) {
  struct Named {
    uint8_t bit;
    const char *name;
  };
  static constexpr Named kErrors[] = {{kVerticalParityError, "vertical parity error"},
                                      {kOverrunError, "overrun error"},
                                      {kFramingError, "framing error"},
                                      {kLongitudinalParityError, "longitudinal parity error"},
                                      {kBufferOverflow, "buffer overflow"}};
  std::string out;
  for (const Named &e : kErrors)
    if (status & e.bit) out += (out.empty() ? "" : ", ") + std::string(e.name);
  return out.empty() ? "no error bit set" : out;
}

const char *DeviceStatusBitName(uint8_t bit) {
  switch (bit) {
    case kPrimaryVariableOutOfLimits: return "primary variable out of limits";
    case kNonPrimaryVariableOutOfLimits: return "non-primary variable out of limits";
    case kLoopCurrentSaturated: return "loop current saturated";
    case kLoopCurrentFixed: return "loop current fixed";
    case kMoreStatusAvailable: return "more status available";
    case kColdStart: return "cold start";
    case kConfigurationChanged: return "configuration changed";
    case kDeviceMalfunction: return "device malfunction";
    default: return "";
  }
}

std::string DeviceStatusText(uint8_t status) {
  std::string out;
  for (int bit = 7; bit >= 0; --bit) {
    const auto mask = static_cast<uint8_t>(1u << bit);
    if (status & mask) out += (out.empty() ? "" : ", ") + std::string(DeviceStatusBitName(mask));
  }
  return out;
}

}  // namespace hart
