// The codes of the request cycle: which reply is awaited, and which report a time-out gives.
#pragma once

#include <cstdint>

// PendingReply: the reply the window waits for.
namespace Pending {
enum Code : int32_t {
  Nothing = 0,
  HartIdentity = 100,            // HART command 0; parsed
  HartDynamicVariables = 103,    // HART command 3; parsed
  HartManualCommand = 104,       // shown in hexadecimal, stays pending
  HartPollingAddress = 106,      // HART command 6; shown in hexadecimal, stays pending
  SettingAcknowledgement = 200,  // shown as text
  CommunicationCheck = 201,      // parsed
  SystemParameters = 202,        // parsed, stays pending
  ModbusParameters = 301,        // parsed, stays pending
  RtuReply = 302,                // MODBUS RTU test; shown in hexadecimal, stays pending
  InstrumentReply = 400,         // the instrument window's exchange; goes to that window alone
  FactoryAnswer = 1001,          // factory commands and the AD channel query; shown as text
};
}  // namespace Pending

// TimeoutKind: the report of the reply time-out.
namespace Timeout {
enum Kind : int32_t {
  Silent = 0,      // nothing is shown
  Connection = 1,  // "Connection timeout!"
  Query = 2,       // "Parameter query timeout!"
  Setting = 3,     // "Set timeout!" and "!"
};
}  // namespace Timeout
