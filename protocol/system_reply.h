// The module's answer to the system parameter query ("QQQ#QX#"): the marker "QX", then keyed
// fields, each value at a fixed distance from its key. Each key is searched afresh from the first
// character, so the fields may come in any order; the first occurrence of a key wins.
#pragma once

#include <optional>
#include <string>
#include <string_view>

struct SystemParameters {
  std::optional<int> baudPosition;  // "BA2:", first digit: 1200 to 57600
  std::optional<int> parityPosition;  // "BA2:", second digit: none, odd, even
  std::optional<int> workingMode;     // "MD:", one digit
  std::optional<std::string> slaveAddress;  // "ADR:", three characters
  std::optional<int> returnTime;            // "XY:", one digit: 50 ms to 500 ms
  std::optional<std::string> hartInterval;  // "JTM:", three characters, tens of ms
  std::optional<std::string> rangeUpper;    // "AIN:", characters 1-6
  std::optional<std::string> rangeLower;    // "AIN:", characters 8-13
  std::optional<std::string> totalizerStart;  // "AIN:", characters 15-19
  std::optional<std::string> cutoff;          // "ZOM:", five characters
  std::optional<std::string> coefficient;     // "ADX:", four characters
  // A digit field that holds no digit stops the reading with the shared conversion's message;
  // what was read before it is kept.
  std::optional<std::string> error;
};

// Nothing is read from a reply without "QX"; a key that is missing, or whose value the end of the
// reply cuts short, leaves its fields empty.
SystemParameters ReadSystemParameters(std::string_view reply);
