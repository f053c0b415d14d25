// A running rq735-sim for end-to-end tests: started on construction, stopped on destruction.
#pragma once

#include <QProcess>
#include <QString>

class SimProcess {
 public:
  explicit SimProcess(const QStringList &arguments = {});
  ~SimProcess();
  // The port path the simulator printed on its first line (the published link).
  const QString &Port() const { return port_; }
  bool Running() const { return process_.state() == QProcess::Running; }

 private:
  QProcess process_;
  QString port_;
};
