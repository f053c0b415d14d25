// The HART requests built from what the user types: the preamble count (Edit9), the hexadecimal
// body of a manual command (Edit10) and the polling addresses typed into the address lists.
//
// Input: one byte choosing the button, then the preamble text up to a newline, then the other text.
#include <QComboBox>
#include <QLineEdit>
#include <QTimer>

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

  RequestCycle &cycle = form.Cycle();
  const HartIdentity identity = form.StoredIdentity().Identity();
  const uint8_t queried = form.StoredIdentity().QueriedAddress();
  uint8_t reply[ReplyView::kRoom];
  std::memcpy(reply, cycle.Reply().Data(), sizeof reply);
  cycle.Expect(static_cast<Pending::Code>(55), static_cast<Timeout::Kind>(5));
  fuzz::Run([&] { (form.*button)(); });
  QTimer *timeout = form.findChild<QTimer *>(QStringLiteral("Timer3"), Qt::FindDirectChildrenOnly);
  timeout->stop();

  // The frame stays inside the transmit area; the stored identity and the last delivery stay put
  // (the identity query records only its polling address).
  const HartIdentity after = form.StoredIdentity().Identity();
  const bool addressKept = button == &TForm1::Button7Click || form.StoredIdentity().QueriedAddress() == queried;
  if (after.manufacturer != identity.manufacturer || after.deviceType != identity.deviceType ||
      after.deviceId != identity.deviceId || !addressKept)
    fuzz::Fail("the stored identity changed");
  if (std::memcmp(reply, cycle.Reply().Data(), sizeof reply) != 0) fuzz::Fail("the receive area was overwritten");

  const std::string shown = edit("Edit8")->text().toStdString();
  if (shown.empty()) {
    if (cycle.PendingReply() != 55 || cycle.TimeoutKind() != 5) fuzz::Fail("a refused request changed the codes");
    return 0;
  }
  const size_t length = shown.size() / 3;
  if (shown.size() % 3 != 0 || length > TransmitView::kRoom) fuzz::Fail("frame shown as \"" + shown + "\"");
  const uint8_t *frame = cycle.Transmit().Data();
  if (BytesToHexPairs(frame, length) != shown) fuzz::Fail("the frame shown is not the frame in the transmit area");
  // Preambles, then a body whose checksum closes it: the XOR from the delimiter on is zero.
  size_t p = 0;
  while (p < length && frame[p] == 0xFF) ++p;
  uint8_t x = 0;
  for (size_t i = p; i < length; ++i) x ^= frame[i];
  if (button != &TForm1::Button20Click && x != 0) fuzz::Fail("checksum does not close the frame: " + shown);
  return 0;
}
