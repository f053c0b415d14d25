// HART request frames as the tool builds them, and the engineering-unit table of the unit lists.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "protocol/hart_codes.h"
#include "protocol/hex.h"  // the typed byte lists of the HART requests

// Longitudinal parity: XOR of the bytes.
uint8_t HartChecksum(const uint8_t *bytes, size_t count);

struct HartIdentity {
  uint8_t manufacturer = 0;  // all eight bits go into the first long-address byte
  uint8_t deviceType = 0;
  std::array<uint8_t, 3> deviceId{};  // most significant first
};

// Preambles, delimiter, address, command, byte count, data, checksum over delimiter..data.
// `preambles` is the number of preamble bytes; `masterFlag` is hart::kPrimaryMaster or 0.
std::vector<uint8_t> HartShortFrame(int preambles, uint8_t masterFlag, uint8_t pollingAddress, uint8_t command,
                                    const std::vector<uint8_t> &data = {});
std::vector<uint8_t> HartLongFrame(int preambles, uint8_t masterFlag, const HartIdentity &id, uint8_t command,
                                   const std::vector<uint8_t> &data = {});
// Preambles, the typed body, and the XOR of the body.
std::vector<uint8_t> HartRawFrame(int preambles, const std::vector<uint8_t> &body);

// Position in the unit lists of a HART engineering-unit code; codes not in the table give the last
// position, "other".
constexpr int kUnitCount = 77;
int UnitPosition(int unitCode);
// The name of a position in the unit lists ("inH20" ... "%", "other"), UTF-8; "" outside them.
const char *UnitName(int position);
// The unit code of a name in the unit lists ("CuMtr_hr" gives 19), upper and lower case alike;
// nothing for "other" and for names the lists do not hold.
std::optional<uint8_t> UnitCodeFromName(std::string_view name);
