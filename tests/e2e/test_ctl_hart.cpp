// rq735ctl as a HART communicator against rq735-sim's instrument: hart info and status, set, save and
// apply, the loop test.
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QProcess>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>

#include "tests/support/ctl_run.h"
#include "tests/support/sim_process.h"

namespace {

// rq735ctl started and left running, for what is done to it while it runs.
struct RunningCtl {
  explicit RunningCtl(const QStringList &arguments) {
    process.start(QStringLiteral(RQ735_CTL_PATH), arguments);
    process.waitForStarted();
  }
  // Waits until standard output holds `text`.
  bool Shows(const QString &text) {
    for (int i = 0; i < 100 && !out.contains(text); ++i) {
      process.waitForReadyRead(100);
      out += QString::fromUtf8(process.readAllStandardOutput());
    }
    return out.contains(text);
  }
  // Its exit status once it ended (-1 when it did not within 10 s), with all it printed.
  int Ended() {
    if (!process.waitForFinished(10000)) return -1;
    out += QString::fromUtf8(process.readAllStandardOutput());
    err = QString::fromUtf8(process.readAllStandardError());
    return process.exitCode();
  }
  QProcess process;
  QString out, err;
};

bool LoopCurrentFixed(const QString &port) {
  return Ctl({"--port", port, "hart", "status"}).out.contains("loop current fixed: set");
}

TEST(CtlHart, InfoNamesEverySettingWithItsUnitAndStatusTellsAWrite) {
  SimProcess sim({"--no-publish", "--quiet", "--frozen"});
  const QString port = sim.Port();

  const CtlRun info = Ctl({"--port", port, "hart", "info"});
  ASSERT_EQ(info.status, 0) << info.out.toStdString() << info.err.toStdString();
  for (const char *line : {"universal_revision 5", "tag FT-101", "descriptor FLOW TRANSMITTER", "date 2024-01-15",
                           "pv_units CuMtr_hr", "lower_range 0 CuMtr_hr", "upper_range 120 CuMtr_hr", "damping 0.5 s",
                           "loop_current 12 mA", "upper_sensor_limit 200 CuMtr_hr", "write_protect no"})
    EXPECT_TRUE(info.out.contains(line)) << line << " in:\n" << info.out.toStdString();
  // Revision 5 has neither a long tag nor device variables with status: not asked, so not refused.
  EXPECT_FALSE(info.out.contains("long_tag") || info.out.contains("device_variable")) << info.out.toStdString();
  const QJsonObject values = Ctl({"--port", port, "--json", "hart", "info"}).Json().value("instrument").toObject();
  EXPECT_EQ(values.value("upper_range").toDouble(), 120);
  EXPECT_EQ(values.value("damping").toDouble(), 0.5);
  EXPECT_EQ(values.value("pv_units_code").toInt(), 19);
  EXPECT_EQ(values.value("tag").toString(), "FT-101");

  const QString bit = QStringLiteral("bit 6 configuration changed: ");
  const CtlRun before = Ctl({"--port", port, "hart", "status"});
  EXPECT_EQ(before.status, 0) << before.err.toStdString();
  EXPECT_TRUE(before.out.contains(bit + "clear")) << before.out.toStdString();
  EXPECT_TRUE(before.out.contains("additional_status 00 00 00 00 00 00")) << before.out.toStdString();
  ASSERT_EQ(Ctl({"--port", port, "hart", "address", "0"}).status, 0);
  const CtlRun after = Ctl({"--port", port, "--json", "hart", "status"});
  EXPECT_EQ(after.status, 0) << after.err.toStdString();
  EXPECT_TRUE(after.Json().value("device_status_bits").toObject().value("configuration changed").toBool())
      << after.out.toStdString();
  EXPECT_TRUE(Ctl({"--port", port, "hart", "status"}).out.contains(bit + "set"));

  const QStringList actions = Ctl({"--complete", "--", "hart", ""}).out.split('\n');
  EXPECT_TRUE(actions.contains("info") && actions.contains("status")) << actions.join(' ').toStdString();
}

TEST(CtlHart, Revision7AddsTheLongTagDeviceVariablesAndNamedStatusBytesOnManyPorts) {
  SimProcess a({"--no-publish", "--quiet", "--frozen", "--hart7"}), b({"--no-publish", "--quiet", "--frozen", "--hart7"});
  const CtlRun info = Ctl({"--port", a.Port(), "--port", b.Port(), "--json", "hart", "info"});
  ASSERT_EQ(info.status, 0) << info.out.toStdString() << info.err.toStdString();
  const QStringList lines = info.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << info.out.toStdString();
  for (const QString &line : lines) {
    const QJsonObject values = QJsonDocument::fromJson(line.toUtf8()).object().value("instrument").toObject();
    EXPECT_EQ(values.value("long_tag").toString(), "FT-101 feed water flow") << line.toStdString();
    EXPECT_EQ(values.value("response_preambles").toInt(), 5);
    EXPECT_EQ(values.value("device_variables").toArray().size(), 4) << line.toStdString();
  }
  const CtlRun status = Ctl({"--port", a.Port(), "hart", "status"});
  EXPECT_EQ(status.status, 0) << status.err.toStdString();
  EXPECT_TRUE(status.out.contains("  analog_channel_fixed 00") && status.out.contains("  extended_device_status 00"))
      << status.out.toStdString();
}

TEST(CtlHart, EverySettingRoundTripsAndRefusalsSayWhy) {
  SimProcess sim({"--no-publish", "--quiet", "--frozen", "--hart7"});
  const QString port = sim.Port();
  const QStringList wanted = {"tag=pt-7",          "descriptor=DRUM LEVEL",  "message=CHECKED 2026-12-09",
                              "date=2026-12-09",   "final_assembly=123456",  "long_tag=Kessel 3 Füllstand",
                              "pv_units=bar",      "lower_range=2.5",        "upper_range=25",
                              "damping=2",         "response_preambles=8",   "polling_address=5"};
  const CtlRun set = Ctl(QStringList{"--port", port, "hart", "set"} + wanted);
  ASSERT_EQ(set.status, 0) << set.out.toStdString() << set.err.toStdString();
  EXPECT_TRUE(set.out.contains("12 written, 0 already equal, 0 not written")) << set.out.toStdString();
  EXPECT_TRUE(set.err.contains("tag: lower case is written as upper case")) << set.err.toStdString();
  const CtlRun info = Ctl({"--port", port, "hart", "info", "--polling", "5"});
  ASSERT_EQ(info.status, 0) << info.err.toStdString();
  for (const char *line : {"tag PT-7", "descriptor DRUM LEVEL", "message CHECKED 2026-12-09", "date 2026-12-09",
                           "final_assembly 123456", "long_tag Kessel 3 Füllstand", "pv_units bar",
                           "lower_range 2.5 bar", "upper_range 25 bar", "damping 2 s", "response_preambles 8"})
    EXPECT_TRUE(info.out.contains(QString::fromUtf8(line))) << line << " in:\n" << info.out.toStdString();
  const CtlRun again = Ctl({"--port", port, "hart", "set", "--polling", "5", "damping=2", "tag=PT-7"});
  EXPECT_TRUE(again.out.contains("0 written, 2 already equal")) << again.out.toStdString();

  // Refused before any port is opened, naming the field.
  for (const auto &[arg, why] : std::vector<std::pair<QString, QString>>{
           {"tag=TOOLONG-1", "tag: 9 characters, 8 at most"},
           {"descriptor=Ä", "descriptor: character 1"},
           {"date=2026-02-30", "date: "},
           {"pv_units=furlongs", "pv_units: "}}) {
    const CtlRun r = Ctl({"--port", "/dev/null/none", "hart", "set", arg});
    EXPECT_EQ(r.status, 2) << arg.toStdString();
    EXPECT_TRUE(r.err.contains(why)) << r.err.toStdString();
  }
  // What the instrument or its revision refuses is told per setting.
  SimProcess old({"--no-publish", "--quiet", "--frozen"}), locked({"--no-publish", "--quiet", "--frozen", "--write-protect"});
  const CtlRun longTag = Ctl({"--port", old.Port(), "hart", "set", "long_tag=X", "damping=1"});
  EXPECT_EQ(longTag.status, 1);
  EXPECT_TRUE(longTag.out.contains("long_tag = X: refused (not sent: command 22 (write long tag) needs universal revision 6"))
      << longTag.out.toStdString();
  EXPECT_TRUE(longTag.out.contains("damping = 1: written")) << longTag.out.toStdString();
  const CtlRun protectedSet = Ctl({"--port", locked.Port(), "hart", "set", "tag=X"});
  EXPECT_EQ(protectedSet.status, 1);
  EXPECT_TRUE(protectedSet.out.contains("tag = X: refused (response code 7 in write-protect mode)"))
      << protectedSet.out.toStdString();
}

TEST(CtlHart, SavedFromOneInstrumentAppliedToTwoOthersGivesEqualInfo) {
  SimProcess a({"--no-publish", "--quiet", "--frozen", "--hart7"});
  SimProcess b({"--no-publish", "--quiet", "--frozen", "--hart7"}), c({"--no-publish", "--quiet", "--frozen", "--hart7"});
  ASSERT_EQ(Ctl({"--port", a.Port(), "hart", "set", "tag=FT-9", "long_tag=feed 9", "upper_range=80", "pv_units=KPa",
                 "message=SAVED"}).status, 0);
  const QString file = QDir::temp().filePath(QStringLiteral("rq735-hart-%1.json").arg(QCoreApplication::applicationPid()));
  const CtlRun save = Ctl({"--port", a.Port(), "hart", "save", file});
  ASSERT_EQ(save.status, 0) << save.err.toStdString();
  const CtlRun apply = Ctl({"--port", b.Port(), "--port", c.Port(), "hart", "apply", file});
  QFile::remove(file);
  ASSERT_EQ(apply.status, 0) << apply.out.toStdString() << apply.err.toStdString();
  const QJsonObject from = Ctl({"--port", a.Port(), "--json", "hart", "info"}).Json().value("instrument").toObject();
  for (const QString &port : {b.Port(), c.Port()}) {
    const QJsonObject to = Ctl({"--port", port, "--json", "hart", "info"}).Json().value("instrument").toObject();
    for (const char *key : {"tag", "descriptor", "message", "date", "long_tag", "pv_units", "lower_range", "upper_range",
                            "damping", "final_assembly", "response_preambles"})
      EXPECT_EQ(to.value(key), from.value(key)) << key;
  }
}

TEST(CtlHart, ALoopTestAlwaysLeavesFixedCurrentMode) {
  auto sim = std::make_unique<SimProcess>(QStringList{"--no-publish", "--quiet", "--frozen"});
  const QString port = sim->Port();
  // Stepped by Enter, from a pipe; then held, and interrupted in its second step.
  QProcess stepped;
  stepped.start(QStringLiteral(RQ735_CTL_PATH), {"--port", port, "hart", "loop-test", "4", "12", "20", "--yes"});
  stepped.write("\n\n\n");
  stepped.closeWriteChannel();
  ASSERT_TRUE(stepped.waitForFinished(10000));
  const QString steps = QString::fromUtf8(stepped.readAllStandardOutput());
  EXPECT_EQ(stepped.exitCode(), 0) << stepped.readAllStandardError().toStdString();
  for (const char *line : {"step 1: fixed at 4 mA; the instrument reports 4 mA, 0 % of range",
                           "step 2: fixed at 12 mA; the instrument reports 12 mA, 50 % of range",
                           "step 3: fixed at 20 mA; the instrument reports 20 mA, 100 % of range",
                           "left fixed current mode after the last step"})
    EXPECT_TRUE(steps.contains(line)) << line << " in:\n" << steps.toStdString();
  EXPECT_FALSE(LoopCurrentFixed(port));

  RunningCtl held({"--port", port, "hart", "loop-test", "4", "12", "20", "--hold", "2", "--yes"});
  ASSERT_TRUE(held.Shows("step 2:")) << held.out.toStdString();
  ::kill(static_cast<pid_t>(held.process.processId()), SIGINT);
  EXPECT_EQ(held.Ended(), 1);
  EXPECT_TRUE(held.out.contains("left fixed current mode on SIGINT")) << held.out.toStdString();
  EXPECT_FALSE(held.out.contains("step 3")) << held.out.toStdString();
  EXPECT_FALSE(LoopCurrentFixed(port));

  // The instrument gone in the middle: said so, not called done.
  RunningCtl lost({"--port", port, "hart", "loop-test", "4", "12", "--hold", "20", "--yes"});
  ASSERT_TRUE(lost.Shows("step 1:"));
  sim.reset();
  EXPECT_EQ(lost.Ended(), 1);
  EXPECT_TRUE(lost.err.contains("the loop current may still be fixed at 4 mA")) << lost.err.toStdString();

  const CtlRun unasked = Ctl({"--port", port, "hart", "loop-test", "4"});
  EXPECT_EQ(unasked.status, 2);
  EXPECT_TRUE(unasked.err.contains("give --yes")) << unasked.err.toStdString();
}

}  // namespace
