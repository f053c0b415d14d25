#include "protocol/module_layouts.h"

#include <string>

#include "protocol/config_frame.h"

namespace module_layout {

namespace {
constexpr char kAny = '\x01';  // a pattern position that matches any character; no key holds it
}

bool Matches(std::string_view text, const Layout &layout) {
  if (layout.Varies() ? text.size() < layout.FixedLength() : text.size() != layout.FixedLength()) return false;
  for (const Field &f : layout) {
    if (f.at == kVaries) break;
    if (f.kind == Kind::Literal && text.substr(f.at, f.width) != f.text) return false;
  }
  return true;
}

std::string_view ValueText(std::string_view text, size_t key, const Field &field) {
  if (field.at == kVaries || key > text.size() || field.at > text.size() - key) return {};
  return field.Varies() ? text.substr(key + field.at) : text.substr(key + field.at, field.width);
}

std::optional<int> ReplyGroup::Position(size_t value) const {
  const Field &field = layout_.Value(value);
  int number = 0;
  for (char c : Text(value)) {
    if (c < '0' || c > '9') return std::nullopt;
    number = number * 10 + (c - '0');
  }
  return field.kind == Kind::Digit ? number - (field.first - '0') : number;
}

std::optional<ReplyGroup> FindGroup(std::string_view reply, const Layout &layout, char command) {
  std::string pattern;
  for (size_t i = 0; i < layout.KeyFields(); ++i) {
    const Field &f = layout.begin()[i];
    if (f.kind == Kind::Literal) pattern += f.text;
    else if (f.kind == Kind::Char) pattern += command;
    else pattern.append(f.width, kAny);
  }
  const auto k = FindReplyKey(reply, pattern, kAny);
  if (!k || !ReplyField(reply, *k, layout.Whole())) return std::nullopt;
  return ReplyGroup(reply, *k, layout);
}

}  // namespace module_layout
