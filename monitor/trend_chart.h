// The monitor's trend: the instrument's four dynamic variables against time, from every command 3
// reply the window parsed. A value that is not a number leaves a gap in its line.
#pragma once

#include <QWidget>

#include <array>
#include <vector>

#include "app/line_log.h"

class QChart;
class QChartView;
class QLineSeries;
class QValueAxis;

class TrendChart : public QWidget {
  Q_OBJECT

 public:
  explicit TrendChart(LineLog &log, QWidget *parent = nullptr);

  // Points of a variable (0 to 3) and the stretches of line they form.
  int PointCount(int variable) const;
  int SegmentCount(int variable) const;

  bool SaveCsv(const QString &path) const;
  bool SavePng(const QString &path) const;

 private:
  void Add(const TrendSample &sample);
  void Reload();

  LineLog &log_;
  QChart *chart_;
  QChartView *view_;
  QValueAxis *time_;
  std::array<QValueAxis *, 4> axes_{};
  std::array<std::vector<QLineSeries *>, 4> segments_;
  std::array<bool, 4> broken_{};  // the last sample left a gap
  std::array<double, 4> low_{}, high_{};
  std::array<bool, 4> seen_{};
};
