// The identity of the last instrument that answered the identity query, kept for the requests
// addressed to it (commands 3 and 6), and the polling address that query went to. Its bytes live
// in CommBuffer's scratch area (the identifier in 0-2, the device type in 6, the queried address
// in 7); the manufacturer and the preamble need beside them. All zero at start.
#pragma once

#include <algorithm>
#include <cstdint>

#include "protocol/hart.h"

class HartIdentityStore {
 public:
  explicit HartIdentityStore(uint8_t *scratch) : scratch_(scratch) {}

  HartIdentity Identity() const {
    return {manufacturer_, scratch_[kDeviceTypeAt],
            {scratch_[kIdentifierAt], scratch_[kIdentifierAt + 1], scratch_[kIdentifierAt + 2]}};
  }
  // The number of request preambles the instrument asked for.
  uint8_t PreambleNeed() const { return preambleNeed_; }
  void Store(const HartIdentity &identity, uint8_t preambleNeed) {
    manufacturer_ = identity.manufacturer;
    scratch_[kDeviceTypeAt] = identity.deviceType;
    std::copy(identity.deviceId.begin(), identity.deviceId.end(), scratch_ + kIdentifierAt);
    preambleNeed_ = preambleNeed;
  }

  uint8_t QueriedAddress() const { return scratch_[kQueriedAddressAt]; }
  void SetQueriedAddress(uint8_t address) { scratch_[kQueriedAddressAt] = address; }

 private:
  static constexpr int kIdentifierAt = 0;  // three bytes, most significant first
  static constexpr int kDeviceTypeAt = 6;
  static constexpr int kQueriedAddressAt = 7;

  uint8_t *scratch_;  // CommBuffer's eight scratch bytes
  uint8_t manufacturer_ = 0;
  uint8_t preambleNeed_ = 0;
};
