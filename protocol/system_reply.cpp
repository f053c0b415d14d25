#include "protocol/system_reply.h"

#include "protocol/config_frame.h"
#include "protocol/int_text.h"

namespace {

struct StopReading {
  std::string message;
};

// A value of `length` characters right after the key's colon, or nothing when the key is missing
// or its value would run past the end of the reply.
std::optional<std::string_view> ValueAfter(std::string_view reply, std::string_view key, size_t length) {
  auto k = FindReplyKey(reply, key);
  if (!k) return std::nullopt;
  return ReplyField(reply, *k + key.size(), length);
}

int Digit(char c) {
  if (c < '0' || c > '9') throw StopReading{NotAnIntegerMessage(std::string(1, c))};
  return c - '0';
}

}  // namespace

SystemParameters ReadSystemParameters(std::string_view reply) {
  SystemParameters p;
  if (!FindReplyKey(reply, "QX")) return p;
  try {
    if (auto v = ValueAfter(reply, "BA2:", 2)) {
      p.baudPosition = Digit((*v)[0]);
      p.parityPosition = Digit((*v)[1]);
    }
    if (auto v = ValueAfter(reply, "MD:", 1)) p.workingMode = Digit((*v)[0]);
    if (auto v = ValueAfter(reply, "ADR:", 3)) p.slaveAddress = std::string(*v);
    if (auto v = ValueAfter(reply, "XY:", 1)) p.returnTime = Digit((*v)[0]);
    if (auto v = ValueAfter(reply, "JTM:", 3)) p.hartInterval = std::string(*v);
    if (auto v = ValueAfter(reply, "AIN:", 19)) {
      p.rangeUpper = std::string(v->substr(0, 6));
      p.rangeLower = std::string(v->substr(7, 6));
      p.totalizerStart = std::string(v->substr(14, 5));
    }
    if (auto v = ValueAfter(reply, "ZOM:", 5)) p.cutoff = std::string(*v);
    if (auto v = ValueAfter(reply, "ADX:", 4)) p.coefficient = std::string(*v);
  } catch (const StopReading &stop) {
    p.error = stop.message;
  }
  return p;
}
