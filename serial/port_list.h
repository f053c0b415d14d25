// The ports this machine offers, as the window's "Serial Port:" list and `rq735ctl ports` show
// them: serial adapters by their stable /dev/serial/by-id name where they have one, then the
// simulated modules that running rq735-sim processes publish. And what a port name reaches, so
// that two names of one port can be told.
#pragma once

#include <QString>
#include <QStringList>

#include <vector>

struct FoundPort {
  enum class Kind { Adapter, Simulator };
  Kind kind = Kind::Adapter;
  QString name;    // what to open: the stable name, the device itself, or the simulator's link
  QString device;  // the device behind the name (the same text when the name is the device)
};

// Adapters under `devRoot`: each /dev/serial/by-id link, then each ttyUSB* and ttyACM* that no
// such link already stands for; in name order within each.
std::vector<FoundPort> FoundAdapters(const QString &devRoot = QStringLiteral("/dev"));
// The adapters, then the running simulators; each name once.
std::vector<FoundPort> FoundPorts(const QString &devRoot = QStringLiteral("/dev"));
QStringList PortNames(const std::vector<FoundPort> &ports);

// What a port name reaches. For a device, its canonical path: "COM1" and /dev/ttyS0 are one, and
// so are a /dev/serial/by-id link and the /dev/ttyUSB0 it points at (a device that does not exist
// is its cleaned path). For a URL port (rfc2217://HOST:PORT, tcp://HOST:PORT), its HOST:PORT in
// lower case, whichever the scheme: both reach the one accepter of the server.
QString PortIdentity(const QString &port);
