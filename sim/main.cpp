// rq735-sim: a converter module on a pseudo-terminal.
//
// Opens a pseudo-terminal, publishes its slave side where the configuration program's port list
// finds it, and answers each request written to it the way the module would.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "protocol/line_decoder.h"
#include "pty/pty_write.h"
#include "pty/sim_ports.h"
#include "sim/module.h"
#include "rq735_version.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

constexpr milliseconds kRequestSilence(20);  // a request ends at this much quiet on the line
constexpr milliseconds kAnswerDelay(15);     // the module's think time before it answers
constexpr milliseconds kWriteLimit(1000);    // give up an answer nobody reads
constexpr size_t kMaxRequest = 4096;

volatile sig_atomic_t gStopSignal = 0;

void OnStopSignal(int signal) { gStopSignal = signal; }

struct Options {
  bool quiet = false;
  bool publish = true;
  bool trace = false;
  bool frozen = false;
  SimHartOptions hart;
};

void PrintUsage(FILE *out) {
  std::fprintf(out,
               "usage: rq735-sim [--quiet] [--no-publish] [--frozen] [--hart7] [--write-protect] [-v]\n"
               "                 [--version]\n"
               "Simulates an RQ735 converter module, with a HART instrument behind it, on a\n"
               "pseudo-terminal.\n"
               "  --quiet       print only the port line\n"
               "  --no-publish  do not publish the port in %s\n"
               "  --frozen      hold the instrument's values still (12 mA, 60 m3/h, 21.5 degC,\n"
               "                2.5 bar, 1000 m3)\n"
               "  --hart7       the instrument answers as universal revision 7 (default 5)\n"
               "  --write-protect  the instrument refuses every write (response code 7)\n"
               "  -v            trace requests and answers\n"
               "The first line printed names the port to open. Stop with Ctrl-C.\n",
               SimulatedPortDirectory().c_str());
}

// Waits for the master to become readable, for `timeout` at most (negative: no limit), while
// letting the stop signals through. Returns >0 readable, 0 timed out, <0 interrupted or error.
int WaitReadable(int fd, milliseconds timeout, const sigset_t &unblocked) {
  pollfd p{fd, POLLIN, 0};
  timespec ts{};
  timespec *limit = nullptr;
  if (timeout.count() >= 0) {
    ts.tv_sec = static_cast<time_t>(timeout.count() / 1000);
    ts.tv_nsec = static_cast<long>((timeout.count() % 1000) * 1000000);
    limit = &ts;
  }
  return ppoll(fd >= 0 ? &p : nullptr, fd >= 0 ? 1 : 0, limit, &unblocked);
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--quiet" || arg == "-q") {
      options.quiet = true;
    } else if (arg == "--no-publish") {
      options.publish = false;
    } else if (arg == "--frozen") {
      options.frozen = true;
    } else if (arg == "--hart7") {
      options.hart.universalRevision = 7;
    } else if (arg == "--write-protect") {
      options.hart.writeProtect = true;
    } else if (arg == "-v" || arg == "--verbose") {
      options.trace = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 0;
    } else if (arg == "--version") {
      std::printf("rq735-sim %s\n", RQ735_VERSION);
      return 0;
    } else {
      std::fprintf(stderr, "rq735-sim: unknown option %s\n", arg.c_str());
      PrintUsage(stderr);
      return 2;
    }
  }
  if (options.quiet) options.trace = false;

  // The stop signals stay blocked except while waiting in ppoll, so none is lost between a check
  // of gStopSignal and the wait.
  struct sigaction action {};
  action.sa_handler = OnStopSignal;
  sigemptyset(&action.sa_mask);
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
  sigaction(SIGHUP, &action, nullptr);
  signal(SIGPIPE, SIG_IGN);
  sigset_t stopSignals, unblocked;
  sigemptyset(&stopSignals);
  sigaddset(&stopSignals, SIGINT);
  sigaddset(&stopSignals, SIGTERM);
  sigaddset(&stopSignals, SIGHUP);
  sigprocmask(SIG_BLOCK, &stopSignals, &unblocked);
  sigdelset(&unblocked, SIGINT);
  sigdelset(&unblocked, SIGTERM);
  sigdelset(&unblocked, SIGHUP);

  const int master = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  char slaveName[128] = {};
  if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 ||
      ptsname_r(master, slaveName, sizeof slaveName) != 0) {
    std::fprintf(stderr, "rq735-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
    return 1;
  }
  const std::string slavePath = slaveName;
  // Kept open for the whole run: when the program closes its side, the master sees no hang-up.
  const int keptSlave = open(slaveName, O_RDWR | O_NOCTTY | O_CLOEXEC);
  if (keptSlave < 0) {
    std::fprintf(stderr, "rq735-sim: cannot open %s: %s\n", slaveName, std::strerror(errno));
    return 1;
  }
  termios raw{};
  if (tcgetattr(keptSlave, &raw) == 0) {
    cfmakeraw(&raw);
    tcsetattr(keptSlave, TCSANOW, &raw);
  }
  fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);

  std::string published;
  if (options.publish) {
    std::string why;
    published = PublishSimulatedPort(slavePath, getpid(), &why);
    if (published.empty()) std::fprintf(stderr, "rq735-sim: not published: %s\n", why.c_str());
  }
  if (published.empty())
    std::printf("rq735-sim: %s\n", slavePath.c_str());
  else
    std::printf("rq735-sim: %s (%s)\n", published.c_str(), slavePath.c_str());
  std::fflush(stdout);

  SimModule module(options.hart);
  const Clock::time_point started = Clock::now();
  std::vector<uint8_t> request;
  Clock::time_point lastByte{};
  uint8_t chunk[512];
  int status = 0;

  while (!gStopSignal) {
    milliseconds wait(-1);
    if (!request.empty()) {
      const auto quietFor = std::chrono::duration_cast<milliseconds>(Clock::now() - lastByte);
      wait = quietFor >= kRequestSilence ? milliseconds(0) : kRequestSilence - quietFor;
    }
    const int ready = WaitReadable(master, wait, unblocked);
    if (ready < 0) {
      if (errno == EINTR) continue;
      std::fprintf(stderr, "rq735-sim: poll: %s\n", std::strerror(errno));
      status = 1;
      break;
    }
    if (ready > 0) {
      const ssize_t n = ::read(master, chunk, sizeof chunk);
      if (n > 0) {
        const size_t take = std::min(static_cast<size_t>(n), kMaxRequest - request.size());
        request.insert(request.end(), chunk, chunk + take);
        lastByte = Clock::now();
        if (request.size() < kMaxRequest) continue;
      } else if (n < 0 && (errno == EAGAIN || errno == EINTR)) {
        continue;
      } else {
        // Only a failure of the pseudo-terminal itself gets here.
        std::fprintf(stderr, "rq735-sim: read: %s\n", n < 0 ? std::strerror(errno) : "end of file");
        status = 1;
        break;
      }
    }
    if (request.empty()) continue;

    const SimModuleState before = module.State();
    const int pollingBefore = module.Instrument().PollingAddress();
    if (!options.frozen)
      module.SetClock(std::chrono::duration<double>(Clock::now() - started).count());
    const std::vector<uint8_t> answer = module.Answer(request);
    if (options.trace) std::printf("<- %s\n", TraceText(request.data(), request.size(), LineDirection::Sent).c_str());
    request.clear();
    if (!answer.empty()) {
      WaitReadable(-1, kAnswerDelay, unblocked);
      if (gStopSignal) break;
      WriteAll(master, answer.data(), answer.size(), kWriteLimit, &unblocked, &gStopSignal);
      if (options.trace) std::printf("-> %s\n", TraceText(answer.data(), answer.size(), LineDirection::Received).c_str());
    }
    const SimModuleState &after = module.State();
    if (!options.quiet &&
        (after.baudIndex != before.baudIndex || after.parityIndex != before.parityIndex))
      std::printf("rq735-sim: RS485 line now %s baud, parity %s\n",
                  SimModule::BaudRateText(after.baudIndex), SimModule::ParityText(after.parityIndex));
    if (!options.quiet && module.Instrument().PollingAddress() != pollingBefore)
      std::printf("rq735-sim: HART polling address now %d\n", module.Instrument().PollingAddress());
    std::fflush(stdout);
  }

  if (gStopSignal && !options.quiet)
    std::printf("rq735-sim: stopped by signal %d\n", static_cast<int>(gStopSignal));
  UnpublishSimulatedPort(published, slavePath);
  std::fflush(stdout);
  close(keptSlave);
  close(master);
  return status;
}
