// rq735-sim's MODBUS slave read by libmodbus, a MODBUS master we did not write, and compared with
// what the simulated instrument reports over HART on the same line.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <modbus/modbus.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <string>
#include <vector>

#include "protocol/hart.h"
#include "protocol/number_format.h"
#include "tests/support/sim_process.h"

namespace {

using Bytes = std::vector<uint8_t>;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

// The simulator's port opened as a plain raw terminal for one exchange at a time.
class PlainLine {
 public:
  explicit PlainLine(const std::string &path) {
    fd_ = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) return;
    termios t{};
    tcgetattr(fd_, &t);
    cfmakeraw(&t);
    tcsetattr(fd_, TCSANOW, &t);
  }
  ~PlainLine() {
    if (fd_ >= 0) close(fd_);
  }
  bool Open() const { return fd_ >= 0; }

  // Writes the request and reads until `expected` bytes came or the limit ran out.
  Bytes Exchange(const Bytes &request, size_t expected, milliseconds limit = milliseconds(2000)) {
    if (write(fd_, request.data(), request.size()) != static_cast<ssize_t>(request.size())) return {};
    Bytes answer;
    const auto deadline = Clock::now() + limit;
    while (answer.size() < expected) {
      const auto left = std::chrono::duration_cast<milliseconds>(deadline - Clock::now()).count();
      if (left <= 0) break;
      pollfd p{fd_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left)) <= 0) break;
      uint8_t buffer[256];
      const ssize_t n = read(fd_, buffer, sizeof buffer);
      if (n > 0) answer.insert(answer.end(), buffer, buffer + n);
    }
    return answer;
  }

  std::string Setting(const std::string &frame) {
    const Bytes answer = Exchange(Bytes(frame.begin(), frame.end()), 3);
    return std::string(answer.begin(), answer.end());
  }

 private:
  int fd_ = -1;
};

// What the instrument reports through HART commands 0 and 3.
struct Reported {
  bool ok = false;
  float values[5] = {};  // current, variables 1 to 4
};

Reported ReadOverHart(const std::string &port, milliseconds limit = milliseconds(2000)) {
  Reported reported;
  PlainLine line(port);
  if (!line.Open()) return reported;
  constexpr size_t kIdentityReply = 24, kVariablesReply = 40;
  const Bytes identityReply = line.Exchange(HartShortFrame(7, hart::kPrimaryMaster, 0, 0x00), kIdentityReply, limit);
  // Read the way the program does: from the last preamble before the reply delimiter.
  size_t i = 0;
  while (i + 18 < identityReply.size() && !(identityReply[i] == 0xFF && identityReply[i + 1] == 0x06)) ++i;
  if (i + 18 >= identityReply.size()) return reported;
  HartIdentity id;
  id.manufacturer = identityReply[i + 8];
  id.deviceType = identityReply[i + 9];
  id.deviceId = {identityReply[i + 16], identityReply[i + 17], identityReply[i + 18]};

  const Bytes variables = line.Exchange(HartLongFrame(7, hart::kPrimaryMaster, id, 0x03), kVariablesReply, limit);
  i = 0;
  while (i + 34 < variables.size() && !(variables[i] == 0xFF && variables[i + 1] == 0x86)) ++i;
  if (i + 34 >= variables.size() || variables[i + 8] != 26) return reported;
  auto floatAt = [&variables](size_t at) {
    return FloatFromBytes(variables[at], variables[at + 1], variables[at + 2], variables[at + 3]);
  };
  reported.values[0] = floatAt(i + 11);
  for (size_t v = 0; v < 4; ++v) reported.values[v + 1] = floatAt(i + 16 + 5 * v);
  reported.ok = true;
  return reported;
}

// A libmodbus RTU master on the port for the length of one scope.
class Master {
 public:
  Master(const std::string &port, int slave) {
    ctx_ = modbus_new_rtu(port.c_str(), 9600, 'N', 8, 1);
    if (!ctx_) return;
    modbus_set_slave(ctx_, slave);
    modbus_set_response_timeout(ctx_, 0, 400000);
    connected_ = modbus_connect(ctx_) == 0;
  }
  ~Master() {
    if (!ctx_) return;
    if (connected_) modbus_close(ctx_);
    modbus_free(ctx_);
  }
  bool Connected() const { return connected_; }
  modbus_t *Context() const { return ctx_; }

 private:
  modbus_t *ctx_ = nullptr;
  bool connected_ = false;
};

uint32_t Unsigned(const uint16_t *pair, int format) {
  return format == 2 ? (uint32_t{pair[0]} << 16 | pair[1]) : (uint32_t{pair[1]} << 16 | pair[0]);
}

}  // namespace

TEST(SimWithLibmodbus, RegistersMatchWhatTheInstrumentReports) {
  SimProcess sim({QStringLiteral("--quiet"), QStringLiteral("--frozen")});
  ASSERT_TRUE(sim.Running());
  const std::string port = sim.Port().toStdString();

  const Reported reported = ReadOverHart(port);
  ASSERT_TRUE(reported.ok) << "no HART command 0 and 3 replies";
  const float frozen[5] = {12.0f, 60.0f, 21.5f, 2.5f, 1000.0f};
  for (size_t v = 0; v < 5; ++v) EXPECT_EQ(reported.values[v], frozen[v]) << v;

  for (const std::string formats : {"00000", "11111", "02222", "13333", "10123"}) {
    {
      PlainLine line(port);
      ASSERT_TRUE(line.Open());
      ASSERT_EQ(line.Setting("QQS#DFOT0:" + formats + "#"), "OK#") << formats;
    }
    Master master(port, 1);
    ASSERT_TRUE(master.Connected()) << modbus_strerror(errno);
    uint16_t registers[10] = {};
    ASSERT_EQ(modbus_read_registers(master.Context(), 0, 10, registers), 10)
        << formats << ": " << modbus_strerror(errno);
    for (size_t v = 0; v < 5; ++v) {
      const uint16_t *pair = registers + 2 * v;
      switch (formats[v]) {
        case '0':
          EXPECT_EQ(modbus_get_float_abcd(pair), reported.values[v]) << formats << " value " << v;
          break;
        case '1':
          EXPECT_EQ(modbus_get_float_cdab(pair), reported.values[v]) << formats << " value " << v;
          break;
        default:
          EXPECT_EQ(Unsigned(pair, formats[v] - '0'), static_cast<uint32_t>(std::lround(reported.values[v])))
              << formats << " value " << v;
      }
    }
    errno = 0;
    EXPECT_EQ(modbus_read_registers(master.Context(), 8, 4, registers), -1);
    EXPECT_EQ(errno, EMBXILADD) << modbus_strerror(errno);
  }
}

TEST(SimWithLibmodbus, SlaveAddressAndWorkingMode) {
  SimProcess sim({QStringLiteral("--quiet"), QStringLiteral("--frozen")});
  ASSERT_TRUE(sim.Running());
  const std::string port = sim.Port().toStdString();
  {
    PlainLine line(port);
    ASSERT_TRUE(line.Open());
    ASSERT_EQ(line.Setting("QQS#ADR:002#"), "OK#");
    ASSERT_EQ(line.Setting("QQS#MD:1#"), "OK#");
  }
  // Slave 2's requests begin with the byte of a short HART delimiter; they are still MODBUS.
  uint16_t registers[10] = {};
  {
    Master master(port, 2);
    ASSERT_TRUE(master.Connected());
    ASSERT_EQ(modbus_read_registers(master.Context(), 0, 10, registers), 10) << modbus_strerror(errno);
    EXPECT_EQ(modbus_get_float_abcd(registers), 12.0f);
  }
  {
    Master master(port, 1);
    ASSERT_TRUE(master.Connected());
    errno = 0;
    EXPECT_EQ(modbus_read_registers(master.Context(), 0, 10, registers), -1) << "slave 1 is gone";
    EXPECT_EQ(errno, ETIMEDOUT);
  }
  // The single-instrument mode passes no HART, yet the slave side keeps answering.
  EXPECT_FALSE(ReadOverHart(port, milliseconds(300)).ok);
}
