// What rq735ctl does on one port: the commands, each run on a thread of its own per port.
#pragma once

#include <QJsonObject>
#include <QString>

#include <chrono>
#include <string>
#include <vector>

#include "ctl/settings.h"
#include "serial/line_settings.h"

// Exit statuses.
enum Status { kDone = 0, kModuleFailed = 1, kBadUsage = 2, kPortFailed = 3 };

struct Invocation {
  std::vector<QString> ports;
  uint32_t baud = 9600;
  TParity parity = TParity::None;
  std::chrono::milliseconds timeout{1000};
  bool json = false;
  bool trace = false;
  std::string command;            // info, get, set, save, apply, hart, modbus
  std::vector<std::string> args;  // what follows the command
  Settings wanted;                // set and apply: checked before anything is sent
  std::string file;               // save and apply
  // hart and modbus
  std::string action;
  int number = 0;             // hart address N
  std::vector<uint8_t> body;  // hart raw
  int pollingAddress = 0;
  int slave = -1;  // modbus read: -1 for the module's own slave address
  int start = 0;
  int count = 10;
  int format = -1;  // -1: the module's data formats
};

struct PortResult {
  QString port;
  int status = kDone;
  std::vector<std::string> lines;   // for standard output
  std::string summary;              // the line printed for this port when there are several
  std::vector<std::string> errors;  // for standard error
  QJsonObject json;
};

// Runs the invocation's command on one port. `trace` gets the frames when tracing.
PortResult RunOnPort(const Invocation &invocation, const QString &port,
                     const std::function<void(const std::string &)> &trace);

// Reads a settings file; nothing, with the reason in `error`, when it is not one of ours or holds
// a setting that is unknown or does not fit.
std::optional<Settings> ReadSettingsFile(const std::string &path, std::string *error);
// The file name `save` uses for a port when several are given: the port's name goes before the
// extension, its slashes as dashes.
std::string FileForPort(const std::string &file, const QString &port, bool severalPorts);
