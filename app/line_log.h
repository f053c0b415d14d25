// What went over the line since the program started: every frame the window wrote and every
// delivery it received, with its time. A ring: the oldest entries give way beyond its capacity.
// Also the samples of the instrument's dynamic variables, from every command 3 reply parsed.
#pragma once

#include <QByteArray>
#include <QElapsedTimer>
#include <QObject>
#include <QString>

#include <array>
#include <cstdint>
#include <deque>
#include <optional>

#include "protocol/line_decoder.h"

struct LineRecord {
  qint64 ms = 0;  // since the program started
  LineDirection direction = LineDirection::Sent;
  QByteArray bytes;
};

struct TrendSample {
  double seconds = 0;                           // since the program started
  std::array<std::optional<double>, 4> values;  // none for a variable not carried or not a number
  std::array<QString, 4> units;
};

class LineLog : public QObject {
  Q_OBJECT

 public:
  static constexpr size_t kDefaultCapacity = 10000;
  static constexpr size_t kSampleCapacity = 100000;

  explicit LineLog(QObject *parent = nullptr, size_t capacity = kDefaultCapacity);

  void Record(LineDirection direction, const uint8_t *bytes, size_t count);
  void Clear();
  size_t Size() const { return records_.size(); }
  const LineRecord &At(size_t i) const { return records_[i]; }
  size_t Capacity() const { return capacity_; }

  void AddSample(TrendSample sample);
  const std::deque<TrendSample> &Samples() const { return samples_; }
  double SecondsNow() const { return static_cast<double>(clock_.nsecsElapsed()) / 1e9; }

 signals:
  void Recorded();
  void Cleared();
  void SampleAdded();

 private:
  QElapsedTimer clock_;
  size_t capacity_;
  std::deque<LineRecord> records_;
  std::deque<TrendSample> samples_;
};
