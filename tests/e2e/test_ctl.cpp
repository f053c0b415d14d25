// rq735ctl as a script runs it, against simulated modules.
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <iostream>
#include <memory>
#include <mutex>
#include <thread>

#include "ctl/settings.h"
#include "protocol/crc16.h"
#include "protocol/hart.h"
#include "protocol/modbus_codes.h"
#include "sim/module.h"
#include "tests/support/ctl_run.h"
#include "tests/support/pty_peer.h"
#include "tests/support/runtime_directory.h"
#include "tests/support/sim_process.h"

namespace {

QJsonObject SettingsOf(const QString &port, const QString &baud = QStringLiteral("9600")) {
  const CtlRun r = Ctl({"--port", port, "--baud", baud, "--json", "get"});
  EXPECT_EQ(r.status, 0) << r.err.toStdString();
  return r.Json().value("settings").toObject();
}

// For every setting a value other than the one the module at `port` holds.
QStringList EveryValueChanged(const QString &port) {
  const QJsonObject held = SettingsOf(port);
  QStringList pairs;
  for (const SettingSpec &spec : AllSettings()) {
    const QJsonValue v = held.value(QString::fromStdString(spec.name));
    const std::string current = v.isDouble() ? std::to_string(v.toInt()) : v.toString().toStdString();
    pairs << QString::fromStdString(spec.name + "=" + AnotherValue(spec, current));
  }
  return pairs;
}

TEST(Ctl, EverySettingRoundTripsAndASavedModuleIsPutOnAnother) {
  SimProcess a({"--no-publish", "--quiet"}), b({"--no-publish", "--quiet"});
  QTemporaryDir dir;

  // Every setting of B changed in one set, the line (57600, even) last; each reads back.
  const QStringList changes = EveryValueChanged(b.Port());
  CtlRun set = Ctl(QStringList{"--port", b.Port(), "set"} + changes);
  ASSERT_EQ(set.status, 0) << set.out.toStdString() << set.err.toStdString();
  EXPECT_TRUE(set.out.contains(QStringLiteral("%1 applied, 0 already equal, 0 not applied").arg(changes.size())))
      << set.out.toStdString();
  EXPECT_TRUE(set.out.contains("the module answers at 19200 baud, parity odd"));
  const QJsonObject changed = SettingsOf(b.Port(), "19200");
  for (const QString &pair : changes) {
    const QString name = pair.section('=', 0, 0), value = pair.section('=', 1);
    const QJsonValue held = changed.value(name);
    const QString shown = held.isDouble() ? QString::number(held.toInt()) : held.toString();
    const SettingSpec *spec = FindSetting(name.toStdString());
    ASSERT_NE(spec, nullptr) << name.toStdString();
    std::string why;
    EXPECT_TRUE(SameValue(*spec, shown.toStdString(), CanonicalValue(*spec, value.toStdString(), &why).value_or("?")))
        << pair.toStdString() << " reads back as " << shown.toStdString();
  }

  // A's settings saved and put on B: afterwards both read the same.
  const QString file = dir.filePath("a.json");
  ASSERT_EQ(Ctl({"--port", a.Port(), "save", file}).status, 0);
  const CtlRun apply = Ctl({"--port", b.Port(), "--baud", "19200", "--parity", "odd", "apply", file});
  EXPECT_EQ(apply.status, 0) << apply.out.toStdString() << apply.err.toStdString();
  EXPECT_EQ(SettingsOf(a.Port()), SettingsOf(b.Port())) << apply.out.toStdString();
  // Applied again, nothing differs.
  EXPECT_TRUE(Ctl({"--port", b.Port(), "apply", file}).out.contains("0 applied, 40 already equal, 0 not applied"));
}

TEST(Ctl, BadInputIsRefusedWithItsReasonBeforeAnythingIsSent) {
  PtyPeer line;
  const QString port = QString::fromStdString(line.SlavePath());
  QTemporaryDir dir;
  auto file = [&](const char *name, const std::string &text) {
    const QString path = dir.filePath(name);
    std::ofstream(path.toStdString()) << text;
    return path;
  };
  const std::string head = R"({"format": "rq735ctl settings", "version": )";
  const QString link = dir.filePath("by-id-link");  // a second name of the same line
  ASSERT_TRUE(QFile::link(port, link));
  const std::pair<QStringList, const char *> cases[] = {
      {{"apply", file("truncated.json", head + "1, \"settings\": {\"slave")}, "not JSON at byte"},
      {{"apply", file("other.json", head + "2, \"settings\": {}}")}, "format version 2"},
      {{"apply", file("foreign.json", R"({"settings": {}})")}, "not a settings file of rq735ctl"},
      {{"apply", file("unknown.json", head + R"(1, "settings": {"slave_adress": 5}})")}, "unknown setting slave_adress"},
      {{"apply", file("range.json", head + R"(1, "settings": {"meter_type": 16}})")}, "meter_type: \"16\""},
      {{"apply", file("huge.json", head + R"(1, "settings": {"meter_type": 1e30}})")}, "meter_type: \"1000000"},
      {{"apply", file("kind.json", head + R"(1, "settings": {"slave_address": "five"}})")}, "wrong kind"},
      {{"set", "rs485_baud=115200"}, "rs485_baud: \"115200\" is not one of 1200"},
      {{"set", "coefficient_factor=0.1"}, "exactly 5 printable characters"},
      {{"set", "custom_command1=01 0G"}, "custom_command1"},
      {{"hart", "address", "16"}, "from 0 to 15"},
      // A HART frame of one's own goes out as typed or not at all.
      {{"hart", "raw", "0280"}, "a short-address request has 4 bytes before its data"},
      {{"hart", "raw", "02 80 0"}, "\"0\" at character 7 has an odd number of digits"},
      {{"hart", "raw", "02 8g 00 00"}, "character 5 (\"g\") is not a hexadecimal digit"},
      {{"hart", "raw", "06 80 00 00"}, "byte 1 (06) is not a request delimiter"},
      {{"hart", "raw", "02 80 00 01"}, "byte 4, the byte count (01), says 1, but 0 data bytes follow it"},
      {{"hart", "raw", "02 80 00 00" + QString(" 00").repeated(36)}, "says 0, but 36 data bytes follow it"},
      {{"hart", "raw", QString("00").repeated(264)}, "264 bytes; a HART request holds at most 263"},
      {{"frobnicate"}, "unknown command"},
      // One port by one name twice, or by two names: two runs would fight on one line.
      {{"--port", port, "info"}, "is given twice"},
      {{"--port", link, "info"}, "are one port"},
      // Options stand anywhere, but a command's own only with it; "--" ends the options.
      {{"get", "--slave", "3"}, "--slave is not an option of get"},
      {{"--", "set", "--json"}, "\"--json\" is not NAME=VALUE"},
  };
  for (const auto &[arguments, reason] : cases) {
    const CtlRun r = Ctl(QStringList{"--port", port} + arguments);
    EXPECT_EQ(r.status, 2) << arguments.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
  }
  EXPECT_TRUE(line.Read(std::chrono::milliseconds(100), std::chrono::milliseconds(50)).empty()) << "nothing on the line";
}

TEST(Ctl, AModuleGoneHalfwayThroughApplyIsReportedAsItIs) {
  SimProcess source({"--no-publish", "--quiet"});
  QTemporaryDir dir;
  const QString file = dir.filePath("settings.json");
  ASSERT_EQ(Ctl(QStringList{"--port", source.Port(), "set"} + EveryValueChanged(source.Port())).status, 0);
  ASSERT_EQ(Ctl({"--port", source.Port(), "--baud", "19200", "save", file}).status, 0);

  // A module that answers the two queries and two settings, then goes away.
  PtyPeer line;
  std::thread module([&line] {
    SimModule sim;
    for (int answered = 0; answered < 4; ++answered) {
      const std::vector<uint8_t> request = line.Read(std::chrono::milliseconds(3000), std::chrono::milliseconds(30));
      if (request.empty()) return;
      line.Write(sim.Answer(request));
    }
    line.HangUp();
  });
  const CtlRun r = Ctl({"--port", QString::fromStdString(line.SlavePath()), "apply", file});
  module.join();
  EXPECT_EQ(r.status, 1);
  EXPECT_TRUE(r.err.contains("the port went away: the adapter was unplugged (EIO); stopped")) << r.err.toStdString();
  EXPECT_FALSE(r.out.contains(": applied")) << "nothing is called applied that was not read back";
  EXPECT_TRUE(r.out.contains("slave_address = 2: sent, not read back")) << r.out.toStdString();
  EXPECT_TRUE(r.out.contains("meter_type = 1: not applied")) << r.out.toStdString();
}

TEST(Ctl, FourPortsAtOnceAndTheOtherDialects) {
  std::vector<std::unique_ptr<SimProcess>> sims;
  QStringList ports;
  for (int i = 0; i < 4; ++i) {
    sims.push_back(std::make_unique<SimProcess>(QStringList{"--no-publish", "--quiet"}));
    ports << "--port" << sims.back()->Port();
  }
  QElapsedTimer t;
  t.start();
  const CtlRun all = Ctl(ports + QStringList{"get"});
  EXPECT_EQ(all.status, 0) << all.err.toStdString();
  EXPECT_EQ(all.out.count(": ok"), 4) << all.out.toStdString();
  std::cout << "[ ctl ] get on 4 ports: " << t.elapsed() << " ms" << std::endl;
  // save writes a file per port, the port's name in the file name.
  QTemporaryDir dir;
  const CtlRun save = Ctl(ports + QStringList{"save", dir.filePath("module.json")});
  ASSERT_EQ(save.status, 0) << save.out.toStdString() << save.err.toStdString();
  for (const auto &sim : sims) {
    const QString name = "module-" + sim->Port().mid(1).replace('/', '-') + ".json";
    EXPECT_TRUE(QFile::exists(dir.filePath(name))) << name.toStdString();
  }
  // One port that cannot be opened fails the whole run, with its own line.
  const CtlRun one = Ctl(ports + QStringList{"--port", "/dev/rq735-no-such-port", "info"});
  EXPECT_EQ(one.status, 3);
  EXPECT_TRUE(one.out.contains("/dev/rq735-no-such-port: failed")) << one.out.toStdString();

  const QString port = sims[0]->Port();
  const CtlRun vars = Ctl({"hart", "vars", "--json", "--port", port});  // options after the command
  EXPECT_EQ(vars.status, 0);
  EXPECT_EQ(vars.Json().value("variables").toArray().size(), 4) << vars.out.toStdString();
  const CtlRun raw = Ctl({"--port", port, "hart", "raw", "02 80 00 00"});  // command 0 at polling address 0
  EXPECT_EQ(raw.status, 0) << raw.err.toStdString();
  EXPECT_TRUE(raw.out.contains("HART reply") && raw.out.contains("command 0 (read unique identifier)") &&
              raw.out.contains("ok"))
      << "the answer is decoded: " << raw.out.toStdString();
  const CtlRun read = Ctl({"--port", port, "--trace", "modbus", "read"});
  EXPECT_EQ(read.status, 0) << read.err.toStdString();
  EXPECT_TRUE(read.out.contains("current = ")) << read.out.toStdString();
  EXPECT_TRUE(read.err.contains("-> 01 03 00 00 00 0A C5 CD")) << "the trace shows the frames: " << read.err.toStdString();
  // Out of its transparent mode the module passes no HART: the message says what to do.
  ASSERT_EQ(Ctl({"--port", port, "set", "working_mode=modbus-single"}).status, 0);
  const CtlRun hart = Ctl({"--port", port, "hart", "identity"});
  EXPECT_EQ(hart.status, 1);
  EXPECT_TRUE(hart.err.contains("set working_mode=transparent")) << hart.err.toStdString();
}

// A module on a pseudo-terminal whose answers a test spoils: each request's true answer (the
// simulated module's), changed as the case at hand says. It keeps what it was sent.
class SpoilingModule {
 public:
  using Spoil = std::function<std::vector<uint8_t>(const std::vector<uint8_t> &request, std::vector<uint8_t> answer)>;
  SpoilingModule() : server_([this] { Serve(); }) {}
  ~SpoilingModule() {
    stop_ = true;
    server_.join();
  }
  QString Port() const { return QString::fromStdString(line_.SlavePath()); }
  void Next(Spoil spoil) {
    std::lock_guard<std::mutex> lock(mutex_);
    spoil_ = std::move(spoil);
    requests_.clear();
  }
  std::vector<std::vector<uint8_t>> Requests() {
    std::lock_guard<std::mutex> lock(mutex_);
    return requests_;
  }

 private:
  void Serve() {
    while (!stop_) {
      const std::vector<uint8_t> request = line_.Read(std::chrono::milliseconds(300), std::chrono::milliseconds(30));
      if (request.empty()) continue;
      std::vector<uint8_t> answer = sim_.Answer(request);
      {
        std::lock_guard<std::mutex> lock(mutex_);
        requests_.push_back(request);
        if (spoil_) answer = spoil_(request, answer);
      }
      if (!answer.empty()) line_.Write(answer);
    }
  }

  PtyPeer line_;
  SimModule sim_;
  std::mutex mutex_;
  Spoil spoil_;
  std::vector<std::vector<uint8_t>> requests_;
  std::atomic<bool> stop_{false};
  std::thread server_;
};

TEST(Ctl, AWholeReplyEndsTheExchangeAndWhatFollowsIsDropped) {
  SpoilingModule module;
  // Two stray bytes after each answer to a setting and to a MODBUS read.
  module.Next([](const std::vector<uint8_t> &request, std::vector<uint8_t> answer) {
    const bool setting = std::string(answer.begin(), answer.end()) == "OK#";
    const bool read = request.size() == modbus::kRequestLength && request[1] == modbus::kReadHoldingRegisters;
    if (setting || read) answer.insert(answer.end(), {0x00, 0x00});
    return answer;
  });
  const QString port = module.Port();
  const CtlRun read = Ctl({"--port", port, "--trace", "modbus", "read", "--slave", "1", "--format", "float-abcd"});
  EXPECT_EQ(read.status, 0) << read.err.toStdString();
  EXPECT_TRUE(read.err.contains("dropped: 2 bytes that belong to no reply")) << read.err.toStdString();
  const CtlRun set = Ctl({"--port", port, "set", "slave_address=9", "return_time=100ms"});
  EXPECT_EQ(set.status, 0) << set.err.toStdString();
  EXPECT_TRUE(set.out.contains("2 applied")) << set.out.toStdString();
}

// The command of a HART request, -1 for any other frame.
int HartCommandOf(const std::vector<uint8_t> &frame) {
  size_t at = 0;
  while (at < frame.size() && frame[at] == hart::kPreamble) ++at;
  if (at == 0 || at >= frame.size()) return -1;
  const size_t command = at + 1 + ((frame[at] & hart::kLongAddressFrame) ? hart::kLongAddressLength : hart::kShortAddressLength);
  return command < frame.size() ? frame[command] : -1;
}

// A HART reply with the byte `fromDelimiter` after its delimiter changed, its checksum right again.
std::vector<uint8_t> HartByte(std::vector<uint8_t> reply, size_t fromDelimiter, uint8_t value) {
  size_t delimiter = 0;
  while (reply[delimiter] == hart::kPreamble) ++delimiter;
  reply.at(delimiter + fromDelimiter) = value;
  reply.back() = HartChecksum(&reply[delimiter], reply.size() - delimiter - 1);
  return reply;
}

// Offsets from the delimiter of a long-address reply, and of a short one.
constexpr size_t kLongLastAddressByte = 5, kLongCommand = 6, kLongCount = 7, kLongResponse = 8;
constexpr size_t kShortResponse = 4;

TEST(Ctl, RepliesThatDoNotCheckOutAreRefusedAndRawFramesGoOutAsTyped) {
  SpoilingModule module;
  const QString port = module.Port();
  auto onCommand = [](int command, std::function<std::vector<uint8_t>(std::vector<uint8_t>)> change) {
    return [command, change](const std::vector<uint8_t> &request, std::vector<uint8_t> answer) {
      return HartCommandOf(request) == command ? change(answer) : answer;
    };
  };
  auto modbus = [](std::function<std::vector<uint8_t>(std::vector<uint8_t>)> change) {
    return [change](const std::vector<uint8_t> &request, std::vector<uint8_t> answer) {
      const bool read = request.size() == modbus::kRequestLength && request[1] == modbus::kReadHoldingRegisters;
      return read ? change(answer) : answer;
    };
  };
  auto withCrc = [](std::vector<uint8_t> answer) {
    const Crc16Bytes crc = Crc16(answer.data(), answer.size() - 2);
    answer[answer.size() - 2] = crc.low;
    answer.back() = crc.high;
    return answer;
  };
  const QStringList vars{"hart", "vars"};
  const QStringList read{"modbus", "read", "--slave", "1"};
  const struct {
    QStringList command;
    SpoilingModule::Spoil spoil;
    const char *reason;
  } refused[] = {
      {vars, onCommand(3, [](auto a) { a.back() ^= 0x01; return a; }), "checksum"},
      {vars, onCommand(3, [](auto a) { return HartByte(a, kLongLastAddressByte, 0x35); }), "answers address A6 06 00 12 35, not A6 06 00 12 34"},
      {vars, onCommand(3, [](auto a) { return HartByte(a, kLongCommand, 1); }), "answers command 1 (read primary variable), not command 3"},
      {vars, onCommand(3, [](auto a) { return HartByte(a, kLongCount, static_cast<uint8_t>(a[5 + kLongCount] + 4)); }),
       "byte count 30, but only 27 bytes came after it"},
      {vars, onCommand(3, [](auto a) { return HartByte(a, kLongResponse, 7); }), "refused HART command 3: response code 7 in write-protect mode"},
      {{"hart", "identity"}, onCommand(0, [](auto a) { return HartByte(a, kShortResponse, 64); }),
       "refused HART command 0: response code 64 command not implemented"},
      {read, modbus([&](auto a) { a[0] = 2; return withCrc(a); }), "comes from slave 2, not from slave 1"},
  };
  for (const auto &c : refused) {
    module.Next(c.spoil);
    const CtlRun r = Ctl(QStringList{"--port", port} + c.command);
    EXPECT_EQ(r.status, 1) << c.reason;
    EXPECT_TRUE(r.err.contains(c.reason)) << r.err.toStdString();
    EXPECT_FALSE(r.out.contains("variable1") || r.out.contains("device_id") || r.out.contains("register"))
        << "nothing of a refused reply is shown as values: " << r.out.toStdString();
  }

  // Busy once, then a good answer with a device status bit: the retry succeeds, the bit is told.
  int busy = 1;
  module.Next(onCommand(3, [&busy](auto a) {
    return busy-- > 0 ? HartByte(a, kLongResponse, hart::kBusy) : HartByte(a, kLongResponse + 1, hart::kColdStart);
  }));
  const CtlRun retried = Ctl({"--port", port, "--json", "hart", "vars"});
  EXPECT_EQ(retried.status, 0) << retried.err.toStdString();
  EXPECT_EQ(retried.Json().value("variables").toArray().size(), 4) << retried.out.toStdString();
  EXPECT_EQ(retried.Json().value("device_status").toArray(), QJsonArray{"cold start"});
  EXPECT_TRUE(retried.err.contains("warning: device status: cold start")) << retried.err.toStdString();
  EXPECT_EQ(retried.Json().value("warnings").toArray(), QJsonArray{"device status: cold start"});
  const auto asked = module.Requests();
  EXPECT_EQ(std::count_if(asked.begin(), asked.end(), [](const auto &r) { return HartCommandOf(r) == 3; }), 2);

  // hart info: one command refused is told, the others are still read, and the run fails.
  module.Next(onCommand(14, [](auto a) { return HartByte(a, kLongResponse, hart::kCommandNotImplemented); }));
  const CtlRun info = Ctl({"--port", port, "hart", "info"});
  EXPECT_EQ(info.status, 1);
  EXPECT_TRUE(info.err.contains("refused HART command 14 (read primary variable transducer information): response code 64"))
      << info.err.toStdString();
  EXPECT_TRUE(info.out.contains("upper_range 120") && info.out.contains("final_assembly") &&
              !info.out.contains("sensor_serial_number"))
      << info.out.toStdString();

  // What is typed goes out exactly: pairs with or without blanks, either case, beyond 15 bytes.
  const std::vector<uint8_t> preambles(7, hart::kPreamble);
  QString message = "82 a6 06 00 12 34 c8 18";  // device-specific command 200: 24 data bytes
  std::vector<uint8_t> body = {0x82, 0xA6, 0x06, 0x00, 0x12, 0x34, 0xC8, 0x18};
  for (int i = 0; i < 24; ++i) {
    message += " 41";
    body.push_back(0x41);
  }
  const struct {
    QString typed;
    std::vector<uint8_t> body;
    int status;
  } taken[] = {{"0280 0000", {0x02, 0x80, 0x00, 0x00}, 0}, {message, body, 1}};
  CtlRun last;
  for (const auto &t : taken) {
    module.Next(nullptr);
    last = Ctl({"--port", port, "hart", "raw", t.typed});
    EXPECT_EQ(last.status, t.status) << last.err.toStdString();
    std::vector<uint8_t> frame = preambles;
    frame.insert(frame.end(), t.body.begin(), t.body.end());
    frame.push_back(HartChecksum(t.body.data(), t.body.size()));
    ASSERT_EQ(module.Requests().size(), 1u) << t.typed.toStdString();
    EXPECT_EQ(module.Requests()[0], frame) << t.typed.toStdString();
  }
  // The instrument does not know command 200: told by name, and its reply still shown as it came.
  EXPECT_TRUE(last.err.contains("64 command not implemented")) << last.err.toStdString();
  EXPECT_TRUE(last.out.contains("HART reply")) << last.out.toStdString();
}

TEST(Ctl, PortsListsARunningSimulator) {
  RuntimeDirectory runtime;  // where only this test's simulator publishes
  SimProcess sim;
  const CtlRun text = Ctl({"ports"});
  EXPECT_EQ(text.status, 0);
  EXPECT_TRUE(text.out.contains(sim.Port() + " -> /dev/pts/") && text.out.contains("(simulator)"))
      << text.out.toStdString();
  const QJsonArray ports = Ctl({"ports", "--json"}).Json().value("ports").toArray();
  const auto listed = std::find_if(ports.begin(), ports.end(), [&](const QJsonValue &p) {
    return p.toObject().value("port").toString() == sim.Port();
  });
  ASSERT_NE(listed, ports.end()) << QJsonDocument(ports).toJson().toStdString();
  EXPECT_EQ(listed->toObject().value("kind").toString(), "simulator");
}

}  // namespace
