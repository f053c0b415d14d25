#include "protocol/key_filter.h"

bool KeyAccepted(const KeyRule &rule, char c, int currentLength) {
  if (c == kBackspace) return true;
  if (c == '\0' || rule.allowed.find(c) == std::string_view::npos) return false;
  return currentLength < rule.maxLength;
}
