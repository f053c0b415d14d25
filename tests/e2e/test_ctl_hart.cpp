// rq735ctl as a HART communicator: hart info and hart status against rq735-sim's instrument.
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <gtest/gtest.h>

#include "tests/support/ctl_run.h"
#include "tests/support/sim_process.h"

namespace {

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

}  // namespace
