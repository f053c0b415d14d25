// The rq735-sim program as a user runs it: it publishes a port, answers on it, and cleans up.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <string>
#include <vector>

#include "protocol/hart.h"
#include "pty/sim_ports.h"
#include "tests/support/runtime_directory.h"

extern char **environ;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// One rq735-sim process with its standard output on a pipe.
class SimRun {
 public:
  explicit SimRun(std::vector<std::string> args, bool hideErrors = false) {
    int fds[2];
    if (pipe2(fds, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, fds[1], STDOUT_FILENO);
    if (hideErrors) posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    args.insert(args.begin(), RQ735_SIM_PATH);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, RQ735_SIM_PATH, &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    close(fds[1]);
    out_ = fds[0];
  }
  ~SimRun() {
    if (pid_ > 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
  }

  bool Started() const { return pid_ > 0 && out_ >= 0; }

  // The next line of output without its line end; empty when none comes within the limit.
  std::string ReadLine(milliseconds limit = milliseconds(3000)) {
    const auto deadline = Clock::now() + limit;
    for (;;) {
      const size_t end = pending_.find('\n');
      if (end != std::string::npos) {
        std::string line = pending_.substr(0, end);
        pending_.erase(0, end + 1);
        return line;
      }
      if (!ReadMore(deadline)) return "";
    }
  }

  // Sends a signal and waits for the exit; returns the exit status, or -1.
  int Stop(int signal, milliseconds limit = milliseconds(3000)) {
    kill(pid_, signal);
    const auto deadline = Clock::now() + limit;
    while (ReadMore(deadline)) {
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) != pid_) return -1;
    pid_ = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  const std::string &Rest() const { return pending_; }

 private:
  bool ReadMore(Clock::time_point deadline) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) return false;
    char buffer[512];
    const ssize_t n = read(out_, buffer, sizeof buffer);
    if (n <= 0) return false;
    pending_.append(buffer, static_cast<size_t>(n));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string pending_;
};

// A port opened as a plain raw terminal.
int OpenRaw(const std::string &path) {
  const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return -1;
  termios t{};
  tcgetattr(fd, &t);
  cfmakeraw(&t);
  tcsetattr(fd, TCSANOW, &t);
  return fd;
}

// Writes a request and collects the answer until it ends with `last`, or the limit runs out.
std::string Exchange(int fd, const std::string &request, char last = '#',
                     milliseconds limit = milliseconds(2000)) {
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return "<write failed>";
  std::string answer;
  const auto deadline = Clock::now() + limit;
  while (answer.empty() || answer.back() != last) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    char buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) answer.append(buffer, static_cast<size_t>(n));
  }
  return answer;
}

// Writes binary request and reads until `expected` bytes came or the limit runs out.
std::vector<uint8_t> ExchangeBytes(int fd, const std::vector<uint8_t> &request, size_t expected,
                                   milliseconds limit = milliseconds(2000)) {
  if (write(fd, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
  std::vector<uint8_t> answer;
  const auto deadline = Clock::now() + limit;
  while (answer.size() < expected) {
    const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) break;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
    uint8_t buffer[256];
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) answer.insert(answer.end(), buffer, buffer + n);
  }
  return answer;
}

// The loop current of a HART command 3 reply to the simulated instrument's long address.
std::vector<uint8_t> CurrentBytes(int fd) {
  HartIdentity id;
  id.manufacturer = 0x26;
  id.deviceType = 0x06;
  id.deviceId = {0x00, 0x12, 0x34};
  const std::vector<uint8_t> reply = ExchangeBytes(fd, HartLongFrame(5, hart::kPrimaryMaster, id, 0x03), 40);
  if (reply.size() != 40) return {};
  return std::vector<uint8_t>(reply.begin() + 15, reply.begin() + 19);
}

// "rq735-sim: <link> (<device>)" or "rq735-sim: <device>".
struct PortLine {
  std::string link, device;
};

PortLine ParsePortLine(const std::string &line) {
  PortLine port;
  const std::string head = "rq735-sim: ";
  if (line.rfind(head, 0) != 0) return port;
  const std::string rest = line.substr(head.size());
  const size_t open = rest.find(" (");
  if (open == std::string::npos) {
    port.device = rest;
  } else if (rest.back() == ')') {
    port.link = rest.substr(0, open);
    port.device = rest.substr(open + 2, rest.size() - open - 3);
  }
  return port;
}

bool Exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

bool Listed(const std::string &path) {
  const std::vector<std::string> ports = ListSimulatedPorts();
  return std::find(ports.begin(), ports.end(), path) != ports.end();
}

}  // namespace

TEST(SimProgram, PublishesAnswersAndRemovesItsPort) {
  RuntimeDirectory runtime;
  SimRun sim({});
  ASSERT_TRUE(sim.Started());
  const PortLine port = ParsePortLine(sim.ReadLine());
  ASSERT_FALSE(port.link.empty()) << "no published link";
  EXPECT_EQ(port.link.rfind(SimulatedPortDirectory() + "/module-", 0), 0u) << port.link;
  EXPECT_EQ(port.device.rfind("/dev/pts/", 0), 0u) << port.device;
  EXPECT_TRUE(Listed(port.link));

  int fd = OpenRaw(port.link);
  ASSERT_GE(fd, 0);
  const auto sent = Clock::now();
  EXPECT_NE(Exchange(fd, "QQQ#QV#").find("QV:"), std::string::npos);
  const auto took = std::chrono::duration_cast<milliseconds>(Clock::now() - sent);
  EXPECT_LT(took.count(), 500) << "the answer must come well inside the reply time-out";

  // The program closing its port does not end the simulator; the settings survive the reopening.
  EXPECT_EQ(Exchange(fd, "QQS#ADR:123#"), "OK#");
  close(fd);
  fd = OpenRaw(port.link);
  ASSERT_GE(fd, 0);
  const std::string qx = Exchange(fd, "QQQ#QX#");
  EXPECT_NE(qx.find("ADR:123"), std::string::npos) << qx;

  // The RS485 setting is reported on the simulator's output.
  EXPECT_EQ(Exchange(fd, "QQS#BA2:42#"), "OK#");
  const std::string report = sim.ReadLine();
  EXPECT_NE(report.find("19200"), std::string::npos) << report;
  EXPECT_NE(report.find("Even"), std::string::npos) << report;
  close(fd);

  EXPECT_EQ(sim.Stop(SIGTERM), 0);
  EXPECT_FALSE(Exists(port.link));
  EXPECT_FALSE(Listed(port.link));
}

TEST(SimProgram, EveryStopSignalRemovesThePort) {
  RuntimeDirectory runtime;
  for (int signal : {SIGINT, SIGHUP}) {
    SimRun sim({"--quiet"});
    ASSERT_TRUE(sim.Started());
    const PortLine port = ParsePortLine(sim.ReadLine());
    ASSERT_TRUE(Exists(port.link)) << signal;
    EXPECT_EQ(sim.Stop(signal), 0) << signal;
    EXPECT_FALSE(Exists(port.link)) << signal;
    EXPECT_EQ(sim.Rest(), "") << "--quiet prints only the port line";
  }
}

TEST(SimProgram, UnpublishedPortAndCommandLine) {
  RuntimeDirectory runtime;
  {
    SimRun sim({"--no-publish", "-v"});
    ASSERT_TRUE(sim.Started());
    const PortLine port = ParsePortLine(sim.ReadLine());
    EXPECT_TRUE(port.link.empty());
    ASSERT_EQ(port.device.rfind("/dev/pts/", 0), 0u);
    EXPECT_TRUE(ListSimulatedPorts().empty());
    const int fd = OpenRaw(port.device);
    ASSERT_GE(fd, 0);
    EXPECT_EQ(Exchange(fd, "QQS#XY:9#"), "ERR#");
    close(fd);
    // The trace shows the request in hexadecimal and as text, then what it means; the same for the answer.
    EXPECT_NE(sim.ReadLine().find("51 51 53 23"), std::string::npos);
    EXPECT_NE(sim.ReadLine().find("QQS#XY:9#: set RS485 return time to '9'"), std::string::npos);
    EXPECT_NE(sim.ReadLine().find("ERR#"), std::string::npos);
    EXPECT_NE(sim.ReadLine().find("answer: ERR"), std::string::npos);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
  }
  {
    SimRun help({"--help"});
    EXPECT_NE(help.ReadLine().find("usage"), std::string::npos);
    EXPECT_EQ(help.Stop(0), 0);
  }
  {
    SimRun wrong({"--bogus"}, true);
    EXPECT_EQ(wrong.Stop(0), 2);
  }
}

TEST(SimProgram, InstrumentOnTheLine) {
  RuntimeDirectory runtime;
  {
    SimRun sim({"--no-publish"});
    ASSERT_TRUE(sim.Started());
    const PortLine port = ParsePortLine(sim.ReadLine());
    const int fd = OpenRaw(port.device);
    ASSERT_GE(fd, 0);
    // The instrument's clock runs: two readings a few milliseconds apart differ.
    const std::vector<uint8_t> first = CurrentBytes(fd);
    ASSERT_EQ(first.size(), 4u);
    EXPECT_NE(CurrentBytes(fd), first);
    // A new polling address is reported on the simulator's output.
    const std::vector<uint8_t> reply = ExchangeBytes(fd, HartShortFrame(5, hart::kPrimaryMaster, 0, 0x06, {4}), 13);
    ASSERT_EQ(reply.size(), 13u);
    EXPECT_EQ(reply[11], 4);
    EXPECT_NE(sim.ReadLine().find("HART polling address now 4"), std::string::npos);
    close(fd);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
  }
  {
    SimRun sim({"--no-publish", "--frozen", "--quiet"});
    ASSERT_TRUE(sim.Started());
    const PortLine port = ParsePortLine(sim.ReadLine());
    const int fd = OpenRaw(port.device);
    ASSERT_GE(fd, 0);
    // Held at 12 mA, the float 41 40 00 00.
    EXPECT_EQ(CurrentBytes(fd), (std::vector<uint8_t>{0x41, 0x40, 0x00, 0x00}));
    EXPECT_EQ(CurrentBytes(fd), (std::vector<uint8_t>{0x41, 0x40, 0x00, 0x00}));
    close(fd);
    EXPECT_EQ(sim.Stop(SIGTERM), 0);
  }
}
