#include "serial/port_list.h"

#include <QDir>
#include <QFileInfo>
#include <QSet>

#include "pty/sim_ports.h"
#include "serial/port_address.h"
#include "serial/tcomm.h"

std::vector<FoundPort> FoundAdapters(const QString &devRoot) {
  std::vector<FoundPort> found;
  QSet<QString> named;  // devices a by-id link already stands for
  const QDir byId(devRoot + QStringLiteral("/serial/by-id"));
  for (const QFileInfo &f : byId.entryInfoList(QDir::System | QDir::Files, QDir::Name)) {
    found.push_back({FoundPort::Kind::Adapter, f.absoluteFilePath(), f.canonicalFilePath()});
    named.insert(f.canonicalFilePath());
  }
  for (const QFileInfo &f :
       QDir(devRoot).entryInfoList({QStringLiteral("ttyUSB*"), QStringLiteral("ttyACM*")}, QDir::System, QDir::Name))
    if (!named.contains(f.canonicalFilePath())) found.push_back({FoundPort::Kind::Adapter, f.absoluteFilePath(), f.absoluteFilePath()});
  return found;
}

std::vector<FoundPort> FoundPorts(const QString &devRoot) {
  std::vector<FoundPort> found = FoundAdapters(devRoot);
  QSet<QString> names;
  for (const FoundPort &p : found) names.insert(p.name);
  for (const std::string &path : ListSimulatedPorts()) {
    const QString name = QString::fromStdString(path);
    if (names.contains(name)) continue;
    names.insert(name);
    found.push_back({FoundPort::Kind::Simulator, name, QFileInfo(name).canonicalFilePath()});
  }
  return found;
}

QStringList PortNames(const std::vector<FoundPort> &ports) {
  QStringList names;
  for (const FoundPort &p : ports) names << p.name;
  return names;
}

QString PortIdentity(const QString &port) {
  std::string malformed;
  const auto address = ParsePortAddress(port.toStdString(), &malformed);
  if (!address) return port;
  // rfc2217:// and tcp:// to one HOST:PORT reach one accepter of the server.
  if (address->kind != PortAddress::Kind::Device) return QString::fromStdString(HostAndPort(*address)).toLower();
  const QString path = QString::fromStdString(CommDevicePath(port.toStdString()));
  const QString canonical = QFileInfo(path).canonicalFilePath();
  return canonical.isEmpty() ? QDir::cleanPath(path) : canonical;
}
