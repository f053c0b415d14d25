// rq735ctl run as a script runs it, for end-to-end tests: its exit status and what it printed.
// Header-only: RQ735_CTL_PATH is given to the test programs, not to the support library.
#pragma once

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QString>
#include <QStringList>

struct CtlRun {
  int status = -1;  // -1 when it did not finish within 30 s, or crashed
  QString out, err;
  QJsonObject Json() const { return QJsonDocument::fromJson(out.toUtf8()).object(); }
};

inline CtlRun Ctl(const QStringList &arguments) {
  QProcess p;
  p.start(QStringLiteral(RQ735_CTL_PATH), arguments);
  CtlRun r;
  if (!p.waitForFinished(30000)) return r;
  r.status = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  r.out = QString::fromUtf8(p.readAllStandardOutput());
  r.err = QString::fromUtf8(p.readAllStandardError());
  return r;
}
