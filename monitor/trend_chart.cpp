#include "monitor/trend_chart.h"

#include <QChart>
#include <QChartView>
#include <QFile>
#include <QLegendMarker>
#include <QLineSeries>
#include <QPixmap>
#include <QTextStream>
#include <QValueAxis>
#include <QVBoxLayout>

#include <algorithm>

namespace {

const QColor kColors[] = {QColor(0x1F, 0x77, 0xB4), QColor(0xD6, 0x27, 0x28), QColor(0x2C, 0xA0, 0x2C),
                          QColor(0x94, 0x67, 0xBD)};

}  // namespace

TrendChart::TrendChart(LineLog &log, QWidget *parent) : QWidget(parent), log_(log) {
  chart_ = new QChart;
  chart_->setTitle(tr("Dynamic variables (HART command 3)"));
  time_ = new QValueAxis;
  time_->setTitleText(tr("seconds since start"));
  chart_->addAxis(time_, Qt::AlignBottom);
  for (int v = 0; v < 4; ++v) {
    axes_[v] = new QValueAxis;
    axes_[v]->setLinePenColor(kColors[v]);
    axes_[v]->setLabelsColor(kColors[v]);
    chart_->addAxis(axes_[v], v % 2 == 0 ? Qt::AlignLeft : Qt::AlignRight);
  }
  view_ = new QChartView(chart_, this);
  view_->setObjectName(QStringLiteral("TrendChart"));
  view_->setRenderHint(QPainter::Antialiasing);
  auto *layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(view_);
  connect(&log_, &LineLog::SampleAdded, this, [this] { Add(log_.Samples().back()); });
  Reload();
}

void TrendChart::Reload() {
  for (const TrendSample &sample : log_.Samples()) Add(sample);
}

void TrendChart::Add(const TrendSample &sample) {
  for (int v = 0; v < 4; ++v) {
    const auto &value = sample.values[static_cast<size_t>(v)];
    if (!value) {
      broken_[static_cast<size_t>(v)] = !segments_[static_cast<size_t>(v)].empty();
      continue;
    }
    auto &segments = segments_[static_cast<size_t>(v)];
    if (segments.empty() || broken_[static_cast<size_t>(v)]) {
      auto *series = new QLineSeries;
      series->setColor(kColors[v]);
      chart_->addSeries(series);
      series->attachAxis(time_);
      series->attachAxis(axes_[v]);
      // The legend names a variable once, with its unit; later stretches of it stay out of it.
      const auto markers = chart_->legend()->markers(series);
      if (!segments.empty()) {
        for (QLegendMarker *m : markers) m->setVisible(false);
      }
      segments.push_back(series);
      broken_[static_cast<size_t>(v)] = false;
    }
    const QString unit = sample.units[static_cast<size_t>(v)];
    segments.front()->setName(tr("variable %1 (%2)").arg(v + 1).arg(unit));
    axes_[v]->setTitleText(unit);
    segments.back()->append(sample.seconds, *value);
    double &low = low_[static_cast<size_t>(v)], &high = high_[static_cast<size_t>(v)];
    if (!seen_[static_cast<size_t>(v)]) low = high = *value;
    seen_[static_cast<size_t>(v)] = true;
    low = std::min(low, *value);
    high = std::max(high, *value);
    const double margin = std::max(1e-6, (high - low) * 0.05);
    axes_[v]->setRange(low - margin, high + margin);
  }
  const double first = log_.Samples().empty() ? 0 : log_.Samples().front().seconds;
  time_->setRange(first, std::max(first + 1, sample.seconds));
}

int TrendChart::PointCount(int variable) const {
  int n = 0;
  for (const QLineSeries *s : segments_.at(static_cast<size_t>(variable))) n += s->count();
  return n;
}

int TrendChart::SegmentCount(int variable) const {
  return static_cast<int>(segments_.at(static_cast<size_t>(variable)).size());
}

bool TrendChart::SaveCsv(const QString &path) const {
  QFile file(path);
  if (!file.open(QIODevice::WriteOnly | QIODevice::Text)) return false;
  QTextStream out(&file);
  const std::deque<TrendSample> &samples = log_.Samples();
  out << "seconds";
  for (int v = 0; v < 4; ++v) {
    QString unit;
    for (const TrendSample &s : samples)
      if (!s.units[static_cast<size_t>(v)].isEmpty()) unit = s.units[static_cast<size_t>(v)];
    out << ",\"variable " << v + 1 << " (" << unit << ")\"";
  }
  out << "\n";
  for (const TrendSample &s : samples) {
    out << QString::number(s.seconds, 'f', 3);
    for (const auto &value : s.values) out << "," << (value ? QString::number(*value, 'g', 9) : QString());
    out << "\n";
  }
  return out.status() == QTextStream::Ok;
}

bool TrendChart::SavePng(const QString &path) const { return view_->grab().save(path, "PNG"); }
