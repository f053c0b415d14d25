// Device servers for tests, on loopback only: a real ser2net bridging TCP ports to a device, and a
// small RFC 2217 server of our own that plays the module and records every sub-negotiation.
#pragma once

#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

// A loopback TCP port nothing listens on at the moment of asking.
uint16_t FreeLoopbackPort();

// ser2net with two accepters on each device: RFC 2217 (telnet) and raw TCP. Stopped on destruction.
class Ser2net {
 public:
  explicit Ser2net(const QStringList &devices);
  explicit Ser2net(const QString &device) : Ser2net(QStringList{device}) {}
  ~Ser2net();
  bool Listening() const { return listening_; }
  QString TelnetUrl(int device = 0) const;
  QString RawUrl(int device = 0) const;
  void Kill();  // as a device server that reboots: the connections drop at once

 private:
  QTemporaryDir dir_;
  QProcess process_;
  std::vector<uint16_t> telnetPorts_, rawPorts_;
  bool listening_ = false;
};

// One connection at a time on a loopback port: telnet negotiation answered, COM-PORT-OPTION
// requests acknowledged with their values (or the option refused), data handed to the simulated
// module and its answers written back escaped, each write split in two in the middle of an IAC
// pair where there is one.
class Rfc2217Peer {
 public:
  explicit Rfc2217Peer(bool refuseComPort = false);
  ~Rfc2217Peer();
  QString Url() const;
  // The COM-PORT-OPTION sub-negotiations received so far, each as its payload.
  std::vector<std::vector<uint8_t>> Subnegotiations() const;
  // The data received so far (unescaped).
  std::vector<uint8_t> Data() const;

 private:
  void Serve();
  int listener_ = -1;
  uint16_t port_ = 0;
  bool refuse_;
  std::atomic<bool> stop_{false};
  mutable std::mutex mutex_;
  std::vector<std::vector<uint8_t>> subs_;
  std::vector<uint8_t> data_;
  std::thread thread_;
};
