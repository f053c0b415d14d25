#include "tests/support/sim_process.h"

#include <gtest/gtest.h>

#ifndef RQ735_SIM_PATH
#error "RQ735_SIM_PATH must name the rq735-sim program"
#endif

SimProcess::SimProcess(const QStringList &arguments) {
  process_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process_.start(QStringLiteral(RQ735_SIM_PATH), arguments);
  if (!process_.waitForStarted(5000)) {
    ADD_FAILURE() << "rq735-sim did not start";
    return;
  }
  // First line: "rq735-sim: <port> (<pty>)".
  while (!process_.canReadLine() && process_.waitForReadyRead(5000)) {
  }
  const QString line = QString::fromLocal8Bit(process_.readLine()).trimmed();
  const int start = line.indexOf(QLatin1Char(' ')) + 1;
  const int end = line.indexOf(QLatin1Char(' '), start);
  port_ = line.mid(start, end < 0 ? -1 : end - start);
  if (!port_.startsWith(QLatin1Char('/'))) ADD_FAILURE() << "unexpected first line: " << line.toStdString();
}

SimProcess::~SimProcess() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.terminate();
  if (!process_.waitForFinished(3000)) {
    process_.kill();
    process_.waitForFinished(3000);
  }
}
