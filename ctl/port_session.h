// One port's run of a command: the line, what was found, and how it ended. The module's commands
// and the instrument's build on it.
#pragma once

#include <QJsonObject>
#include <QString>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "ctl/commands.h"
#include "ctl/module_line.h"
#include "protocol/hex.h"

class PortSession {
 public:
  PortSession(const Invocation &inv, PortResult &result, const Trace &trace)
      : inv_(inv), result_(result) {
    LineOptions options;
    options.port = result.port;
    options.baud = inv.baud;
    options.parity = inv.parity;
    options.timeout = inv.timeout;
    options.rts = inv.rts;
    options.dtr = inv.dtr;
    options.rs485 = inv.rs485;
    line_ = std::make_unique<ModuleLine>(options, trace);
  }

  bool Open() {
    try {
      line_->Open();
      if (line_->Rs485Refused()) Warn("the driver of " + Std(result_.port) + " refuses the RS485 mode; going on without it");
      if (inv_.lineGiven && RawNetworkPort())
        Warn(Std(result_.port) + ": the line settings of a tcp:// port are the device server's own; --baud and --parity "
             "are not sent (rfc2217:// sets them)");
      return true;
    } catch (const ECommsError &e) {
      Fail(kPortFailed, std::string(e.what()) + ". " + e.Advice());
      return false;
    }
  }

  void Fail(int status, const std::string &message) {
    result_.status = std::max(result_.status, status);
    result_.errors.push_back(message);
  }
  static std::string Std(const QString &text) { return text.toLocal8Bit().toStdString(); }
  // A tcp:// port carries bytes only: its line is the device server's.
  bool RawNetworkPort() const { return result_.port.startsWith(QStringLiteral("tcp://")); }
  void Say(const std::string &line) { result_.lines.push_back(line); }
  void Summary(const std::string &line) { result_.summary = line; }
  QJsonObject &Json() { return result_.json; }

  void Warn(const std::string &line) {
    if (std::find(result_.warnings.begin(), result_.warnings.end(), line) == result_.warnings.end())
      result_.warnings.push_back(line);
  }

  // save and hart save: the document written to the file of this port (one a port when several
  // run), and told with how many settings it holds.
  void WriteSettingsFile(const QJsonObject &document, const QJsonObject &settings, const std::string &what) {
    const std::string path = FileForPort(inv_.file, result_.port, inv_.ports.size() > 1);
    std::string why;
    if (!WriteJsonFile(path, document, &why)) return Fail(kModuleFailed, why);
    Say("saved " + std::to_string(settings.size()) + " " + what + " to " + path);
    Summary(result_.lines.back());
    Json()["file"] = QString::fromStdString(path);
    Json()["settings"] = settings;
  }

  // What came, for a reply that is not one: another program's greeting, a device server's refusal.
  static std::string Received(const std::vector<uint8_t> &reply) {
    constexpr size_t kShown = 48;
    const size_t shown = std::min(reply.size(), kShown);
    return BytesAndText(reply.data(), shown) + (reply.size() > shown ? " ..." : "");
  }

 protected:
  const Invocation &inv_;
  PortResult &result_;
  std::unique_ptr<ModuleLine> line_;
};
