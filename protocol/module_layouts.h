// The layout of each of the converter module's configuration frames and of each group of its query
// replies: the one place where a key, the width of each value and the order of the values are
// written. The frame builders (module_frames), the reply parsers (system_reply, modbus_reply) and
// the line decoder read them.
//
// A frame is its form's prefix, the layout and "#" ("QQS#ADR:001#"); a frame whose layout ends with
// a payload has no "#". A reply group is a layout as the module writes it into its answer,
// searched by its key; where a setting and a reply group share a layout, the module answers with
// the setting's own text ("HART0:1,0,10,9,060").
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string_view>

namespace module_layout {

// Reply: a group found in a query reply only (or values that two layouts share).
enum class Form : uint8_t { Query, Setting, Factory, Reply };
constexpr std::string_view kQueryPrefix = "QQQ#";
constexpr std::string_view kSettingPrefix = "QQS#";
constexpr std::string_view kFactoryPrefix = "KORVEN#";
constexpr char kFrameEnd = '#';
constexpr std::string_view Prefix(Form form) {
  return form == Form::Query ? kQueryPrefix : form == Form::Setting ? kSettingPrefix
                                          : form == Form::Factory ? kFactoryPrefix : std::string_view();
}

// What marks a whole answer to each query, found anywhere in it.
constexpr std::string_view kCommunicationReplyMarker = "QV:";
constexpr std::string_view kSystemReplyMarker = "QX";
constexpr std::string_view kMeterReplyMarker = "QQ";

enum class Kind : uint8_t {
  Literal,  // `text` as it stands: a name, ":", a separator
  Digit,    // one decimal digit: a position in a list whose first item reads `first`
  Number,   // `width` decimal digits
  Count,    // two decimal digits: how many bytes the payload holds
  Text,     // `width` characters as they stand; width 0: as many as there are
  Padded,   // a decimal number of `width` digits or more
  Char,     // one character the caller names: which of the custom commands
  Payload,  // the bytes: as they are in a setting, hexadecimal pairs separated by blanks in a reply
};

constexpr uint8_t kVaries = 0xFF;  // the place of a field after one whose width varies

struct Field {
  Kind kind = Kind::Literal;
  std::string_view text;  // Literal
  uint8_t width = 0;      // characters on the line (Padded: the fewest)
  char first = '0';       // Digit
  uint8_t at = 0;         // from the key's first character, or kVaries

  constexpr bool IsValue() const { return kind != Kind::Literal; }
  constexpr bool Varies() const {
    return kind == Kind::Payload || kind == Kind::Padded || (kind == Kind::Text && width == 0);
  }
};

constexpr Field Literal(std::string_view text) {
  return {Kind::Literal, text, static_cast<uint8_t>(text.size()), '0', 0};
}
constexpr Field Digit(char first = '0') { return {Kind::Digit, {}, 1, first, 0}; }
constexpr Field Number(uint8_t width) { return {Kind::Number, {}, width, '0', 0}; }
constexpr Field Count() { return {Kind::Count, {}, 2, '0', 0}; }
constexpr Field Text(uint8_t width = 0) { return {Kind::Text, {}, width, '0', 0}; }
constexpr Field Padded(uint8_t width) { return {Kind::Padded, {}, width, '0', 0}; }
constexpr Field Char() { return {Kind::Char, {}, 1, '0', 0}; }
constexpr Field Payload() { return {Kind::Payload, {}, 0, '0', 0}; }

inline constexpr Field kNoField{};

class Layout {
 public:
  static constexpr size_t kMaxFields = 20;

  // The key (what a reply is searched for: its digits match any character, its Char the one
  // named), then the values.
  constexpr Layout(Form form, std::initializer_list<Field> key, std::initializer_list<Field> values = {})
      : form_(form) {
    for (const Field &f : key) Add(f);
    keyFields_ = count_;
    for (const Field &f : values) Add(f);
  }
  // The values of `values` after another key.
  constexpr Layout(Form form, std::initializer_list<Field> key, const Layout &values) : form_(form) {
    for (const Field &f : key) Add(f);
    keyFields_ = count_;
    for (const Field &f : values) Add(f);
  }

  constexpr Form form() const { return form_; }
  constexpr const Field *begin() const { return fields_.data(); }
  constexpr const Field *end() const { return fields_.data() + count_; }
  constexpr size_t KeyFields() const { return keyFields_; }
  constexpr size_t KeyLength() const { return count_ > keyFields_ ? fields_[keyFields_].at : fixed_; }
  // Characters up to the first field whose width varies, or all of them.
  constexpr size_t FixedLength() const { return fixed_; }
  constexpr bool Varies() const { return varies_; }
  // What a reply must hold from the key on for the group to be read: through its last value
  // before any whose width varies.
  constexpr size_t Whole() const { return whole_; }

  // The `index`th value (counted from 0); kNoField when there is none.
  constexpr const Field &Value(size_t index) const {
    for (const Field &f : *this)
      if (f.IsValue() && index-- == 0) return f;
    return kNoField;
  }
  constexpr const Field &FirstOf(Kind kind) const {
    for (const Field &f : *this)
      if (f.kind == kind) return f;
    return kNoField;
  }

 private:
  constexpr void Add(Field f) {
    if (count_ == kMaxFields) return;  // a table entry too long shows in its frame's test
    f.at = varies_ ? kVaries : static_cast<uint8_t>(fixed_);
    if (f.Varies()) varies_ = true;
    if (!varies_) {
      fixed_ += f.width;
      if (f.IsValue()) whole_ = fixed_;
    }
    fields_[count_++] = f;
  }

  Form form_;
  std::array<Field, kMaxFields> fields_{};
  size_t count_ = 0;
  size_t keyFields_ = 0;
  size_t fixed_ = 0;
  size_t whole_ = 0;
  bool varies_ = false;
};

// ------------------------------------------------------------------------------------------------
// Queries: the answers are the groups further below.

inline constexpr Layout kCommunicationQuery{Form::Query, {Literal("QV")}};
inline constexpr Layout kSystemParameterQuery{Form::Query, {Literal("QX")}};
inline constexpr Layout kAdChannelQuery{Form::Query, {Literal("QVAL")}};
inline constexpr Layout kMeterQuery{Form::Query, {Literal("QQ"), Digit()}};  // the meter

// ------------------------------------------------------------------------------------------------
// System settings; each is also a group of the system parameter reply.

inline constexpr Layout kSlaveAddress{Form::Setting, {Literal("ADR:")}, {Number(3)}};
// The working mode, also a group of the MODBUS parameter reply.
inline constexpr Layout kWorkingMode{Form::Setting, {Literal("MD:")}, {Digit()}};
inline constexpr Layout kReturnTime{Form::Setting, {Literal("XY:")}, {Digit()}};
inline constexpr Layout kHartInterval{Form::Setting, {Literal("JTM:")}, {Number(3)}};  // tens of ms
inline constexpr Layout kLineSetting{Form::Setting, {Literal("BA2:")}, {Digit(), Digit()}};  // baud, parity
inline constexpr Layout kParameterReset{Form::Setting, {Literal("RESET")}};

// The rest of the system parameter reply: upper and lower range value, totalizer starting point;
// the low-flow cut-off; the coefficient.
inline constexpr Layout kTotalizerGroup{Form::Reply, {Literal("AIN:")}, {Text(6), Literal(","), Text(6), Literal(","), Text(5)}};
inline constexpr Layout kCutoffGroup{Form::Reply, {Literal("ZOM:")}, {Text(5)}};
inline constexpr Layout kCoefficientFactorGroup{Form::Reply, {Literal("ADX:")}, {Text(4)}};

// ------------------------------------------------------------------------------------------------
// MODBUS-side settings of one meter (the digit after the name); each is also a group of the MODBUS
// parameter reply, under its own key where the two differ.

// Enabled, device mode, meter type, preamble ("4" the first item), buffer clear time in seconds.
inline constexpr Layout kMeterProfile{Form::Setting,
                                      {Literal("HART"), Digit(), Literal(":")},
                                      {Digit(), Literal(","), Digit(), Literal(","), Number(2), Literal(","),
                                       Digit('4'), Literal(","), Number(3)}};

// The formats of the five values.
inline constexpr Layout kFormats{Form::Reply, {}, {Digit(), Digit(), Digit(), Digit(), Digit()}};
inline constexpr Layout kDataFormat{Form::Setting, {Literal("DFOT"), Digit(), Literal(":")}, kFormats};
inline constexpr Layout kDataFormatGroup{Form::Reply, {Literal("DFO"), Digit(), Literal(":")}, kFormats};

// Variable 1's coefficient: its mode and five characters of factor.
inline constexpr Layout kCoefficient{Form::Setting, {Literal("FMW:")}, {Digit(), Literal(","), Text(5)}};

// Custom read command 1 or 2: on or off, and its bytes.
inline constexpr Layout kCustomCommand{Form::Setting,
                                       {Literal("CAMD"), Digit(), Char(), Literal(":")},
                                       {Digit(), Literal("<"), Count(), Literal(","), Payload()}};

// Address bits ("3" the first item), then for each of the four variables its command, start
// address and data length.
inline constexpr Layout kParsing{Form::Reply,
                                 {},
                                 {Digit('3'), Literal(","), Digit(), Number(2), Digit(), Literal(","), Digit(),
                                  Number(2), Digit(), Literal(","), Digit(), Number(2), Digit(), Literal(","),
                                  Digit(), Number(2), Digit()}};
inline constexpr Layout kParsingFormat{Form::Setting, {Literal("MDBS"), Digit(), Literal(":")}, kParsing};
inline constexpr Layout kParsingFormatGroup{Form::Reply, {Literal("ZDY"), Digit(), Literal(":")}, kParsing};
constexpr size_t kParsingRowValues = 3;  // command, start address, data length

// ------------------------------------------------------------------------------------------------
// Factory commands: the module takes their numbers in any width and keeps them in its own.

inline constexpr Layout kTotalizer{Form::Factory, {Literal("AIN1:")}, {Text(), Literal(","), Text(), Literal(","), Text()}};
inline constexpr Layout kCutoff{Form::Factory, {Literal("ZOM:")}, {Text()}};
inline constexpr Layout kIntegerLsd{Form::Factory, {Literal("LPN:")}, {Padded(8)}};
inline constexpr Layout kDecimalLsd{Form::Factory, {Literal("LPF:")}, {Text()}};
inline constexpr Layout kCoefficientFactor{Form::Factory, {Literal("ADX:")}, {Padded(4)}};
inline constexpr Layout kBoardData{Form::Factory, {Literal("PCBSN:")}, {Padded(8), Literal(","), Padded(3)}};  // serial, inspector

// ------------------------------------------------------------------------------------------------
// Reading

// `text` (a frame without its prefix and "#") has the layout: every literal where the layout puts
// it, and exactly its length (at least its fixed part when a width varies). Values are not looked at.
bool Matches(std::string_view text, const Layout &layout);

// The characters of `field` in a text that holds its layout from `key` on, as far as the text
// holds them; a field whose width varies takes the rest of the text.
std::string_view ValueText(std::string_view text, size_t key, const Field &field);

// The characters of a payload of `count` bytes in a reply: hexadecimal pairs separated by blanks.
constexpr size_t HexPairsLength(size_t count) { return count == 0 ? 0 : 3 * count - 1; }

// A group of a query reply, its values read where its layout puts them.
class ReplyGroup {
 public:
  ReplyGroup(std::string_view reply, size_t key, const Layout &layout) : reply_(reply), key_(key), layout_(layout) {}
  size_t Key() const { return key_; }
  std::string_view Text(size_t value) const { return ValueText(reply_, key_, layout_.Value(value)); }
  // A digit as the position in its list (its first item's digit subtracted), a number as its
  // value; nothing when a character is no digit.
  std::optional<int> Position(size_t value) const;

 private:
  std::string_view reply_;
  size_t key_;
  const Layout &layout_;
};

// The group `layout` where its key first stands in `reply` (its digits match any character, its
// Char `command`); nothing when the key is missing or the reply ends before the group's Whole().
std::optional<ReplyGroup> FindGroup(std::string_view reply, const Layout &layout, char command = '\0');

}  // namespace module_layout
