// The measuring side of the benchmark: each mode runs in a fresh process of its own and prints
// "key value" lines for the parent to collect.
#include "bench/children.h"

#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QApplication>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QEventLoop>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <thread>
#include <vector>

#include "app/main_window.h"
#include "app/line_log.h"
#include "bench/bench_util.h"
#include "pty/pty_write.h"
#include "serial/tcomm.h"
#include "sim/module.h"

namespace bench {
namespace {

constexpr int kReceiveWaitMs = 300;   // the receive handler's wait
constexpr int kLineSilenceMs = 100;   // the read worker ends a delivery after this much silence
constexpr int kParseTimerMs = 300;    // Timer2
constexpr int kExchangeLimitMs = 5000;
constexpr std::chrono::milliseconds kWriteLimit(60000);  // what a pseudo-terminal peer may wait to write

void Print(const char *key, double value) {
  std::printf("%s %.6f\n", key, value);
  std::fflush(stdout);
}

// Calls `done` once, after the first paint of any widget of `window` that follows Arm(): at the
// end of that round of painting, when the backing store has been flushed to the screen.
class PaintWatch : public QObject {
 public:
  explicit PaintWatch(QWidget *window) : window_(window) { qApp->installEventFilter(this); }
  void Arm(std::function<void()> done) {
    done_ = std::move(done);
    armed_ = true;
  }

 protected:
  bool eventFilter(QObject *watched, QEvent *event) override {
    if (armed_ && event->type() == QEvent::Paint && watched->isWidgetType() &&
        static_cast<QWidget *>(watched)->window() == window_) {
      armed_ = false;
      QTimer::singleShot(0, this, [this] {
        if (done_) done_();
      });
    }
    return false;
  }

 private:
  QWidget *window_;
  std::function<void()> done_;
  bool armed_ = false;
};

QTimer *Timer2Of(TForm1 &form) { return form.findChild<QTimer *>(QStringLiteral("Timer2"), Qt::FindDirectChildrenOnly); }

bool OpenPort(TForm1 &form, const std::string &path) {
  auto *port = form.findChild<QComboBox *>(QStringLiteral("SPREALCOM"));
  port->lineEdit()->setText(QString::fromStdString(path));
  form.findChild<QPushButton *>(QStringLiteral("Button1"))->click();
  return form.Cycle().PortOpen();
}

// Runs the event loop until `signalled` quits it or the limit passes; false on the limit.
template <typename Sender, typename Signal>
bool WaitFor(Sender *sender, Signal signal, int limitMs) {
  QEventLoop loop;
  QTimer guard;
  guard.setSingleShot(true);
  QObject::connect(&guard, &QTimer::timeout, &loop, [&] { loop.exit(1); });
  QObject::connect(sender, signal, &loop, [&] { loop.exit(0); });
  guard.start(limitMs);
  return loop.exec() == 0;
}

void Settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Process start (taken by the parent just before it created this process) to the first painted
// window. QApplication, TForm1 with its start-up, show and the first paint all count.
int Startup(int argc, char **argv) {
  Print("main_at_ns", static_cast<double>(NowNs()));
  QApplication app(argc, argv);
  Print("app_at_ns", static_cast<double>(NowNs()));
  TForm1 form;
  Print("form_at_ns", static_cast<double>(NowNs()));
  PaintWatch watch(&form);
  watch.Arm([&] {
    Print("painted_at_ns", static_cast<double>(NowNs()));
    app.quit();
  });
  form.show();
  QTimer::singleShot(10000, &app, [&] { app.exit(1); });
  const int rc = app.exec();
  Print("rss_kb", static_cast<double>(RssKb()));
  return rc;
}

// The far end of the line: answers each request as the module does and notes when the last
// byte of each answer was written.
class SimPeer {
 public:
  explicit SimPeer(int master) : master_(master), thread_([this] { Run(); }) {}
  ~SimPeer() {
    stop_ = true;
    thread_.join();
  }
  int64_t LastAnswerNs() const { return lastAnswerNs_.load(); }

 private:
  void Run() {
    SimModule module;
    std::vector<uint8_t> request;
    uint8_t chunk[512];
    while (!stop_) {
      pollfd p{master_, POLLIN, 0};
      // A request ends at 20 ms of quiet, as rq735-sim has it.
      const int ready = poll(&p, 1, request.empty() ? 50 : 20);
      if (ready > 0) {
        const ssize_t n = read(master_, chunk, sizeof chunk);
        if (n > 0) request.insert(request.end(), chunk, chunk + n);
        continue;
      }
      if (request.empty()) continue;
      const std::vector<uint8_t> answer = module.Answer(request);
      request.clear();
      if (answer.empty()) continue;
      WriteAll(master_, answer.data(), answer.size(), kWriteLimit);
      lastAnswerNs_ = NowNs();
    }
  }

  int master_;
  std::atomic<bool> stop_{false};
  std::atomic<int64_t> lastAnswerNs_{0};
  std::thread thread_;
};

// From the last reply byte written by the peer to the reply painted in "Receive Buffer:", and to
// the parsed values painted after the parse timer, less the fixed waits of the design.
int Latency(int argc, char **argv, int samples) {
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  Settle(200);
  Pty pty;
  if (!pty.Ok() || !OpenPort(form, pty.SlavePath())) return 2;
  SimPeer peer(pty.Master());
  PaintWatch watch(&form);
  auto *memo = form.findChild<QPlainTextEdit *>(QStringLiteral("Memo10"));
  QTimer *timer2 = Timer2Of(form);

  int64_t shownNs = 0, parsedNs = 0;
  QEventLoop *waiting = nullptr;
  // The receive handler fills Memo10; the parser runs on Timer2's tick, after the window's own
  // connection to it.
  QObject::connect(memo, &QPlainTextEdit::textChanged, [&] {
    if (!memo->toPlainText().isEmpty()) watch.Arm([&] { shownNs = NowNs(); });
  });
  QObject::connect(timer2, &QTimer::timeout, [&] {
    watch.Arm([&] {
      parsedNs = NowNs();
      if (waiting) waiting->quit();
    });
  });

  // The system-parameter reply fills "MODBUS slave address:" and the HART interval: they are
  // emptied first so that the parse has something to repaint.
  auto *address = form.findChild<QLineEdit *>(QStringLiteral("Edit14"));
  auto *interval = form.findChild<QLineEdit *>(QStringLiteral("Edit6"));
  auto exchange = [&] {
    address->clear();
    interval->clear();
    Settle(50);
    shownNs = parsedNs = 0;
    form.findChild<QPushButton *>(QStringLiteral("Button23"))->click();
    QEventLoop loop;
    waiting = &loop;
    QTimer::singleShot(kExchangeLimitMs, &loop, &QEventLoop::quit);
    loop.exec();
    waiting = nullptr;
    return shownNs && parsedNs;
  };

  // The communication query first, as a user starts.
  form.findChild<QPushButton *>(QStringLiteral("Button6"))->click();
  if (!WaitFor(timer2, &QTimer::timeout, kExchangeLimitMs)) return 3;
  Settle(50);
  std::vector<double> shown, parsed;
  for (int i = 0; i < samples; ++i) {
    if (!exchange()) return 4;
    const int64_t last = peer.LastAnswerNs();
    shown.push_back((shownNs - last) / 1e6 - kLineSilenceMs - kReceiveWaitMs);
    parsed.push_back((parsedNs - last) / 1e6 - kLineSilenceMs - kReceiveWaitMs - kParseTimerMs);
  }
  Print("shown_ms", Median(shown));
  Print("parsed_ms", Median(parsed));
  return 0;
}

// CPU time used while the window sits idle with its port open.
int Idle(int argc, char **argv, int seconds) {
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  Pty pty;
  if (!pty.Ok() || !OpenPort(form, pty.SlavePath())) return 2;
  Settle(1000);
  const int64_t cpu0 = CpuNs(), wall0 = NowNs();
  Settle(seconds * 1000);
  const int64_t cpu1 = CpuNs(), wall1 = NowNs();
  Print("idle_cpu_ms", (cpu1 - cpu0) / 1e6);
  Print("idle_wall_s", (wall1 - wall0) / 1e9);
  return 0;
}

// Resident memory after start-up and after request-reply cycles against rq735-sim.
int Memory(int argc, char **argv, const std::string &simPath, int cycles) {
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  Settle(300);
  Print("rss_startup_kb", static_cast<double>(RssKb()));

  Child sim = Spawn(simPath, {"--no-publish", "--quiet"});
  std::string line;
  if (sim.pid < 0 || !ReadLine(sim.out, &line, 5000) || line.rfind("rq735-sim: ", 0) != 0) return 2;
  std::string port = line.substr(std::strlen("rq735-sim: "));
  port = port.substr(0, port.find(' '));
  const int rc = [&] {
    if (!OpenPort(form, port)) return 3;
    QTimer *timer2 = Timer2Of(form);
    auto click = [&](const char *button) {
      form.findChild<QPushButton *>(QString::fromLatin1(button))->click();
      return WaitFor(timer2, &QTimer::timeout, kExchangeLimitMs);
    };
    if (!click("Button6")) return 4;
    int failed = 0;
    for (int i = 1; i <= cycles; ++i) {
      // The system-parameter query: the longest reply and the parser that fills most controls.
      if (!click("Button23")) ++failed;
      if (i == 100) Print("rss_100_kb", static_cast<double>(RssKb()));
    }
    Print("rss_end_kb", static_cast<double>(RssKb()));
    Print("failed_cycles", failed);
    return 0;
  }();
  kill(sim.pid, SIGTERM);
  close(sim.out);
  waitpid(sim.pid, nullptr, 0);
  return rc;
}

// Bytes per second through TComm on a pseudo-terminal, each way, with every byte checked.
int Throughput(int argc, char **argv, int baud, size_t bytes) {
  QCoreApplication app(argc, argv);
  std::vector<uint8_t> data(bytes);
  for (size_t i = 0; i < bytes; ++i) data[i] = static_cast<uint8_t>((i * 7 + 3) % 251);

  Pty pty;
  TComm comm;
  comm.SetCommName(QString::fromStdString(pty.SlavePath()));
  comm.SetBaudRate(static_cast<uint32_t>(baud));
  comm.SetOutx_XonXoffFlow(false);
  comm.SetInx_XonXoffFlow(false);
  try {
    comm.OpenPort();
  } catch (const ECommsError &e) {
    std::fprintf(stderr, "rq735-bench: %s\n", e.what());
    return 2;
  }

  // Peer to TComm.
  std::vector<uint8_t> received;
  received.reserve(bytes);
  QEventLoop loop;
  comm.OnReceiveData = [&](TComm *, const uint8_t *buffer, uint16_t length) {
    received.insert(received.end(), buffer, buffer + length);
    if (received.size() >= bytes) loop.quit();
  };
  const int64_t rx0 = NowNs();
  std::thread writer([&] { WriteAll(pty.Master(), data.data(), data.size(), kWriteLimit); });
  QTimer::singleShot(60000, &loop, &QEventLoop::quit);
  loop.exec();
  const int64_t rx1 = NowNs();
  writer.join();
  Print("rx_bytes_per_s", received.size() * 1e9 / (rx1 - rx0));
  Print("rx_intact", received == data ? 1 : 0);

  // TComm to peer.
  std::vector<uint8_t> arrived;
  arrived.reserve(bytes);
  const int64_t tx0 = NowNs();
  std::thread reader([&] {
    uint8_t chunk[4096];
    const int64_t deadline = NowNs() + 60000000000LL;
    while (arrived.size() < bytes && NowNs() < deadline) {
      pollfd p{pty.Master(), POLLIN, 0};
      if (poll(&p, 1, 100) <= 0) continue;
      const ssize_t n = read(pty.Master(), chunk, sizeof chunk);
      if (n > 0) arrived.insert(arrived.end(), chunk, chunk + n);
    }
  });
  constexpr size_t kChunk = 4096;
  for (size_t at = 0; at < bytes; at += kChunk)
    comm.WriteData(data.data() + at, static_cast<uint16_t>(std::min(kChunk, bytes - at)));
  reader.join();
  const int64_t tx1 = NowNs();
  Print("tx_bytes_per_s", arrived.size() * 1e9 / (tx1 - tx0));
  Print("tx_intact", arrived == data ? 1 : 0);
  comm.ClosePort();
  return 0;
}

}  // namespace

// 100 000 frames through the window's traffic ring, half requests and half replies the size of
// a system-parameter answer, with the monitor closed and then open.
int Ring(int argc, char **argv) {
  QApplication app(argc, argv);
  TForm1 form;
  form.show();
  QCoreApplication::processEvents();
  Print("rss_ring_start_kb", static_cast<double>(RssKb()));
  const std::string request = "QQQ#QX#";
  const std::string reply = "QX#BA2:30#MD:0#ADR:001#XY:0#JTM:010#AIN:020.00,004.00,00000#ZOM:0.000#ADX:9999#";
  auto pour = [&](int frames) {
    for (int i = 0; i < frames; ++i) {
      const std::string &frame = i % 2 == 0 ? request : reply;
      form.Traffic().Record(i % 2 == 0 ? LineDirection::Sent : LineDirection::Received,
                            reinterpret_cast<const uint8_t *>(frame.data()), frame.size());
    }
    QCoreApplication::processEvents();
  };
  pour(100000);
  Print("rss_ring_closed_kb", static_cast<double>(RssKb()));
  form.ShowMonitor();
  pour(100000);
  Print("rss_ring_open_kb", static_cast<double>(RssKb()));
  return 0;
}

int RunChild(const std::string &mode, int argc, char **argv, const ChildOptions &options) {
  if (mode == "ring") return Ring(argc, argv);
  if (mode == "startup") return Startup(argc, argv);
  if (mode == "latency") return Latency(argc, argv, options.samples);
  if (mode == "idle") return Idle(argc, argv, options.idleSeconds);
  if (mode == "memory") return Memory(argc, argv, options.simPath, options.cycles);
  if (mode == "throughput") return Throughput(argc, argv, options.baud, options.bytes);
  std::fprintf(stderr, "rq735-bench: unknown child mode %s\n", mode.c_str());
  return 2;
}

}  // namespace bench
