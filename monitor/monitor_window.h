// The monitor: a window of its own beside the main one, built the first time it is opened. Its
// "Traffic" page lists every frame on the line with what it means; its "Trend" page plots the
// instrument's dynamic variables and can poll them.
#pragma once

#include <QWidget>

class QCheckBox;
class QComboBox;
class QSpinBox;
class QTableView;
class QTimer;
class TForm1;
class TrafficFilter;
class TrafficModel;
class TrendChart;

class MonitorWindow : public QWidget {
  Q_OBJECT

 public:
  explicit MonitorWindow(TForm1 &form);

  TrafficModel &Model() { return *model_; }
  TrendChart &Trend() { return *trend_; }

  // The rows shown (after the filters) that are selected, as lines; all shown rows when none is.
  QString SelectedText() const;
  bool SaveText(const QString &path, bool csv) const;

  // "Poll every N s": command 3 through the window's request cycle, when no other request waits and
  // no message waits for the user. A turn left unanswered ends polling: its timeout message is shown
  // once, not every N seconds.
  void SetPolling(bool on, int seconds);
  bool Polling() const;

 private:
  void Poll();
  std::vector<int> ShownRows(bool selectedOnly) const;

  TForm1 &form_;
  TrafficModel *model_;
  TrafficFilter *filter_;
  QTableView *table_;
  TrendChart *trend_;
  QCheckBox *poll_;
  QSpinBox *pollSeconds_;
  QTimer *pollTimer_;
  size_t samplesSeen_ = 0;      // command 3 replies parsed since the window opened
  size_t samplesAtTurn_ = 0;    // ... when the last poll went out
  bool turnOut_ = false;        // a poll went out since polling started
};
