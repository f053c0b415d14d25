// The key filters of the number boxes: which typed characters a box takes.
#pragma once

#include <string_view>

constexpr char kBackspace = 8;

struct KeyRule {
  std::string_view allowed;  // characters the box takes besides backspace
  int maxLength;             // a box holding this many characters takes nothing but backspace
};

// True when a box with `currentLength` characters takes the typed character `c`. The maximum is
// tested against the whole text, so a character typed over a selection in a full box is refused.
bool KeyAccepted(const KeyRule &rule, char c, int currentLength);
