// The module's answer to the system parameter query ("QQQ#QX#"): the marker "QX", then keyed
// fields, each value at a fixed distance from its key. Each key is searched afresh from the first
// character, so the fields may come in any order; the first occurrence of a key wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

// The fields in the order of the reply's groups (module_layout: line setting, working mode, slave
// address, return time, HART interval, totalizer, cut-off, coefficient factor).
struct SystemParameters {
  std::optional<int> baudPosition;  // 1200 to 57600
  std::optional<int> parityPosition;  // none, odd, even
  std::optional<int> workingMode;
  std::optional<std::string> slaveAddress;
  std::optional<int> returnTime;            // 50 ms to 500 ms
  std::optional<std::string> hartInterval;  // tens of ms
  std::optional<std::string> rangeUpper;
  std::optional<std::string> rangeLower;
  std::optional<std::string> totalizerStart;
  std::optional<std::string> cutoff;
  std::optional<std::string> coefficient;
  // A digit field that holds no digit stops the reading with the shared conversion's message;
  // what was read before it is kept.
  std::optional<std::string> error;
};

// Nothing is read from a reply without "QX"; a key that is missing, or whose value the end of the
// reply cuts short, leaves its fields empty.
SystemParameters ReadSystemParameters(std::string_view reply);
