// A window timer with the semantics the handlers rely on: enabling a running timer or setting the
// interval it already has leaves its current period running; a different interval restarts it.
#pragma once

#include <QObject>
#include <QTimer>

#include <functional>

class TTimer {
 public:
  TTimer(QObject *owner, const char *name, int intervalMs, std::function<void()> onTimer);

  bool Enabled() const { return timer_->isActive(); }
  void SetEnabled(bool enabled);
  int Interval() const { return timer_->interval(); }
  void SetInterval(int ms);
  QTimer *Raw() const { return timer_; }

 private:
  QTimer *timer_;  // child of the owner, named after the timer
};
