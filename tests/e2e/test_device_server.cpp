// Modules behind device servers: rq735ctl and TComm through a real ser2net (RFC 2217 and raw),
// the exact telnet bytes against a recording server of our own, and the failures of opening.
#include <QComboBox>
#include <QCoreApplication>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "protocol/hart.h"
#include "protocol/telnet.h"
#include "serial/tcomm.h"
#include "tests/support/ctl_run.h"
#include "tests/support/device_server.h"
#include "tests/support/sim_process.h"
#include "tests/support/sim_window.h"

namespace {

using Bytes = std::vector<uint8_t>;

bool WaitFor(const std::function<bool()> &done, std::chrono::milliseconds limit = std::chrono::milliseconds(3000)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QThread::msleep(2);
  }
  return true;
}

speed_t SpeedOf(const QString &device) {
  const int fd = ::open(device.toLocal8Bit().constData(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios t{};
  const bool read = fd >= 0 && tcgetattr(fd, &t) == 0;
  if (fd >= 0) ::close(fd);
  return read ? cfgetospeed(&t) : B0;
}

// rq735ctl through a ser2net whose two accepters share one device: ser2net lets go of the device
// a moment after a client of the other accepter left, and until then greets a new client with
// "Port's device already in use" instead of the module's answer, or (RFC 2217) closes the
// connection before the line is set. Nothing reached the module then.
CtlRun ThroughServer(const QStringList &arguments) {
  CtlRun run = Ctl(arguments);
  for (int attempt = 0; attempt < 20 && run.status != 0 && run.err.contains("in use"); ++attempt) {
    QThread::msleep(150);
    run = Ctl(arguments);
  }
  return run;
}

TEST(DeviceServer, Ser2netCarriesEveryDialectBothWays) {
  SimProcess sim({"--no-publish", "--quiet"});
  Ser2net server(sim.Port());
  ASSERT_TRUE(server.Listening()) << "ser2net did not start";
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("module.json"));

  // A setting written through one kind of port is read back through the other.
  for (const auto &[write, read] : {std::pair{server.TelnetUrl(), server.RawUrl()}, {server.RawUrl(), server.TelnetUrl()}}) {
    const QString address = write == server.TelnetUrl() ? QStringLiteral("7") : QStringLiteral("9");
    const CtlRun set = ThroughServer({"--port", write, "set", "slave_address=" + address});
    ASSERT_EQ(set.status, 0) << set.err.toStdString();
    const CtlRun get = ThroughServer({"--port", read, "--json", "get"});
    ASSERT_EQ(get.status, 0) << get.err.toStdString();
    const QJsonObject settings = QJsonDocument::fromJson(get.out.toUtf8()).object().value("settings").toObject();
    EXPECT_EQ(settings.value("slave_address").toInt(), address.toInt()) << read.toStdString();

    // HART frames start with runs of 0xFF: one missed escape would spoil the answer.
    const CtlRun identity = ThroughServer({"--port", write, "hart", "identity"});
    EXPECT_EQ(identity.status, 0) << identity.err.toStdString();
    EXPECT_TRUE(identity.out.contains("device_id 4660")) << identity.out.toStdString();
    const CtlRun registers = ThroughServer({"--port", read, "modbus", "read", "--count", "4"});
    EXPECT_EQ(registers.status, 0) << registers.err.toStdString();
    EXPECT_TRUE(registers.out.contains("current = ")) << registers.out.toStdString();
  }
  const CtlRun save = ThroughServer({"--port", server.TelnetUrl(), "save", file});
  ASSERT_EQ(save.status, 0) << save.err.toStdString();
  const CtlRun apply = ThroughServer({"--port", server.RawUrl(), "apply", file});
  EXPECT_EQ(apply.status, 0) << apply.err.toStdString();
  EXPECT_TRUE(apply.out.contains("0 applied, 40 already equal, 0 not applied")) << apply.out.toStdString();

  // A baud rate set through RFC 2217 reaches the server's port while the client is connected.
  // ser2net lets go of the device a moment after the last client left through the other accepter,
  // and closes a connection that comes before.
  TComm comm;
  comm.SetCommName(server.TelnetUrl());
  comm.SetBaudRate(19200);
  std::string why;
  ASSERT_TRUE(WaitFor([&] {
    try {
      comm.OpenPort();
      return true;
    } catch (const ECommsError &e) {
      why = e.Advice();
      return false;
    }
  })) << why;
  EXPECT_TRUE(WaitFor([&] { return SpeedOf(sim.Port()) == B19200; })) << "the pseudo-terminal's speed";
  comm.SetBaudRate(4800);
  EXPECT_TRUE(WaitFor([&] { return SpeedOf(sim.Port()) == B4800; })) << "a change while open";
  comm.ClosePort();
}

TEST(DeviceServer, TheWindowOpensAUrlTypedIntoSerialPort) {
  SimWindow w({"--frozen"});
  ui::Click(&w.form, "Button1");  // closed again: the device server takes the line
  ASSERT_FALSE(w.form.Cycle().PortOpen());
  SimProcess other({"--no-publish", "--quiet"});  // ser2net lets go of a device a moment after its client left
  Ser2net server(QStringList{w.sim.Port(), other.Port()});
  ASSERT_TRUE(server.Listening());
  ui::TypeInto(ui::Find<QComboBox>(&w.form, "SPREALCOM"), server.TelnetUrl());
  ui::Click(&w.form, "Button1");
  ASSERT_TRUE(w.form.Cycle().PortOpen()) << "opened from the typed URL";
  EXPECT_TRUE(w.Exchange("Button6").contains("QV:RQ735 SIM"));
  EXPECT_TRUE(w.Exchange("Button23").contains("QX#BA2:30#"));
  EXPECT_TRUE(w.Exchange("Button7").contains("FF 06 80 00 "));
  EXPECT_EQ(ui::Text(&w.form, "Edit32"), "4660");
  EXPECT_TRUE(w.catcher.Messages().empty());

  // A raw port works too, and the window says its line settings are not the window's to set.
  ui::Click(&w.form, "Button1");
  ui::TypeInto(ui::Find<QComboBox>(&w.form, "SPREALCOM"), server.RawUrl(1));
  ui::Click(&w.form, "Button1");
  ASSERT_TRUE(w.form.Cycle().PortOpen());
  ASSERT_EQ(w.catcher.Messages().size(), 1u);
  EXPECT_TRUE(w.catcher.Messages().front().text.contains("carries bytes only"))
      << w.catcher.Messages().front().text.toStdString();
  EXPECT_TRUE(w.Exchange("Button6").contains("QV:RQ735 SIM"));
}

TEST(DeviceServer, Ser2netGoneInTheMiddleOfApplyIsToldHonestly) {
  SimProcess source({"--no-publish", "--quiet"});
  QTemporaryDir dir;
  const QString file = dir.filePath(QStringLiteral("module.json"));
  ASSERT_EQ(Ctl({"--port", source.Port(), "set", "slave_address=42", "meter_type=3", "return_time=300ms"}).status, 0);
  ASSERT_EQ(Ctl({"--port", source.Port(), "save", file}).status, 0);

  // The module behind the server traces each request: the server goes after the third.
  QProcess sim;
  sim.start(QStringLiteral(RQ735_SIM_PATH), {"--no-publish", "-v"});
  ASSERT_TRUE(sim.waitForReadyRead(5000));
  const QString port = QString::fromUtf8(sim.readLine()).section(' ', 1).trimmed();
  Ser2net server(port);
  ASSERT_TRUE(server.Listening());
  QProcess ctl;
  ctl.start(QStringLiteral(RQ735_CTL_PATH), {"--port", server.TelnetUrl(), "apply", file});
  int requests = 0;
  const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (requests < 3 && std::chrono::steady_clock::now() < end) {
    sim.waitForReadyRead(50);
    while (sim.canReadLine())
      if (sim.readLine().startsWith("<- ")) ++requests;
  }
  server.Kill();
  ASSERT_TRUE(ctl.waitForFinished(15000));
  const QString out = QString::fromUtf8(ctl.readAllStandardOutput());
  const QString err = QString::fromUtf8(ctl.readAllStandardError());
  EXPECT_EQ(ctl.exitCode(), 1) << out.toStdString() << err.toStdString();
  EXPECT_TRUE(err.contains("the port went away")) << err.toStdString();
  EXPECT_FALSE(out.contains(": applied")) << "nothing is called applied that was not read back: " << out.toStdString();
  sim.kill();
  sim.waitForFinished(3000);
}

TEST(DeviceServer, ManyModulesFromAPortsFileAndWhatARawPortCannotDo) {
  SimProcess first({"--no-publish", "--quiet"}), second({"--no-publish", "--quiet"});
  Ser2net server(QStringList{first.Port(), second.Port()});
  ASSERT_TRUE(server.Listening());
  QTemporaryDir dir;
  const QString list = dir.filePath(QStringLiteral("ports.txt"));
  QFile file(list);
  ASSERT_TRUE(file.open(QIODevice::WriteOnly));
  file.write(("# cabinet 3\n" + server.TelnetUrl(0) + "\n\n  " + server.RawUrl(1) + "  # behind the pump\n").toUtf8());
  file.close();
  const CtlRun both = Ctl({"--ports-file", list, "--jobs", "1", "info"});
  EXPECT_EQ(both.status, 0) << both.err.toStdString();
  EXPECT_EQ(both.out.count(": ok QV:RQ735 SIM"), 2) << both.out.toStdString();

  // One accepter named by both schemes is one port: two runs would fight on its line.
  const CtlRun twice = Ctl({"--port", server.TelnetUrl(0), "--port",
                            QString(server.TelnetUrl(0)).replace(QStringLiteral("rfc2217://"), QStringLiteral("tcp://")), "info"});
  EXPECT_EQ(twice.status, 2);
  EXPECT_TRUE(twice.err.contains("are one port")) << twice.err.toStdString();

  // A raw port keeps the server's line: the tool says so, and cannot follow a new module line.
  const CtlRun raw = Ctl({"--port", server.RawUrl(1), "--baud", "9600", "set", "rs485_baud=19200"});
  EXPECT_EQ(raw.status, 1);
  EXPECT_TRUE(raw.err.contains("the line settings of a tcp:// port are the device server's own")) << raw.err.toStdString();
  EXPECT_TRUE(raw.err.contains("which a tcp:// port cannot follow")) << raw.err.toStdString();

  // A raw port asked for RFC 2217 never answers the negotiation: the opening gives up after its time
  // limit, and the thread's events go on meanwhile (a window would stay painted).
  int ticks = 0;
  QTimer tick;
  QObject::connect(&tick, &QTimer::timeout, [&] { ++ticks; });
  tick.start(50);
  TComm comm;
  comm.SetCommName(QString(server.RawUrl(0)).replace(QStringLiteral("tcp://"), QStringLiteral("rfc2217://")));
  try {
    comm.OpenPort();
    ADD_FAILURE() << "a raw port took RFC 2217";
  } catch (const ECommsError &e) {
    EXPECT_NE(e.Advice().find("did not acknowledge the line settings within 3 s"), std::string::npos) << e.Advice();
  }
  EXPECT_GT(ticks, 30) << "the events were held up while connecting";

  // A driver without the RS485 mode (a pseudo-terminal) is told, and the run goes on without it.
  const CtlRun rs485 = Ctl({"--port", first.Port(), "--rs485", "rts-on-send:1:1", "info"});
  EXPECT_EQ(rs485.status, 0) << rs485.err.toStdString();
  EXPECT_TRUE(rs485.err.contains("refuses the RS485 mode; going on without it")) << rs485.err.toStdString();
}

TEST(DeviceServer, Rfc2217BytesAreExactBothWaysAndARefusalIsTold) {
  Rfc2217Peer peer;
  TComm comm;
  Bytes received;
  comm.OnReceiveData = [&](TComm *, const uint8_t *b, uint16_t n) { received.insert(received.end(), b, b + n); };
  comm.SetCommName(peer.Url());
  comm.SetBaudRate(19200);
  comm.SetParity(TParity::Even);
  comm.SetRtsControl(TRtsControl::RtsEnable);
  comm.SetDtrControl(TDtrControl::DtrDisable);
  comm.OpenPort();

  using namespace telnet::rfc2217;
  const std::vector<Bytes> expected = {{kSetBaudRate, 0x00, 0x00, 0x4B, 0x00}, {kSetDataSize, 8},
                                       {kSetParity, kParityEven},            {kSetStopSize, kStopOne},
                                       {kSetControl, kNoFlowControl},         {kSetControl, kNoInboundFlowControl},
                                       {kSetControl, kRtsOn},                 {kSetControl, kDtrOff}};
  ASSERT_TRUE(WaitFor([&] { return peer.Subnegotiations().size() >= expected.size(); }));
  const auto subs = peer.Subnegotiations();
  EXPECT_EQ(std::vector<Bytes>(subs.begin(), subs.begin() + static_cast<long>(expected.size())), expected);

  // Each later change goes out as the whole line again, in the same order: nine sub-negotiations.
  size_t total = expected.size() + 1;  // and the modem-state mask
  struct Change {
    uint32_t baud;
    TParity parity;
    bool rts, dtr;
    Bytes baudBytes;
    uint8_t parityCode;
  };
  for (const Change &c : {Change{1200, TParity::None, false, true, {0, 0, 0x04, 0xB0}, kParityNone},
                          Change{57600, TParity::Odd, true, true, {0, 0, 0xE1, 0x00}, kParityOdd},
                          Change{15200, TParity::Even, false, false, {0, 0, 0x3B, 0x60}, kParityEven}}) {
    // Each setter that changes something sends the line: count them, then read the last.
    const size_t sent = (comm.RtsControl() != (c.rts ? TRtsControl::RtsEnable : TRtsControl::RtsDisable)) +
                        (comm.DtrControl() != (c.dtr ? TDtrControl::DtrEnable : TDtrControl::DtrDisable)) + 1;
    comm.SetRtsControl(c.rts ? TRtsControl::RtsEnable : TRtsControl::RtsDisable);
    comm.SetDtrControl(c.dtr ? TDtrControl::DtrEnable : TDtrControl::DtrDisable);
    comm.SetLine(c.baud, c.parity);
    total += 9 * sent;
    ASSERT_TRUE(WaitFor([&] { return peer.Subnegotiations().size() >= total; }));
    const auto now = peer.Subnegotiations();
    const size_t before = total - 9;
    Bytes baud{kSetBaudRate};
    baud.insert(baud.end(), c.baudBytes.begin(), c.baudBytes.end());
    EXPECT_EQ(now[before], baud);
    EXPECT_EQ(now[before + 2], (Bytes{kSetParity, c.parityCode}));
    EXPECT_EQ(now[before + 6], (Bytes{kSetControl, static_cast<uint8_t>(c.rts ? kRtsOn : kRtsOff)}));
    EXPECT_EQ(now[before + 7], (Bytes{kSetControl, static_cast<uint8_t>(c.dtr ? kDtrOn : kDtrOff)}));
  }

  // A HART request goes out unescaped at the far end; the answer, its 0xFF pairs split between two
  // reads, comes back as the instrument sent it.
  const Bytes request = HartShortFrame(7, hart::kPrimaryMaster, 0, hart::kReadUniqueIdentifier);
  ASSERT_TRUE(comm.WriteData(request.data(), static_cast<uint16_t>(request.size())));
  ASSERT_TRUE(WaitFor([&] { return received.size() >= 24; }));
  EXPECT_EQ(peer.Data(), request);
  EXPECT_EQ(Bytes(received.begin(), received.begin() + 6), (Bytes{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, hart::kShortReply}));
  EXPECT_EQ(received.back(), HartChecksum(received.data() + 5, received.size() - 6));
  comm.ClosePort();

  Rfc2217Peer refusing(true);
  TComm refused;
  refused.SetCommName(refusing.Url());
  try {
    refused.OpenPort();
    ADD_FAILURE() << "opened although the server refused COM port control";
  } catch (const ECommsError &e) {
    EXPECT_NE(e.Advice().find("does not offer RFC 2217 COM port control: use tcp://"), std::string::npos) << e.Advice();
  }
  EXPECT_FALSE(refused.IsOpen());
}

TEST(DeviceServer, FailedOpeningsSayWhatIsWrong) {
  const QString port = QString::number(FreeLoopbackPort());
  const std::pair<QString, std::string> cases[] = {
      {"rfc2217://127.0.0.1:" + port, "Nothing listens at 127.0.0.1:" + port.toStdString()},
      {"tcp://no-such-host.invalid:4001", "There is no host no-such-host.invalid"},
      {"tcp://127.0.0.1:70000", "port 70000 is out of range (1 to 65535)"},
      {"rfc2217://127.0.0.1", "no port after the host"},
  };
  for (const auto &[url, advice] : cases) {
    TComm comm;
    comm.SetCommName(url);
    try {
      comm.OpenPort();
      ADD_FAILURE() << url.toStdString() << " opened";
    } catch (const ECommsError &e) {
      EXPECT_STREQ(e.what(), "Error opening serial port");
      EXPECT_NE(e.Advice().find(advice), std::string::npos) << e.Advice();
    }
  }
}

}  // namespace
