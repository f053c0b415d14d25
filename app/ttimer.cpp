#include "app/ttimer.h"

TTimer::TTimer(QObject *owner, const char *name, int intervalMs, std::function<void()> onTimer)
    : timer_(new QTimer(owner)) {
  timer_->setObjectName(QString::fromLatin1(name));
  timer_->setInterval(intervalMs);
  timer_->setTimerType(Qt::PreciseTimer);
  if (onTimer) QObject::connect(timer_, &QTimer::timeout, owner, std::move(onTimer));
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == timer_->isActive()) return;
  if (enabled)
    timer_->start();
  else
    timer_->stop();
}

void TTimer::SetInterval(int ms) {
  if (ms == timer_->interval()) return;
  timer_->setInterval(ms);  // restarts the period of a running timer
}
