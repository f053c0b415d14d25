// The instrument window against the simulated instrument behind the module: Read, Write, the loop
// test, and a port that goes away while the current is fixed.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>

#include <clocale>
#include <string>
#include <vector>

#include "instrument/instrument_window.h"
#include "monitor/monitor_window.h"
#include "monitor/traffic_model.h"
#include "protocol/hart.h"
#include "protocol/hart_codes.h"
#include "sim/hart_instrument.h"
#include "tests/support/pty_peer.h"
#include "tests/support/sim_window.h"

using namespace ui;

namespace {

constexpr int kChainMs = 20000;

InstrumentWindow &OpenInstrument(TForm1 &form) {
  Click(&form, "InstrumentButton");
  InstrumentWindow *window = form.Instrument();
  EXPECT_NE(window, nullptr);
  EXPECT_TRUE(window->isVisible());
  return *window;
}

void Press(InstrumentWindow &window, const char *button) {
  Click(&window, button);
  ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }, kChainMs)) << button;
}

QString Setting(InstrumentWindow &window, const char *name) {
  return Text(&window, ("Setting_" + std::string(name)).c_str());
}
QString Outcome(InstrumentWindow &window, const char *name) {
  return Text(&window, ("Outcome_" + std::string(name)).c_str());
}
void Type(InstrumentWindow &window, const char *name, const QString &text) {
  SetText(&window, ("Setting_" + std::string(name)).c_str(), text);
}
bool Lit(InstrumentWindow &window, uint8_t bit) {
  for (int k = 0; k < 8; ++k)
    if (bit == (1u << k)) return Find<QLabel>(&window, ("StatusLamp" + std::to_string(k)).c_str())->property("lit").toBool();
  ADD_FAILURE() << "not one bit";
  return false;
}

// A HART request as the line carried it: its command and data.
struct Request {
  int command = -1;
  std::vector<uint8_t> data;
};
Request ReadRequest(const QByteArray &bytes) {
  const auto *b = reinterpret_cast<const uint8_t *>(bytes.constData());
  const size_t n = static_cast<size_t>(bytes.size());
  size_t i = 0;
  while (i < n && b[i] == hart::kPreamble) ++i;
  if (i >= n) return {};
  const size_t commandAt = i + 1 + ((b[i] & hart::kLongAddressFrame) ? hart::kLongAddressLength : hart::kShortAddressLength);
  if (commandAt + 1 >= n) return {};
  const size_t count = b[commandAt + 1];
  if (commandAt + 2 + count > n) return {};
  return {b[commandAt], std::vector<uint8_t>(b + commandAt + 2, b + commandAt + 2 + count)};
}
// The requests written to the line from record `from` on.
std::vector<Request> SentSince(LineLog &log, size_t from) {
  std::vector<Request> out;
  for (size_t i = from; i < log.Size(); ++i)
    if (log.At(i).direction == LineDirection::Sent) out.push_back(ReadRequest(log.At(i).bytes));
  return out;
}
std::vector<int> Commands(const std::vector<Request> &requests) {
  std::vector<int> out;
  for (const Request &r : requests) out.push_back(r.command);
  return out;
}
const std::vector<uint8_t> kLeave = {0x00, 0x00, 0x00, 0x00};  // command 40 with 0.0 mA

TEST(InstrumentWindowWithSimulator, ReadFillsTheIdentityAndEverySettingOfItsRevision) {
  SimWindow w({"--hart7", "--frozen", "--no-publish", "--quiet"});
  w.form.ShowMonitor();
  InstrumentWindow &window = OpenInstrument(w.form);
  // The page's identity query goes first: the window waits until its reply has been parsed.
  Click(&w.form, "Button7");
  Press(window, "ReadButton");
  EXPECT_EQ(Text(&w.form, "Edit28"), "38");

  EXPECT_EQ(Text(&window, "Manufacturer"), "38");
  EXPECT_EQ(Text(&window, "DeviceType"), "6");
  EXPECT_EQ(Text(&window, "DeviceId"), "4660");
  EXPECT_EQ(Text(&window, "UniversalRevision"), "7");
  EXPECT_EQ(Setting(window, "tag"), "FT-101");
  EXPECT_EQ(Setting(window, "descriptor"), "FLOW TRANSMITTER");
  EXPECT_EQ(Setting(window, "date"), "2024-01-15");
  EXPECT_EQ(Setting(window, "message"), "RQ735 SIMULATED INSTRUMENT");
  EXPECT_EQ(Setting(window, "final_assembly"), "735001");
  EXPECT_EQ(Setting(window, "long_tag"), "FT-101 feed water flow");
  EXPECT_EQ(Setting(window, "pv_units"), "CuMtr_hr");
  EXPECT_EQ(Setting(window, "lower_range"), "0");
  EXPECT_EQ(Setting(window, "upper_range"), "120");
  EXPECT_EQ(Setting(window, "damping"), "0.5");
  EXPECT_EQ(Setting(window, "polling_address"), "0");
  EXPECT_EQ(Setting(window, "response_preambles"), "5");
  EXPECT_TRUE(Text(&window, "ReportedCurrent").startsWith("12.000 mA, 50.0 %")) << Text(&window, "ReportedCurrent").toStdString();
  EXPECT_FALSE(Lit(window, hart::kLoopCurrentFixed));
  EXPECT_FALSE(Find<QLabel>(&window, "LoopBanner")->isVisible());

  // Command 0 at the short address, each read once, the loop current: every one answered, in the
  // monitor, and none of it in the main window's "Receive Buffer:", which keeps the page's reply.
  const std::vector<Request> sent = SentSince(w.form.Traffic(), 0);
  EXPECT_EQ(Commands(sent), (std::vector<int>{0, 0, 13, 12, 16, 20, 15, 2}));
  EXPECT_EQ(w.form.Traffic().Size(), 2 * sent.size());
  EXPECT_EQ(w.form.Monitor()->Model().rowCount(), static_cast<int>(w.form.Traffic().Size()));
  EXPECT_TRUE(Text(&w.form, "Memo10").contains("FF 06 80 00 "));
  EXPECT_FALSE(Text(&w.form, "Memo10").contains("FF 86 ")) << "no long-frame reply of the window's";
  EXPECT_EQ(w.form.Cycle().PendingReply(), Pending::Nothing);
  EXPECT_TRUE(w.catcher.Messages().empty());
}

TEST(InstrumentWindowWithSimulator, WriteSendsOnlyTheChangedSettingsThenMarksEachFromWhatIsReadBack) {
  SimWindow w({"--frozen", "--no-publish", "--quiet"});  // universal revision 5
  InstrumentWindow &window = OpenInstrument(w.form);
  Press(window, "ReadButton");
  EXPECT_FALSE(Find<QLineEdit>(&window, "Setting_long_tag")->isEnabled()) << "revision 5 has no long tag";
  EXPECT_EQ(Setting(window, "response_preambles"), "") << "revision 5 tells them only when written";

  // A value the instrument cannot take is refused beside its field, and nothing goes out.
  const size_t beforeRefused = w.form.Traffic().Size();
  Type(window, "tag", "FT-101-EXT");
  Type(window, "damping", "2");
  Press(window, "WriteButton");
  EXPECT_TRUE(Outcome(window, "tag").contains("10 characters")) << Outcome(window, "tag").toStdString();
  EXPECT_EQ(w.form.Traffic().Size(), beforeRefused);

  // Lower case is the same tag in packed ASCII; the descriptor typed in lower case is what the
  // instrument holds already.
  Type(window, "tag", "ft-102");
  Type(window, "descriptor", "flow transmitter");
  const size_t before = w.form.Traffic().Size();
  Press(window, "WriteButton");
  const std::vector<int> commands = Commands(SentSince(w.form.Traffic(), before));
  ASSERT_GE(commands.size(), 3u);
  EXPECT_EQ(std::vector<int>(commands.begin(), commands.begin() + 3), (std::vector<int>{18, 34, 0}))
      << "the two writes, then the read back";
  EXPECT_EQ(Outcome(window, "tag"), "written");
  EXPECT_EQ(Outcome(window, "damping"), "written");
  EXPECT_TRUE(Outcome(window, "descriptor").startsWith("equal")) << Outcome(window, "descriptor").toStdString();
  EXPECT_EQ(Outcome(window, "message"), "");
  EXPECT_EQ(Setting(window, "tag"), "FT-102");
  EXPECT_EQ(Setting(window, "damping"), "2");
  EXPECT_TRUE(Lit(window, hart::kConfigurationChanged));

  // The reply preambles of revision 5 are known from the write's echo; written again, they are equal.
  Type(window, "response_preambles", "6");
  Press(window, "WriteButton");
  EXPECT_EQ(Outcome(window, "response_preambles"), "written");
  const size_t afterPreambles = w.form.Traffic().Size();
  Type(window, "response_preambles", "7");
  Type(window, "response_preambles", "6");
  Press(window, "WriteButton");
  EXPECT_EQ(w.form.Traffic().Size(), afterPreambles) << "nothing differs from what was read";

  // A new polling address: the read back (and every later Read) asks command 0 there.
  Type(window, "polling_address", "3");
  Press(window, "WriteButton");
  EXPECT_EQ(Outcome(window, "polling_address"), "written");
  Press(window, "ReadButton");
  EXPECT_EQ(Setting(window, "polling_address"), "3");
  EXPECT_TRUE(Text(&window, "InstrumentStatus").startsWith("Read at")) << Text(&window, "InstrumentStatus").toStdString();
  EXPECT_TRUE(w.catcher.Messages().empty());
}

TEST(DecimalCommaInstrument, RangeAndDampingShowAndTakeTheUsersSeparator) {
  if (std::string(std::localeconv()->decimal_point) != ",") {
    if (qEnvironmentVariableIsSet("RQ735_DECIMAL_COMMA_RUN"))
      FAIL() << "the C library's numeric locale is " << std::setlocale(LC_NUMERIC, nullptr) << ", not a decimal comma";
    GTEST_SKIP() << "runs under a decimal-comma locale only";
  }
  SimWindow w({"--frozen", "--no-publish", "--quiet"});
  InstrumentWindow &window = OpenInstrument(w.form);
  Press(window, "ReadButton");
  EXPECT_EQ(Setting(window, "damping"), "0,5");
  Type(window, "damping", "1,25");
  Press(window, "WriteButton");
  EXPECT_EQ(Setting(window, "damping"), "1,25");
  EXPECT_TRUE(Outcome(window, "damping").startsWith("written")) << Outcome(window, "damping").toStdString();
  EXPECT_TRUE(Outcome(window, "upper_range").isEmpty()) << "shown with a comma, unchanged, not sent";
}

TEST(InstrumentWindowWithSimulator, AWriteProtectedInstrumentRefusesAndTheFieldNamesTheResponseCode) {
  SimWindow w({"--write-protect", "--frozen", "--no-publish", "--quiet"});
  InstrumentWindow &window = OpenInstrument(w.form);
  Press(window, "ReadButton");
  Type(window, "message", "NEW MESSAGE");
  Press(window, "WriteButton");
  EXPECT_EQ(Outcome(window, "message"), "refused: 7 in write-protect mode");
  EXPECT_EQ(Setting(window, "message"), "NEW MESSAGE") << "still wanted";
  EXPECT_TRUE(Text(&window, "InstrumentStatus").contains("1 not written"))
      << Text(&window, "InstrumentStatus").toStdString();
}

TEST(InstrumentWindowWithSimulator, TheLoopTestLeavesFixedCurrentWhenTheWindowClosesAndWhenThePortCloses) {
  SimWindow w({"--frozen", "--no-publish", "--quiet"});
  InstrumentWindow &window = OpenInstrument(w.form);
  Press(window, "ReadButton");

  Press(window, "Loop4mA");
  EXPECT_EQ(window.LoopState(), InstrumentWindow::Loop::Fixed);
  EXPECT_TRUE(Text(&window, "ReportedCurrent").startsWith("4.000 mA")) << Text(&window, "ReportedCurrent").toStdString();
  EXPECT_TRUE(Lit(window, hart::kLoopCurrentFixed));
  EXPECT_TRUE(Find<QLabel>(&window, "LoopBanner")->isVisible());
  EXPECT_TRUE(Text(&window, "LoopBanner").contains("fixed at 4 mA"));

  // Closing the window ends the test.
  size_t mark = w.form.Traffic().Size();
  window.close();
  ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }, kChainMs));
  std::vector<Request> sent = SentSince(w.form.Traffic(), mark);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].command, hart::kEnterExitFixedCurrent);
  EXPECT_EQ(sent[0].data, kLeave);
  EXPECT_EQ(window.LoopState(), InstrumentWindow::Loop::Following);
  OpenInstrument(w.form);
  Press(window, "ReadButton");
  EXPECT_FALSE(Lit(window, hart::kLoopCurrentFixed)) << "the instrument's own status";
  EXPECT_TRUE(Text(&window, "ReportedCurrent").startsWith("12.000 mA"));

  // A typed current, then the main window's "Close": fixed current mode is left before the port goes.
  SetText(&window, "LoopCurrentEdit", "20,5");
  Press(window, "LoopFixButton");
  EXPECT_TRUE(Lit(window, hart::kLoopCurrentFixed));
  EXPECT_TRUE(Text(&window, "LoopBanner").contains("20.5 mA"));
  mark = w.form.Traffic().Size();
  Click(&w.form, "Button1");
  EXPECT_FALSE(w.form.Cycle().PortOpen());
  sent = SentSince(w.form.Traffic(), mark);
  ASSERT_EQ(sent.size(), 1u);
  EXPECT_EQ(sent[0].data, kLeave);
  EXPECT_EQ(w.form.Traffic().Size(), mark + 2) << "and its answer came before the port closed";
  EXPECT_EQ(window.LoopState(), InstrumentWindow::Loop::Following);
  EXPECT_FALSE(Lit(window, hart::kLoopCurrentFixed));
  EXPECT_FALSE(Find<QLabel>(&window, "LoopBanner")->isVisible());
  EXPECT_TRUE(w.catcher.Messages().empty());
}

// The simulated instrument answering on a bare pseudo-terminal, so that the test can pull the plug.
TEST(InstrumentWindowWithSimulator, APortGoneWhileTheCurrentIsFixedLeavesTheBannerSayingItMayStillBe) {
  OpenWindow w;
  SimHartInstrument instrument;
  InstrumentWindow &window = OpenInstrument(*w.form);
  int busy = 2;  // the first two reads of the tag are answered "busy"
  int tagReads = 0;
  auto serve = [&](const char *button) {
    Click(&window, button);
    while (!window.Idle()) {
      Pump(5);
      const std::vector<uint8_t> request = w.peer->Read(std::chrono::milliseconds(40), std::chrono::milliseconds(20));
      if (request.empty()) continue;
      std::vector<uint8_t> reply = instrument.Answer(request, 0);
      if (ReadRequest(QByteArray(reinterpret_cast<const char *>(request.data()), static_cast<int>(request.size()))).command ==
          hart::kReadTagDescriptorDate) {
        ++tagReads;
        if (busy-- > 0) {  // the same reply cut to its status bytes: response code 32
          size_t at = 0;
          while (reply[at] == hart::kPreamble) ++at;
          const size_t count = at + 1 + hart::kLongAddressLength + 1;
          reply.resize(count + 3);
          reply[count] = 2;
          reply[count + 1] = hart::kBusy;
          reply[count + 2] = 0;
          reply.push_back(HartChecksum(reply.data() + at, reply.size() - at));
        }
      }
      w.peer->Write(reply);
    }
  };
  serve("ReadButton");
  EXPECT_EQ(tagReads, 3) << "busy is asked again twice";
  EXPECT_EQ(Setting(window, "tag"), "FT-101");
  serve("Loop12mA");
  ASSERT_TRUE(instrument.CurrentFixed());
  ASSERT_EQ(window.LoopState(), InstrumentWindow::Loop::Fixed);

  w.peer->HangUp();
  window.close();
  ASSERT_TRUE(WaitUntil([&] { return window.Idle(); }, kChainMs));
  EXPECT_EQ(window.LoopState(), InstrumentWindow::Loop::MayBeFixed);
  const QString banner = Text(&window, "LoopBanner");
  EXPECT_TRUE(banner.contains("may still be fixed at 12 mA")) << banner.toStdString();
  EXPECT_TRUE(Find<QPushButton>(&window, "EndTestButton")->isEnabled());
  // Told at once, with what ended the port, rather than after the reply's time limit.
  EXPECT_TRUE(Text(&window, "InstrumentStatus").startsWith("The port went away: the adapter was unplugged (EIO); command 40"))
      << Text(&window, "InstrumentStatus").toStdString();
}

}  // namespace
