#include "app/line_log.h"

LineLog::LineLog(QObject *parent, size_t capacity) : QObject(parent), capacity_(capacity) { clock_.start(); }

void LineLog::Record(LineDirection direction, const uint8_t *bytes, size_t count) {
  if (records_.size() == capacity_) records_.pop_front();
  records_.push_back({clock_.elapsed(), direction,
                      QByteArray(reinterpret_cast<const char *>(bytes), static_cast<qsizetype>(count))});
  emit Recorded();
}

void LineLog::Clear() {
  records_.clear();
  emit Cleared();
}

void LineLog::AddSample(TrendSample sample) {
  if (samples_.size() == kSampleCapacity) samples_.pop_front();
  samples_.push_back(std::move(sample));
  emit SampleAdded();
}
