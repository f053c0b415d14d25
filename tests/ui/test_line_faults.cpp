// Faults on the line, driven through a pseudo-terminal: the far end vanishing, floods, replies in
// pieces or without end, bytes nobody asked for, and deliveries while a message box is open. After
// each fault the port is closed and opened again and a normal exchange must still work.
#include <QEventLoop>
#include <QLabel>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <sys/resource.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <iostream>
#include <random>
#include <thread>

#include "app/main_window.h"
#include "protocol/config_frame.h"
#include "protocol/hex.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;
using std::chrono::milliseconds;

namespace {

// Counts what the port delivers to the window, then hands each delivery on unchanged.
class Deliveries {
 public:
  explicit Deliveries(TForm1 &form) : comm_(form.Comm1()), original_(comm_->OnReceiveData) {
    comm_->OnReceiveData = [this](TComm *sender, const uint8_t *buffer, uint16_t length) {
      ++count;
      bytes += length;
      largest = std::max<int>(largest, length);
      last.assign(buffer, buffer + length);
      original_(sender, buffer, length);
    };
  }
  ~Deliveries() { comm_->OnReceiveData = original_; }

  bool WaitForBytes(size_t n, int timeoutMs) {
    return WaitUntil([&] { return bytes >= n; }, timeoutMs);
  }

  int count = 0;
  size_t bytes = 0;
  int largest = 0;
  std::vector<uint8_t> last;

 private:
  TComm *comm_;
  TReceiveDataEvent original_;
};

std::vector<uint8_t> RandomBytes(size_t n, uint32_t seed) {
  std::mt19937 random(seed);
  std::vector<uint8_t> out(n);
  for (auto &b : out) b = static_cast<uint8_t>(random());
  return out;
}

double CpuMs() {
  rusage u{};
  getrusage(RUSAGE_SELF, &u);
  auto ms = [](const timeval &t) { return t.tv_sec * 1000.0 + t.tv_usec / 1000.0; };
  return ms(u.ru_utime) + ms(u.ru_stime);
}

// Lets the event loop idle (blocked in the kernel, not polling) for the given time.
void IdleLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Writes pieces to the peer from another thread, `gap` apart, while the window keeps running.
class Trickle {
 public:
  Trickle(PtyPeer &peer, std::vector<std::vector<uint8_t>> pieces, milliseconds gap)
      : thread_([this, &peer, pieces = std::move(pieces), gap] {
          for (size_t i = 0; i < pieces.size(); ++i) {
            if (i > 0) std::this_thread::sleep_for(gap);
            peer.Write(pieces[i]);
          }
          done_ = true;
        }) {}
  ~Trickle() { thread_.join(); }
  bool Done() const { return done_; }

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

// Closes the port, opens it again on the same peer and runs one communication query through it.
void ReopenAndExchange(OpenWindow &w, const std::string &tag) {
  SCOPED_TRACE("close and open again after: " + tag);
  TForm1 &form = *w.form;
  Click(&form, "Button1");
  ASSERT_FALSE(form.Cycle().PortOpen());
  ASSERT_FALSE(form.Comm1()->IsOpen());
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  w.peer->Drain();

  Click(&form, "Button6");
  EXPECT_EQ(w.peer->ReadText(), "QQQ#QV#");
  w.peer->Write("QV:AGAIN#");
  EXPECT_EQ(WaitForReceiveBox(form), "QV:AGAIN#");
  EXPECT_TRUE(WaitUntil([&] { return form.Cycle().PendingReply() == 0 && !Timer(form, "Timer2")->isActive(); }, 1500));
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
}

TEST(LineFaults, PeerVanishingLeavesNoBusyLoopAndAFreshPortWorks) {
  OpenWindow w;
  TForm1 &form = *w.form;
  const QString deadPath = QString::fromStdString(w.peer->SlavePath());

  w.peer->HangUp();
  // Give the workers a moment to notice, then measure an idle stretch.
  IdleLoop(200);
  const double cpuBefore = CpuMs();
  QElapsedTimer wall;
  wall.start();
  IdleLoop(5000);
  const double cpu = CpuMs() - cpuBefore;
  std::cout << "[ line faults ] CPU time over " << wall.elapsed() << " ms after the hang-up: " << cpu << " ms"
            << std::endl;
  EXPECT_LT(cpu, 250.0) << "something spins after the far end went away";

  // The program binds no hang-up handler: the port still counts as open, and a request simply
  // gets no answer.
  MessageCatcher catcher;
  EXPECT_TRUE(form.Cycle().PortOpen());
  Click(&form, "Button6");
  ASSERT_TRUE(catcher.WaitForCount(1, 4000));
  EXPECT_EQ(catcher.Messages()[0].text, "Connection timeout!");

  // Close works; the vanished device cannot be opened again.
  Click(&form, "Button1");
  EXPECT_FALSE(form.Cycle().PortOpen());
  EXPECT_FALSE(form.Comm1()->IsOpen());
  catcher.Clear();
  Click(&form, "Button1");
  ASSERT_TRUE(catcher.WaitForCount(1));
  EXPECT_EQ(catcher.Messages()[0].text, "Error opening serial port.");
  EXPECT_FALSE(form.Cycle().PortOpen());
  EXPECT_EQ(Text(&form, "SPREALCOM"), deadPath);

  // A new device opens and answers.
  w.peer = std::make_unique<PtyPeer>();
  TypeInto(Find<QComboBox>(&form, "SPREALCOM"), QString::fromStdString(w.peer->SlavePath()));
  Click(&form, "Button1");
  ASSERT_TRUE(form.Cycle().PortOpen());
  ReopenAndExchange(w, "hang-up");
  EXPECT_EQ(catcher.Messages().size(), 1u);
}

TEST(LineFaults, FloodOfRandomBytesIsCutIntoBoundedDeliveriesForEveryPendingCode) {
  OpenWindow w;
  TForm1 &form = *w.form;
  MessageCatcher catcher;  // parsers of garbage may complain; they must not crash
  Deliveries deliveries(form);

  uint8_t frameArea[TransmitView::kRoom];
  std::memcpy(frameArea, form.Cycle().Transmit().Data(), sizeof frameArea);

  uint32_t seed = 735;
  for (int32_t code : {100, 103, 104, 201, 202, 301, 0}) {
    SCOPED_TRACE("pending code " + std::to_string(code));
    const auto flood = RandomBytes(5000, seed++);
    const size_t before = deliveries.bytes;
    const int countBefore = deliveries.count;
    Click(&form, "Button26");
    SetCodes(form, code, 2);
    w.peer->Write(flood);
    ASSERT_TRUE(deliveries.WaitForBytes(before + flood.size(), 6000)) << deliveries.bytes - before;
    EXPECT_EQ(deliveries.bytes - before, flood.size());
    EXPECT_GE(deliveries.count - countBefore, 3) << "5000 bytes cannot fit fewer than three deliveries";
    EXPECT_LE(deliveries.largest, TComm::kReadBufferSize);

    // The last delivery is what the window shows, cut to 255 characters.
    const auto &last = deliveries.last;
    ASSERT_FALSE(last.empty());
    EXPECT_TRUE(std::equal(last.begin(), last.end(), flood.end() - static_cast<std::ptrdiff_t>(last.size())));
    const size_t kept = std::min<size_t>(last.size(), static_cast<size_t>(kReplyTextMax));
    EXPECT_EQ(form.Cycle().ReplyText(),
              QByteArray(reinterpret_cast<const char *>(last.data()), static_cast<int>(kept)));
    // 104 stays pending and shows every delivery in hexadecimal; 100 and 103 are done after the
    // parse of the deliveries that came before it, so the rest arrive with nothing pending.
    if (code == 104)
      EXPECT_EQ(Text(&form, "Memo10").size(), static_cast<int>(3 * kept));
    else
      EXPECT_FALSE(Text(&form, "Memo10").isEmpty());

    EXPECT_TRUE(WaitUntil([&] { return !Timer(form, "Timer2")->isActive(); }, 1000));
    const int32_t after = (code == 202 || code == 301 || code == 104) ? code : 0;
    EXPECT_EQ(form.Cycle().PendingReply(), after);
  }
  EXPECT_EQ(0, std::memcmp(frameArea, form.Cycle().Transmit().Data(), sizeof frameArea))
      << "a delivery reached the transmit area";

  ReopenAndExchange(w, "flood");
}

TEST(LineFaults, ReplyInPiecesEndsUpWholeOrAsItsLastPiece) {
  OpenWindow w;
  TForm1 &form = *w.form;
  Deliveries deliveries(form);

  // Single bytes 5 ms apart never leave 100 ms of silence: one delivery, parsed whole.
  const std::string reply = "QV:RQ735 IN THIRTY-ONE PIECES#";
  std::vector<std::vector<uint8_t>> bytes;
  for (char c : reply) bytes.push_back({static_cast<uint8_t>(c)});
  Click(&form, "Button6");
  EXPECT_EQ(w.peer->ReadText(), "QQQ#QV#");
  {
    Trickle trickle(*w.peer, bytes, milliseconds(5));
    ASSERT_TRUE(deliveries.WaitForBytes(reply.size(), 4000));
  }
  EXPECT_EQ(WaitForReceiveBox(form), QString::fromLatin1(reply.c_str()));
  EXPECT_TRUE(WaitUntil([&] { return form.Cycle().PendingReply() == 0 && !Timer(form, "Timer2")->isActive(); }, 1000));
  EXPECT_EQ(form.Cycle().TimeoutKind(), 0);

  // Pieces 150 ms apart are separate deliveries; each replaces the last, and the first one ends
  // the wait of a setting.
  const std::vector<std::vector<uint8_t>> pieces = {{'O'}, {'K'}, {'#', 0x00}, {'\r', '\n'}, {'e', 'n', 'd'}};
  const int countBefore = deliveries.count;
  const size_t bytesBefore = deliveries.bytes;
  SetPending(form, 200);
  Timer(form, "Timer3")->start();
  {
    Trickle trickle(*w.peer, pieces, milliseconds(150));
    ASSERT_TRUE(deliveries.WaitForBytes(bytesBefore + 9, 5000));
  }
  EXPECT_EQ(deliveries.count - countBefore, 5);
  EXPECT_EQ(form.Cycle().ReplyText(), "end");
  EXPECT_EQ(Text(&form, "Memo10"), "end");
  EXPECT_EQ(form.Cycle().PendingReply(), 0);
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
  EXPECT_FALSE(Timer(form, "Timer2")->isActive());

  ReopenAndExchange(w, "pieces");
}

TEST(LineFaults, ReplyThatNeverFallsSilentKeepsTheWindowResponsive) {
  OpenWindow w;
  TForm1 &form = *w.form;
  MessageCatcher catcher;
  Deliveries deliveries(form);

  Click(&form, "Button6");
  EXPECT_EQ(w.peer->ReadText(), "QQQ#QV#");

  // A byte every 25 ms for 6 s (the reply still fits the receive area): the line is never quiet
  // for 100 ms, even when a loaded machine holds the sender back for a few tens of milliseconds.
  std::vector<std::vector<uint8_t>> bytes(240, std::vector<uint8_t>{'Z'});
  bytes.back() = {'#'};
  int deliveredDuringTrickle = 0;
  qint64 longestGap = 0;
  int timeoutAtMs = -1;
  {
    QElapsedTimer sinceStart;
    sinceStart.start();
    QElapsedTimer tick;
    tick.start();
    QTimer probe;
    probe.setInterval(20);
    QObject::connect(&probe, &QTimer::timeout, [&] {
      longestGap = std::max(longestGap, tick.restart());
      if (timeoutAtMs < 0 && !catcher.Messages().empty()) timeoutAtMs = static_cast<int>(sinceStart.elapsed());
    });
    probe.start();
    Trickle trickle(*w.peer, bytes, milliseconds(25));
    WaitUntil([&] { return trickle.Done(); }, 15000);
    deliveredDuringTrickle = deliveries.count;
    probe.stop();
  }
  std::cout << "[ line faults ] endless reply: longest event-loop gap " << longestGap << " ms, deliveries during it "
            << deliveredDuringTrickle << std::endl;

  // Meanwhile the window kept working: its time-out came on time.
  ASSERT_EQ(catcher.Messages().size(), 1u);
  EXPECT_EQ(catcher.Messages()[0].text, "Connection timeout!");
  EXPECT_NEAR(timeoutAtMs, 3000, 400);
  // One delivery would block the window for 300 ms; without one the loop never stalls that long.
  EXPECT_LT(longestGap, deliveredDuringTrickle == 0 ? 150 : 450);

  // The reply arrives once the line falls silent, and the pending query still takes it.
  ASSERT_TRUE(deliveries.WaitForBytes(bytes.size(), 3000));
  EXPECT_LE(deliveries.largest, TComm::kReadBufferSize);
  EXPECT_EQ(form.Cycle().ReplyText().size(), static_cast<int>(deliveries.last.size()));
  EXPECT_TRUE(form.Cycle().ReplyText().endsWith("ZZZ#"));
  EXPECT_TRUE(WaitUntil([&] { return form.Cycle().PendingReply() == 0 && !Timer(form, "Timer2")->isActive(); }, 1000));

  ReopenAndExchange(w, "endless reply");
}

TEST(LineFaults, BytesWithNothingPendingAreShownAndChangeNothingElse) {
  OpenWindow w;
  TForm1 &form = *w.form;
  MessageCatcher catcher;
  Deliveries deliveries(form);

  SetTimeoutKind(form, 2);
  uint32_t seed = 1;
  for (size_t n : {1u, 17u, 255u, 256u, 1500u}) {
    SCOPED_TRACE("burst of " + std::to_string(n));
    auto burst = RandomBytes(n, seed++);
    burst[0] = 0x00;  // a zero byte is a character like any other
    const size_t before = deliveries.bytes;
    w.peer->Write(burst);
    ASSERT_TRUE(deliveries.WaitForBytes(before + n, 3000));
    const size_t kept = std::min<size_t>(deliveries.last.size(), static_cast<size_t>(kReplyTextMax));
    EXPECT_EQ(form.Cycle().ReplyText().size(), static_cast<int>(kept));
    EXPECT_EQ(0, std::memcmp(form.Cycle().ReplyText().constData(), deliveries.last.data(), kept));
    EXPECT_FALSE(Text(&form, "Memo10").isEmpty());
    EXPECT_EQ(form.Cycle().PendingReply(), 0);
    EXPECT_EQ(form.Cycle().TimeoutKind(), 2);
    EXPECT_FALSE(Timer(form, "Timer2")->isActive());
    EXPECT_FALSE(Timer(form, "Timer3")->isActive());
  }
  Pump(50);
  EXPECT_TRUE(catcher.Messages().empty());

  ReopenAndExchange(w, "unasked bytes");
}

TEST(LineFaults, BurstsWhileATimeoutBoxIsOpenAreHandledInsideIt) {
  OpenWindow w;
  TForm1 &form = *w.form;
  Deliveries deliveries(form);
  auto *memo = Find<QPlainTextEdit>(&form, "Memo10");

  // A parameter query whose reply comes late: its time-out box is open while bytes arrive.
  SetCodes(form, 202, 2);
  Timer(form, "Timer3")->start();

  const auto noise = RandomBytes(3000, 99);
  int step = 0;
  bool boxSeen = false;
  QString boxText;
  QString parsedWhileOpen;
  QTimer driver;
  driver.setInterval(10);
  QObject::connect(&driver, &QTimer::timeout, [&] {
    auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
    if (!box) return;
    boxSeen = true;
    boxText = box->text();
    switch (step) {
      case 0:  // the late reply, parsed while the box is up
        w.peer->Write("QX#ADR:123#JTM:045#");
        step = 1;
        break;
      case 1:
        if (Text(&form, "Edit14") == "123" && !Timer(form, "Timer2")->isActive()) {
          parsedWhileOpen = Text(&form, "Edit6");
          w.peer->Write(noise);
          step = 2;
        }
        break;
      case 2:
        if (deliveries.bytes >= 19 + noise.size()) {
          step = 3;
          box->done(QMessageBox::Ok);
        }
        break;
      default:
        break;
    }
  });
  driver.start();
  ASSERT_TRUE(WaitUntil([&] { return step == 3 && !QApplication::activeModalWidget(); }, 8000)) << "step " << step;
  driver.stop();

  EXPECT_TRUE(boxSeen);
  EXPECT_EQ(boxText, "Parameter query timeout!");
  EXPECT_EQ(parsedWhileOpen, "045");
  EXPECT_GE(deliveries.count, 3);
  EXPECT_LE(deliveries.largest, TComm::kReadBufferSize);
  // The noise was routed like the reply before it: still the pending query, still parsed.
  EXPECT_EQ(form.Cycle().PendingReply(), 202);
  EXPECT_FALSE(memo->toPlainText().isEmpty());
  EXPECT_TRUE(WaitUntil([&] { return !Timer(form, "Timer2")->isActive(); }, 1000));
  EXPECT_FALSE(Timer(form, "Timer3")->isActive());
  EXPECT_EQ(Text(&form, "Edit14"), "123");

  ReopenAndExchange(w, "bursts under a message box");
}

}  // namespace
