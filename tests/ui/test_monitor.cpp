// The monitor window driven through the main window, with a pseudo-terminal as the module.
#include <QComboBox>
#include <QFile>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>

#include "app/main_window.h"
#include "monitor/monitor_window.h"
#include "monitor/traffic_model.h"
#include "monitor/trend_chart.h"
#include "protocol/hart.h"
#include "protocol/modbus_rtu.h"
#include "tests/support/pty_peer.h"
#include "tests/support/ui_driver.h"

using namespace ui;

namespace {

using Bytes = std::vector<uint8_t>;

struct Monitored : OpenWindow {
  MessageCatcher catcher;
  // Clicks a button, answers its request with `reply` (none when empty) and waits for the parse.
  Bytes Exchange(const char *button, const Bytes &reply) {
    peer->Drain();
    Click(form.get(), button);
    Bytes request = peer->Read(std::chrono::milliseconds(500), std::chrono::milliseconds(60));
    if (!reply.empty()) {
      auto *memo = Find<QPlainTextEdit>(form.get(), "Memo10");
      memo->clear();
      peer->Write(reply);
      QTimer *parse = Timer(*form, "Timer2");
      EXPECT_TRUE(WaitUntil([&] { return !memo->toPlainText().isEmpty() && !parse->isActive(); }, 3000));
    }
    return request;
  }
  MonitorWindow &Monitor() {
    Click(form.get(), "MonitorButton");
    return *form->Monitor();
  }
};

Bytes WithChecksum(Bytes frame, size_t preambles) {
  frame.push_back(HartChecksum(frame.data() + preambles, frame.size() - preambles));
  return frame;
}

Bytes Identity() {
  return WithChecksum({0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x06, 0x80, 0x00, 0x0E, 0x00, 0x00, 0xFE, 0x26, 0x06,
                       0x05, 0x05, 0x01, 0x01, 0x08, 0x00, 0x00, 0x12, 0x34},
                      5);
}

// A command 3 answer with variable 3 given as `third` (0x7F: not a number).
Bytes Variables(uint8_t third) {
  Bytes body = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x86, 0xA6, 0x06, 0x00, 0x12, 0x34, 0x03, 26, 0x00, 0x00,
                0x41, 0x40, 0x00, 0x00, 32, 0x41, 0x48, 0x00, 0x00, 7, 0x3D, 0xCC, 0xCC, 0xCD,
                19, third, 0xCA, 0xA6, 0x66, 57, 0xC0, 0x70, 0x00, 0x00};
  return WithChecksum(body, 5);
}

// What the module's side of the line reads within `ms`, the window's events running meanwhile.
Bytes ReadWhileRunning(PtyPeer &peer, int ms, size_t enough) {
  Bytes got;
  WaitUntil(
      [&] {
        const Bytes more = peer.Read(std::chrono::milliseconds(5), std::chrono::milliseconds(5));
        got.insert(got.end(), more.begin(), more.end());
        return got.size() >= enough;
      },
      ms);
  return got;
}

std::vector<QString> Decoded(TrafficModel &model) {
  std::vector<QString> out;
  for (int r = 0; r < model.rowCount(); ++r) out.push_back(model.index(r, TrafficModel::Decoded).data().toString());
  return out;
}

TEST(Monitor, RowsSinceStartDecodeEveryDialectAndFlagWhatIsWrong) {
  Monitored m;
  m.Exchange("Button23", Bytes{'Q', 'X', '#', 'A', 'D', 'R', ':', '0', '0', '1', '#'});
  m.Exchange("Button7", Identity());
  Bytes spoilt = Identity();
  spoilt.back() ^= 0x5A;
  m.Exchange("Button7", spoilt);
  m.Exchange("Button4", {0x01, 0x83, 0x02, 0xC0, 0xF1});
  m.Exchange("Button4", {0x01, 0x83, 0x02, 0x00, 0x00});

  // Opened only now, the monitor shows everything since start.
  EXPECT_EQ(m.form->Monitor(), nullptr) << "built on first use";
  MonitorWindow &monitor = m.Monitor();
  TrafficModel &model = monitor.Model();
  const std::vector<QString> rows = Decoded(model);
  ASSERT_EQ(rows.size(), 10u);
  EXPECT_EQ(rows[0], "QQQ#QX#: system parameter query");
  EXPECT_EQ(rows[1], "system parameters: QX, ADR=001");
  EXPECT_TRUE(rows[2].startsWith("HART request, 7 preambles, short frame, primary master, polling address 0, command 0"));
  EXPECT_TRUE(rows[3].contains("manufacturer 38 type 6 id 4660, checksum 78 ok")) << rows[3].toStdString();
  EXPECT_TRUE(rows[5].contains("checksum 22 wrong, expected 78")) << rows[5].toStdString();
  EXPECT_EQ(rows[6], "MODBUS request: slave 1, function 3 (read holding registers), start 0, count 10, CRC C5 CD ok");
  EXPECT_TRUE(rows[7].endsWith("exception 2 (illegal data address), CRC C0 F1 ok"));
  EXPECT_TRUE(rows[9].endsWith("CRC 00 00 wrong, expected C0 F1")) << rows[9].toStdString();
  for (int r : {5, 9}) EXPECT_TRUE(model.index(r, 0).data(TrafficModel::kFlawedRole).toBool()) << r;
  EXPECT_FALSE(model.index(3, 0).data(TrafficModel::kFlawedRole).toBool());
  EXPECT_EQ(model.index(0, TrafficModel::Hex).data().toString(), "51 51 51 23 51 58 23");
  EXPECT_EQ(model.index(1, TrafficModel::Direction).data().toString(), "in");

  // Filters: HART answers only.
  Find<QComboBox>(&monitor, "DialectFilter")->setCurrentIndex(2);
  emit Find<QComboBox>(&monitor, "DialectFilter")->activated(2);
  Find<QComboBox>(&monitor, "DirectionFilter")->setCurrentIndex(2);
  emit Find<QComboBox>(&monitor, "DirectionFilter")->activated(2);
  const QString shown = monitor.SelectedText();
  EXPECT_EQ(shown.count('\n'), 2) << shown.toStdString();
  EXPECT_TRUE(shown.contains("\tin\t24\tFF FF FF FF FF 06 80")) << shown.toStdString();

  // Saved as CSV, with a header and quoted fields.
  QTemporaryDir dir;
  ASSERT_TRUE(monitor.SaveText(dir.filePath("traffic.csv"), true));
  QFile csv(dir.filePath("traffic.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_TRUE(csv.readLine().startsWith("\"Time (ms)\",\"Dir\",\"Bytes\""));

  // Paused, the table holds still; resumed, it catches up.
  Click(&monitor, "PauseButton");
  m.Exchange("Button6", Bytes{'Q', 'V', ':', '1', '#'});
  EXPECT_EQ(model.rowCount(), 10);
  Click(&monitor, "PauseButton");
  EXPECT_EQ(model.rowCount(), 12);
  Click(&monitor, "ClearButton");
  EXPECT_EQ(model.rowCount(), 0);
}

TEST(Monitor, TrendTakesEveryReplyAndPollingWaitsForOtherRequestsAndEndsUnansweredOrWithThePort) {
  Monitored m;
  MonitorWindow &monitor = m.Monitor();
  TrendChart &trend = monitor.Trend();
  m.Exchange("Button16", Variables(0x42));
  m.Exchange("Button16", Variables(0x7F));  // variable 3 is not a number: a gap
  m.Exchange("Button16", Variables(0x42));
  m.Exchange("Button16", Variables(0xFF));  // FF CA A6 66: not a number either
  m.Exchange("Button16", Variables(0x42));
  EXPECT_EQ(trend.PointCount(0), 5);
  EXPECT_EQ(trend.SegmentCount(0), 1);
  EXPECT_EQ(trend.PointCount(2), 3);
  EXPECT_EQ(trend.SegmentCount(2), 3) << "the line breaks where the value was not a number";
  QTemporaryDir dir;
  ASSERT_TRUE(trend.SaveCsv(dir.filePath("trend.csv")));
  QFile csv(dir.filePath("trend.csv"));
  ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
  EXPECT_TRUE(csv.readAll().contains("\"variable 1 (\xE2\x84\x83)\""));
  EXPECT_TRUE(trend.SavePng(dir.filePath("trend.png")));

  // Polling sends command 3 through the window's request cycle.
  m.peer->Drain();
  monitor.SetPolling(true, 1);
  Bytes polled = ReadWhileRunning(*m.peer, 3000, 16);
  ASSERT_EQ(polled.size(), 16u);
  EXPECT_EQ(polled[polled.size() - 3], 0x03) << "command 3";
  m.peer->Write(Variables(0x42));
  EXPECT_TRUE(WaitUntil([&] { return trend.PointCount(0) == 6; }, 3000));

  // While the system parameter query waits for its answer, no poll goes out.
  EXPECT_EQ(m.Exchange("Button23", {}), (Bytes{'Q', 'Q', 'Q', '#', 'Q', 'X', '#'}));
  EXPECT_TRUE(ReadWhileRunning(*m.peer, 2500, 1).empty());
  // The query times out, polling goes on, and a turn the instrument leaves unanswered ends it: its
  // timeout is told once, not at every turn.
  m.catcher.Clear();
  EXPECT_TRUE(WaitUntil([&] { return !monitor.Polling(); }, 12000));
  std::vector<QString> told;
  for (const Message &message : m.catcher.Messages()) told.push_back(message.text);
  EXPECT_EQ(told, (std::vector<QString>{"Parameter query timeout!", "!"}));
  // The port closes: polling ends.
  monitor.SetPolling(true, 1);
  Click(m.form.get(), "Button1");
  EXPECT_TRUE(WaitUntil([&] { return !monitor.Polling(); }, 3000));
}

}  // namespace
