// The HART requests built from what the user types: the preamble count (Edit9), the hexadecimal
// body of a manual command (Edit10) and the polling addresses typed into the address lists.
//
// Input: one byte choosing the button, then the preamble text up to a newline, then the other text.
#include <QComboBox>
#include <QLineEdit>

#include <cstdint>
#include <cstring>
#include <string>

#include "app/main_window.h"
#include "fuzz/form_harness.h"
#include "protocol/hex.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size == 0) return 0;
  TForm1 &form = fuzz::Form();
  const std::string rest(reinterpret_cast<const char *>(data + 1), size - 1);
  const size_t cut = rest.find('\n');
  const QString preamble = QString::fromLatin1(rest.substr(0, cut).c_str(), static_cast<qsizetype>(rest.substr(0, cut).size()));
  const std::string otherText = cut == std::string::npos ? std::string() : rest.substr(cut + 1);
  const QString other = QString::fromLatin1(otherText.data(), static_cast<qsizetype>(otherText.size()));

  auto edit = [&](const char *name) { return static_cast<QLineEdit *>(fuzz::Control(name)); };
  auto combo = [&](const char *name) { return static_cast<QComboBox *>(fuzz::Control(name)); };
  edit("Edit9")->setText(preamble);
  edit("Edit8")->clear();

  void (TForm1::*button)() = nullptr;
  switch (data[0] % 4) {
    case 0:
      edit("Edit10")->setText(other);
      button = &TForm1::Button20Click;
      break;
    case 1:
      combo("ComboBox30")->setEditText(other);
      button = &TForm1::Button7Click;
      break;
    case 2:
      button = &TForm1::Button16Click;
      break;
    default:
      combo("ComboBox27")->setEditText(other);
      button = &TForm1::Button14Click;
      break;
  }

  uint8_t before[TForm1::kCommBufferSize];
  std::memcpy(before, form.CommBuffer, sizeof before);
  form.PendingReply = 55;
  form.TimeoutKind = 5;
  fuzz::Run([&] { (form.*button)(); });
  form.Timer3.SetEnabled(false);

  // The frame stays inside the transmit area; the stored identity and the last delivery stay put
  // (the identity query records only its polling address, in byte 7).
  const size_t keep = button == &TForm1::Button7Click ? 7 : 8;
  if (std::memcmp(before, form.CommBuffer, keep) != 0) fuzz::Fail("the stored identity changed");
  if (std::memcmp(before + TForm1::kReplyStart, form.CommBuffer + TForm1::kReplyStart, TForm1::kReplyRoom) != 0)
    fuzz::Fail("the receive area was overwritten");

  const std::string shown = edit("Edit8")->text().toStdString();
  if (shown.empty()) {
    if (form.PendingReply != 55 || form.TimeoutKind != 5) fuzz::Fail("a refused request changed the codes");
    return 0;
  }
  const size_t length = shown.size() / 3;
  if (shown.size() % 3 != 0 || length > TForm1::kFrameEnd - TForm1::kFrameStart)
    fuzz::Fail("frame shown as \"" + shown + "\"");
  if (BytesToHexPairs(form.CommBuffer + TForm1::kFrameStart, length) != shown)
    fuzz::Fail("the frame shown is not the frame in the transmit area");
  // Preambles, then a body whose checksum closes it: the XOR from the delimiter on is zero.
  size_t p = 0;
  const uint8_t *frame = form.CommBuffer + TForm1::kFrameStart;
  while (p < length && frame[p] == 0xFF) ++p;
  uint8_t x = 0;
  for (size_t i = p; i < length; ++i) x ^= frame[i];
  if (button != &TForm1::Button20Click && x != 0) fuzz::Fail("checksum does not close the frame: " + shown);
  return 0;
}
