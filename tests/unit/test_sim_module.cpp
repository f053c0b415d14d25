// The simulated module's answers and kept state, and the directory where simulators publish
// their ports.
#include <gtest/gtest.h>

#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "protocol/config_frame.h"
#include "pty/sim_ports.h"
#include "sim/module.h"
#include "tests/support/pty_peer.h"
#include "tests/support/runtime_directory.h"

namespace {

std::string Ask(SimModule &module, const std::string &request) {
  const std::vector<uint8_t> answer =
      module.Answer(std::vector<uint8_t>(request.begin(), request.end()));
  return std::string(answer.begin(), answer.end());
}

size_t Occurrences(const std::string &text, const std::string &key) {
  size_t count = 0;
  for (size_t at = text.find(key); at != std::string::npos; at = text.find(key, at + 1)) ++count;
  return count;
}

// The system-parameter reply read the way the program reads it: each key searched from the
// start, its value at fixed places after the colon.
struct SystemParameters {
  std::string ba2, md, adr, xy, jtm, upper, lower, start, zom, adx;
};

SystemParameters ReadSystemParameters(const std::string &reply) {
  EXPECT_LE(reply.size(), static_cast<size_t>(kReplyTextMax));
  EXPECT_NE(reply.find("QX"), std::string::npos) << reply;
  auto value = [&reply](const std::string &key, size_t from, size_t count) {
    EXPECT_EQ(Occurrences(reply, key), 1u) << key << " in " << reply;
    const size_t at = reply.find(key);
    if (at == std::string::npos || at + key.size() + from + count > reply.size()) return std::string("<missing>");
    return reply.substr(at + key.size() + from, count);
  };
  SystemParameters p;
  p.ba2 = value("BA2:", 0, 2);
  p.md = value("MD:", 0, 1);
  p.adr = value("ADR:", 0, 3);
  p.xy = value("XY:", 0, 1);
  p.jtm = value("JTM:", 0, 3);
  p.upper = value("AIN:", 0, 6);
  p.lower = value("AIN:", 7, 6);
  p.start = value("AIN:", 14, 5);
  p.zom = value("ZOM:", 0, 5);
  p.adx = value("ADX:", 0, 4);
  return p;
}

SystemParameters QueryParameters(SimModule &module) { return ReadSystemParameters(Ask(module, "QQQ#QX#")); }

}  // namespace

TEST(SimModuleQueries, AnswersTheThreeQueries) {
  SimModule module;
  EXPECT_NE(Ask(module, "QQQ#QV#").find("QV:"), std::string::npos);
  EXPECT_FALSE(Ask(module, "QQQ#QVAL#").empty());

  const std::string qx = Ask(module, "QQQ#QX#");
  EXPECT_EQ(qx.find("AIN1:"), std::string::npos) << "the totalizer key must not look like the setting";
  const SystemParameters p = ReadSystemParameters(qx);
  EXPECT_EQ(p.ba2, "30");
  EXPECT_EQ(p.md, "0");
  EXPECT_EQ(p.adr, "001");
  EXPECT_EQ(p.xy, "0");
  EXPECT_EQ(p.jtm, "010");
  EXPECT_EQ(p.upper, "020.00");
  EXPECT_EQ(p.lower, "004.00");
  EXPECT_EQ(p.start, "00000");
  EXPECT_EQ(p.zom, "0.000");
  EXPECT_EQ(p.adx, "9999");
  // The separators inside the AIN group are not digits, so the three values stay apart.
  const size_t ain = qx.find("AIN:") + 4;
  EXPECT_EQ(qx.at(ain + 6), ',');
  EXPECT_EQ(qx.at(ain + 13), ',');
}

TEST(SimModuleSettings, EverySettingReturnsInTheSystemParameterReply) {
  SimModule module;
  const char *const settings[] = {"QQS#ADR:247#", "QQS#MD:1#",  "QQS#XY:5#",
                                  "QQS#JTM:005#", "QQS#BA2:42#", "KORVEN#AIN1:20.000,4.000,0#",
                                  "KORVEN#ZOM:0.5#", "KORVEN#ADX:0123#"};
  for (const char *frame : settings) EXPECT_EQ(Ask(module, frame), "OK#") << frame;

  SystemParameters p = QueryParameters(module);
  EXPECT_EQ(p.adr, "247");
  EXPECT_EQ(p.md, "1");
  EXPECT_EQ(p.xy, "5");
  EXPECT_EQ(p.jtm, "005");
  EXPECT_EQ(p.ba2, "42");
  EXPECT_EQ(p.upper, "20.000");
  EXPECT_EQ(p.lower, "04.000");
  EXPECT_EQ(p.start, "00000");
  EXPECT_EQ(p.zom, "0.500");
  EXPECT_EQ(p.adx, "0123");
  EXPECT_EQ(module.State().baudIndex, 4);
  EXPECT_EQ(module.State().parityIndex, 2);

  // The third working mode exists on the MODBUS page; empty-looking but valid numbers pad out.
  EXPECT_EQ(Ask(module, "QQS#MD:2#"), "OK#");
  EXPECT_EQ(Ask(module, "KORVEN#AIN1:-4.5,20,12.5#"), "OK#");
  EXPECT_EQ(Ask(module, "KORVEN#ADX:5#"), "OK#");
  p = QueryParameters(module);
  EXPECT_EQ(p.md, "2");
  EXPECT_EQ(p.upper, "-04.50");
  EXPECT_EQ(p.lower, "020.00");
  EXPECT_EQ(p.start, "012.5");
  EXPECT_EQ(p.adx, "0005");
}

TEST(SimModuleSettings, FactoryDataIsKept) {
  SimModule module;
  EXPECT_EQ(Ask(module, "KORVEN#LPN:00000123#"), "OK#");
  EXPECT_EQ(Ask(module, "KORVEN#LPF:5#"), "OK#");
  EXPECT_EQ(Ask(module, "KORVEN#PCBSN:00001234,101#"), "OK#");
  EXPECT_EQ(module.State().lsdInteger, "00000123");
  EXPECT_EQ(module.State().lsdDecimal, "5");
  EXPECT_EQ(module.State().boardSerial, "00001234");
  EXPECT_EQ(module.State().inspector, "101");
  // The largest value the program can format.
  EXPECT_EQ(Ask(module, "KORVEN#LPN:4294967295#"), "OK#");
}

TEST(SimModuleSettings, MeterSettingsAreKept) {
  SimModule module;
  EXPECT_EQ(Ask(module, "QQS#HART0:0,1,05,4,001#"), "OK#");
  EXPECT_EQ(Ask(module, "QQS#DFOT0:10320#"), "OK#");
  EXPECT_EQ(Ask(module, "QQS#FMW:1,12345#"), "OK#");
  EXPECT_EQ(Ask(module, "QQS#MDBS0:4,1230,2121,0000,0991#"), "OK#");
  // Binary payload, no "#" at the end: three bytes announced, three bytes sent.
  std::string camd = "QQS#CAMD01:1<03,";
  camd += std::string("\x01\x23\x00", 3);
  EXPECT_EQ(Ask(module, camd), "OK#");
  EXPECT_EQ(Ask(module, camd.substr(0, camd.size() - 1)), "ERR#");

  const SimMeterSettings &meter = module.State().meters[0];
  EXPECT_EQ(meter.enabled, '0');
  EXPECT_EQ(meter.deviceMode, '1');
  EXPECT_EQ(meter.meterType, "05");
  EXPECT_EQ(meter.preamble, '4');
  EXPECT_EQ(meter.clearTime, "001");
  EXPECT_EQ(meter.dataFormats, "10320");
  EXPECT_EQ(meter.customFormat, "4,1230,2121,0000,0991");
  EXPECT_EQ(meter.commands[0].enabled, '1');
  EXPECT_EQ(meter.commands[0].bytes, (std::vector<uint8_t>{0x01, 0x23, 0x00}));
  EXPECT_TRUE(meter.commands[1].bytes.empty());
  EXPECT_EQ(module.State().coefficientMode, '1');
  EXPECT_EQ(module.State().coefficientFactor, "12345");
}

TEST(SimModuleSettings, ResetRestoresSystemParametersButKeepsFactoryData) {
  SimModule module;
  for (const char *frame : {"QQS#ADR:200#", "QQS#MD:1#", "QQS#XY:3#", "QQS#JTM:099#", "QQS#BA2:61#",
                            "KORVEN#ZOM:1.25#", "KORVEN#PCBSN:77,3#"})
    ASSERT_EQ(Ask(module, frame), "OK#") << frame;
  EXPECT_EQ(Ask(module, "QQS#RESET#"), "OK#");
  const SystemParameters p = QueryParameters(module);
  EXPECT_EQ(p.adr, "001");
  EXPECT_EQ(p.md, "0");
  EXPECT_EQ(p.xy, "0");
  EXPECT_EQ(p.jtm, "010");
  EXPECT_EQ(p.ba2, "30");
  EXPECT_EQ(p.zom, "1.250");
  EXPECT_EQ(module.State().boardSerial, "77");
}

TEST(SimModuleMalformed, RefusedFramesChangeNothing) {
  SimModule module;
  ASSERT_EQ(Ask(module, "QQS#ADR:042#"), "OK#");
  const std::string before = Ask(module, "QQQ#QX#");
  const char *const refused[] = {
      "QQS#ADR::00#",  // what the three-digit encoding makes of 1000
      "QQS#ADR:01#", "QQS#ADR:0001#", "QQS#ADR:001", "QQS#ADR:001##", "QQS#ADR:0a1#",
      "QQS#MD:3#", "QQS#MD:/#",  // index -1 encodes as "/"
      "QQS#XY:6#", "QQS#XY:#", "QQS#JTM:-01#", "QQS#BA2:7#", "QQS#BA2:73#", "QQS#BA2:03#",
      "QQS#BA2:3#", "QQS#RESET", "QQS#RESETX#", "QQS#NOPE:1#", "QQS#", "QQS##",
      "KORVEN#AIN1:,,#", "KORVEN#AIN1:1,2#", "KORVEN#AIN1:1,2,3,4#", "KORVEN#AIN1:abc,1,1#",
      "KORVEN#AIN1:1234567,1,1#", "KORVEN#AIN1:1,1,123456#", "KORVEN#ZOM:-1#", "KORVEN#ZOM:#",
      "KORVEN#ZOM:1e3#", "KORVEN#ADX:10000#", "KORVEN#ADX:-5#", "KORVEN#ADX:1.5#",
      "KORVEN#LPN:4294967296#", "KORVEN#LPN:#", "KORVEN#LPF:1234#", "KORVEN#PCBSN:-1,101#",
      "KORVEN#PCBSN:1#", "KORVEN#XYZ:1#", "KORVEN#", "QQQ#NOPE#", "QQQ#QV", "QQQ#QV#QQQ#QX#",
      "QQQ#"};
  for (const char *frame : refused) EXPECT_EQ(Ask(module, frame), "ERR#") << frame;
  EXPECT_EQ(Ask(module, "QQQ#QX#"), before);
}

TEST(SimModuleMalformed, ForeignBytesGetNoAnswer) {
  SimModule module;
  EXPECT_EQ(Ask(module, ""), "");
  EXPECT_EQ(Ask(module, "hello"), "");
  EXPECT_EQ(Ask(module, " QQQ#QV#"), "");
  EXPECT_EQ(Ask(module, "QQ"), "");
  // A HART request with a wrong checksum, a MODBUS RTU request with a wrong CRC.
  EXPECT_EQ(Ask(module, std::string("\xFF\xFF\xFF\x02\x80\x00\x00\x83", 8)), "");
  EXPECT_EQ(Ask(module, std::string("\x01\x03\x00\x00\x00\x0A\xC5\xCE", 8)), "");
  // The same requests intact are answered.
  EXPECT_NE(Ask(module, std::string("\xFF\xFF\xFF\x02\x80\x00\x00\x82", 8)), "");
  EXPECT_NE(Ask(module, std::string("\x01\x03\x00\x00\x00\x0A\xC5\xCD", 8)), "");
}

TEST(SimModuleMalformed, RandomFramesNeverBreakTheReply) {
  SimModule module;
  std::mt19937 random(735);
  const std::string prefixes[] = {"QQQ#", "QQS#", "KORVEN#", "QQS#CAMD0", "KORVEN#AIN1:"};
  const std::string alphabet = "0123456789.,-+:#<ABDMQRSXYZ";
  for (int round = 0; round < 3000; ++round) {
    std::string frame = prefixes[random() % 5];
    const size_t length = random() % 40;
    for (size_t i = 0; i < length; ++i)
      frame += random() % 4 == 0 ? static_cast<char>(random() % 256) : alphabet[random() % alphabet.size()];
    Ask(module, frame);
  }
  // Whatever was taken, the reply still has every key once and in its width.
  const SystemParameters p = QueryParameters(module);
  for (const std::string &digit : {p.md, p.xy})
    EXPECT_TRUE(digit.size() == 1 && digit[0] >= '0' && digit[0] <= '9') << digit;
}

TEST(SimModuleFormat, FixedWidthNumbers) {
  struct Case {
    const char *text;
    size_t width;
    int decimals;
    bool negative;
    const char *expected;  // nullptr: refused
  };
  const Case cases[] = {
      {"20.000", 6, 2, true, "20.000"},  {"4.000", 6, 2, true, "04.000"},
      {"20", 6, 2, true, "020.00"},       {"-4.5", 6, 2, true, "-04.50"},
      {"+7", 6, 2, true, "007.00"},       {"12345.6", 6, 2, true, "012346"},
      {"99999.95", 6, 2, true, "100000"}, {"999999.5", 6, 2, true, nullptr},
      {"1234567", 6, 2, true, nullptr},   {"0000012", 6, 2, true, "012.00"},
      {".5", 5, 3, false, "0.500"},       {"5.", 5, 3, false, "5.000"},
      {"0.0005", 5, 3, false, "0.001"},   {"0.00049", 5, 3, false, "0.000"},
      {"-0.0001", 5, 3, false, "0.000"},  {"-0.001", 5, 3, false, nullptr},
      {"12.34567890123", 5, 0, true, "12.35"}, {"0", 4, 0, false, "0000"},
      {"", 5, 3, false, nullptr},         {".", 5, 3, false, nullptr},
      {"-", 5, 3, true, nullptr},         {"1.2.3", 5, 3, false, nullptr},
      {" 1", 5, 3, false, nullptr},       {"1,5", 5, 3, false, nullptr},
  };
  for (const Case &c : cases) {
    const auto got = SimModule::FixedWidthNumber(c.text, c.width, c.decimals, c.negative);
    if (c.expected) {
      ASSERT_TRUE(got.has_value()) << c.text;
      EXPECT_EQ(*got, c.expected) << c.text;
    } else {
      EXPECT_FALSE(got.has_value()) << c.text << " gave " << *got;
    }
  }
  EXPECT_STREQ(SimModule::BaudRateText(3), "9600");
  EXPECT_STREQ(SimModule::BaudRateText(6), "57600");
  EXPECT_STREQ(SimModule::BaudRateText(7), "?");
  EXPECT_STREQ(SimModule::ParityText(2), "Even");
  EXPECT_STREQ(SimModule::ParityText(-1), "?");
}

namespace {

pid_t DeadPid() {
  const pid_t child = fork();
  if (child == 0) _exit(0);
  waitpid(child, nullptr, 0);
  return child;
}

// A child process that lives until the object goes.
class LiveChild {
 public:
  LiveChild() : pid_(fork()) {
    if (pid_ == 0) {
      pause();
      _exit(0);
    }
  }
  ~LiveChild() {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
  pid_t Pid() const { return pid_; }

 private:
  pid_t pid_;
};

bool Exists(const std::string &path) {
  struct stat st {};
  return lstat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(SimulatedPorts, DirectoryFollowsTheRuntimeDirectory) {
  RuntimeDirectory runtime;
  EXPECT_EQ(SimulatedPortDirectory(), runtime.Path() + "/rq735-sim");
  const std::string fallback = "/tmp/rq735-sim-" + std::to_string(getuid());
  setenv("XDG_RUNTIME_DIR", (runtime.Path() + "/missing").c_str(), 1);
  EXPECT_EQ(SimulatedPortDirectory(), fallback);
  setenv("XDG_RUNTIME_DIR", "", 1);
  EXPECT_EQ(SimulatedPortDirectory(), fallback);
}

TEST(SimulatedPorts, ListsLivePortsAndRemovesStaleOnes) {
  RuntimeDirectory runtime;
  EXPECT_TRUE(ListSimulatedPorts().empty());  // no directory yet

  PtyPeer first, second;
  std::string error;
  const std::string ours = PublishSimulatedPort(first.SlavePath(), getpid(), &error);
  ASSERT_FALSE(ours.empty()) << error;
  LiveChild child;
  const std::string childs = PublishSimulatedPort(second.SlavePath(), child.Pid());
  const std::string dead = PublishSimulatedPort(second.SlavePath(), DeadPid());
  const std::string gone = PublishSimulatedPort(runtime.Path() + "/no-such-device", 1);
  ASSERT_FALSE(childs.empty() || dead.empty() || gone.empty());
  const std::string dir = SimulatedPortDirectory();
  EXPECT_EQ(ours, dir + "/module-" + std::to_string(getpid()));
  struct stat st {};
  ASSERT_EQ(stat(dir.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);
  const std::string stranger = dir + "/notes.txt";
  ASSERT_EQ(symlink(first.SlavePath().c_str(), stranger.c_str()), 0);

  std::vector<std::string> expected = {ours, childs};
  if (child.Pid() < getpid()) std::swap(expected[0], expected[1]);
  EXPECT_EQ(ListSimulatedPorts(), expected);
  EXPECT_FALSE(Exists(dead));
  EXPECT_FALSE(Exists(gone));
  EXPECT_TRUE(Exists(stranger));

  // Publishing again replaces the old link; unpublishing leaves a link that is no longer ours.
  EXPECT_EQ(PublishSimulatedPort(second.SlavePath(), getpid()), ours);
  UnpublishSimulatedPort(ours, first.SlavePath());
  EXPECT_TRUE(Exists(ours));
  UnpublishSimulatedPort(ours, second.SlavePath());
  EXPECT_FALSE(Exists(ours));
  EXPECT_EQ(ListSimulatedPorts(), std::vector<std::string>{childs});
}

TEST(SimulatedPorts, DirectoryReplacedByALinkIsNotTrusted) {
  RuntimeDirectory runtime;
  const std::string elsewhere = runtime.Path() + "/elsewhere";
  ASSERT_EQ(mkdir(elsewhere.c_str(), 0700), 0);
  ASSERT_EQ(symlink(elsewhere.c_str(), SimulatedPortDirectory().c_str()), 0);
  PtyPeer peer;
  ASSERT_EQ(symlink(peer.SlavePath().c_str(), (elsewhere + "/module-" + std::to_string(getpid())).c_str()), 0);
  EXPECT_TRUE(ListSimulatedPorts().empty());
  std::string error;
  EXPECT_TRUE(PublishSimulatedPort(peer.SlavePath(), getpid(), &error).empty());
  EXPECT_FALSE(error.empty());
}
