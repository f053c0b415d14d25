#include "tests/support/device_server.h"

#include <QFile>
#include <QThread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include "protocol/telnet.h"
#include "sim/module.h"

namespace {

int ListenOnLoopback(uint16_t *port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int on = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = 0;
  if (bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 || listen(fd, 4) != 0) {
    close(fd);
    return -1;
  }
  socklen_t length = sizeof a;
  getsockname(fd, reinterpret_cast<sockaddr *>(&a), &length);
  *port = ntohs(a.sin_port);
  return fd;
}

bool Accepts(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  a.sin_port = htons(port);
  const bool ok = connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0;
  close(fd);
  return ok;
}

}  // namespace

uint16_t FreeLoopbackPort() {
  uint16_t port = 0;
  const int fd = ListenOnLoopback(&port);
  if (fd >= 0) close(fd);
  return port;
}

Ser2net::Ser2net(const QStringList &devices) {
  QString yaml;
  for (int d = 0; d < devices.size(); ++d) {
    telnetPorts_.push_back(FreeLoopbackPort());
    rawPorts_.push_back(FreeLoopbackPort());
    const QString connector = QStringLiteral("serialdev,%1,9600n81,local").arg(devices[d]);
    yaml += QStringLiteral("connection: &telnet%1\n"
                           "  accepter: telnet(rfc2217),tcp,127.0.0.1,%2\n"
                           "  connector: %4\n"
                           "  options:\n    kickolduser: true\n"
                           "connection: &raw%1\n"
                           "  accepter: tcp,127.0.0.1,%3\n"
                           "  connector: %4\n"
                           "  options:\n    kickolduser: true\n")
                .arg(d)
                .arg(telnetPorts_.back())
                .arg(rawPorts_.back())
                .arg(connector);
  }
  const QString config = dir_.filePath(QStringLiteral("ser2net.yaml"));
  QFile file(config);
  if (!file.open(QIODevice::WriteOnly)) return;
  file.write(yaml.toUtf8());
  file.close();
  process_.setProcessChannelMode(QProcess::MergedChannels);
  process_.start(QStringLiteral("ser2net"), {"-n", "-d", "-c", config});
  if (!process_.waitForStarted(5000)) return;
  for (int i = 0; i < 100 && !listening_; ++i) {
    listening_ = Accepts(telnetPorts_.back()) && Accepts(rawPorts_.back());
    if (!listening_) QThread::msleep(20);
  }
}

Ser2net::~Ser2net() { Kill(); }

void Ser2net::Kill() {
  if (process_.state() == QProcess::NotRunning) return;
  process_.kill();
  process_.waitForFinished(5000);
}

QString Ser2net::TelnetUrl(int device) const {
  return QStringLiteral("rfc2217://127.0.0.1:%1").arg(telnetPorts_.at(static_cast<size_t>(device)));
}
QString Ser2net::RawUrl(int device) const {
  return QStringLiteral("tcp://127.0.0.1:%1").arg(rawPorts_.at(static_cast<size_t>(device)));
}

Rfc2217Peer::Rfc2217Peer(bool refuseComPort) : refuse_(refuseComPort) {
  listener_ = ListenOnLoopback(&port_);
  thread_ = std::thread([this] { Serve(); });
}

Rfc2217Peer::~Rfc2217Peer() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (listener_ >= 0) close(listener_);
}

QString Rfc2217Peer::Url() const { return QStringLiteral("rfc2217://127.0.0.1:%1").arg(port_); }

std::vector<std::vector<uint8_t>> Rfc2217Peer::Subnegotiations() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return subs_;
}

std::vector<uint8_t> Rfc2217Peer::Data() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return data_;
}

void Rfc2217Peer::Serve() {
  using namespace telnet;
  while (!stop_) {
    pollfd p{listener_, POLLIN, 0};
    if (poll(&p, 1, 20) <= 0) continue;
    const int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd < 0) continue;
    Decoder decoder;
    SimModule module;
    std::vector<uint8_t> pending;  // data since the last answer
    auto send = [fd](const std::vector<uint8_t> &bytes) {
      // Split inside an IAC pair where there is one, so the reader must join the two reads.
      size_t cut = bytes.size() / 2;
      for (size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == kIac && bytes[i + 1] == kIac) {
          cut = i + 1;
          break;
        }
      (void)!::send(fd, bytes.data(), cut, MSG_NOSIGNAL);
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      (void)!::send(fd, bytes.data() + cut, bytes.size() - cut, MSG_NOSIGNAL);
    };
    auto quietSince = std::chrono::steady_clock::now();
    while (!stop_) {
      pollfd c{fd, POLLIN, 0};
      const int ready = poll(&c, 1, 10);
      if (ready > 0) {
        uint8_t buffer[512];
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got <= 0) break;
        std::vector<uint8_t> data;
        std::vector<Command> commands;
        decoder.Feed(buffer, static_cast<size_t>(got), &data, &commands);
        for (const Command &command : commands) {
          if (command.verb == kWill && command.option == kComPortOption)
            send(Negotiation(refuse_ ? kDont : kDo, kComPortOption));
          if (command.verb != kSb || command.option != kComPortOption || command.payload.empty()) continue;
          {
            std::lock_guard<std::mutex> lock(mutex_);
            subs_.push_back(command.payload);
          }
          std::vector<uint8_t> answer = command.payload;
          answer[0] = static_cast<uint8_t>(answer[0] + rfc2217::kServerOffset);
          send(Subnegotiation(kComPortOption, answer));
        }
        if (!data.empty()) {
          std::lock_guard<std::mutex> lock(mutex_);
          data_.insert(data_.end(), data.begin(), data.end());
        }
        pending.insert(pending.end(), data.begin(), data.end());
        quietSince = std::chrono::steady_clock::now();
      } else if (!pending.empty() && std::chrono::steady_clock::now() - quietSince > std::chrono::milliseconds(30)) {
        const std::vector<uint8_t> answer = module.Answer(pending);
        pending.clear();
        if (!answer.empty()) send(Escape(answer.data(), answer.size()));
      }
    }
    close(fd);
  }
}
