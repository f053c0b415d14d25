#include "serial/net_port.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>
#include <thread>

#include "serial/tcomm.h"

namespace serial_detail {

namespace {

constexpr int kPollMs = 5;

// A name looked up on a thread of its own, so that a slow name server holds up nothing. Whoever
// finishes last, the lookup or its waiter, frees the result.
struct Lookup {
  std::mutex mutex;
  bool done = false;
  bool abandoned = false;
  int error = 0;
  addrinfo *result = nullptr;
};

std::shared_ptr<Lookup> StartLookup(const PortAddress &address) {
  auto lookup = std::make_shared<Lookup>();
  std::thread([lookup, host = address.host, port = std::to_string(address.port)] {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *result = nullptr;
    const int error = getaddrinfo(host.c_str(), port.c_str(), &hints, &result);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (lookup->abandoned) {
      if (result) freeaddrinfo(result);
      return;
    }
    lookup->error = error;
    lookup->result = error == 0 ? result : nullptr;
    lookup->done = true;
  }).detach();
  return lookup;
}

[[noreturn]] void Fail(int error, const PortAddress &address, const std::string &advice) {
  throw ECommsError("Error opening serial port", error, HostAndPort(address), advice);
}

std::string TimeLimitText() { return std::to_string(kNetworkTimeLimit.count() / 1000) + " s"; }

void SetSocketOptions(int fd) {
  const int on = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  setsockopt(fd, SOL_SOCKET, SO_KEEPALIVE, &on, sizeof on);
  const int idle = 5, interval = 2, probes = 3;
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPIDLE, &idle, sizeof idle);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPINTVL, &interval, sizeof interval);
  setsockopt(fd, IPPROTO_TCP, TCP_KEEPCNT, &probes, sizeof probes);
  const unsigned userTimeout = 10000;  // ms that sent data may stay unacknowledged
  setsockopt(fd, IPPROTO_TCP, TCP_USER_TIMEOUT, &userTimeout, sizeof userTimeout);
}

}  // namespace

bool WaitResponsive(Deadline deadline, const std::function<bool()> &done) {
  if (done()) return true;
  if (!QCoreApplication::instance()) {
    while (!done()) {
      if (std::chrono::steady_clock::now() >= deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(kPollMs));
    }
    return true;
  }
  QEventLoop loop;
  QTimer poll;
  bool met = false;
  QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
    met = done();
    if (met || std::chrono::steady_clock::now() >= deadline) loop.quit();
  });
  poll.start(kPollMs);
  loop.exec(QEventLoop::ExcludeUserInputEvents);
  return met;
}

int ConnectSocket(const PortAddress &address, Deadline deadline) {
  const std::shared_ptr<Lookup> lookup = StartLookup(address);
  const bool found = WaitResponsive(deadline, [&] {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    return lookup->done;
  });
  addrinfo *results = nullptr;
  int lookupError = 0;
  {
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (!found) {
      lookup->abandoned = true;
    } else {
      results = lookup->result;
      lookupError = lookup->error;
    }
  }
  if (!found)
    Fail(ETIMEDOUT, address, "The name " + address.host + " was not found within " + TimeLimitText() +
                                 ": the name server does not answer. Give the device server's address instead.");
  if (lookupError != 0)
    Fail(0, address, "There is no host " + address.host + ": the name is wrong, or no name server knows it (" +
                         gai_strerror(lookupError) + ").");
  std::unique_ptr<addrinfo, decltype(&freeaddrinfo)> owned(results, &freeaddrinfo);

  int lastError = ECONNREFUSED;
  for (addrinfo *a = results; a; a = a->ai_next) {
    const int fd = socket(a->ai_family, a->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, a->ai_protocol);
    if (fd < 0) {
      lastError = errno;
      continue;
    }
    int error = 0;
    if (connect(fd, a->ai_addr, a->ai_addrlen) != 0) {
      error = errno;
      if (error == EINPROGRESS) {
        bool settled = false;
        const bool inTime = WaitResponsive(deadline, [&] {
          pollfd p{fd, POLLOUT, 0};
          settled = poll(&p, 1, 0) > 0;
          return settled;
        });
        socklen_t length = sizeof error;
        if (!inTime) error = ETIMEDOUT;
        else if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      }
    }
    if (error == 0) {
      SetSocketOptions(fd);
      return fd;
    }
    ::close(fd);
    lastError = error;
    if (error == ETIMEDOUT) break;  // the time is spent
  }
  const std::string at = HostAndPort(address);
  switch (lastError) {
    case ECONNREFUSED:
      Fail(lastError, address, "Nothing listens at " + at + ": the device server is not running there, or the port number is wrong.");
    case ETIMEDOUT:
      Fail(lastError, address, at + " did not answer within " + TimeLimitText() +
                                   ": the device server is off or unreachable, or a firewall drops the connection.");
    default:
      Fail(lastError, address, at + " cannot be reached (" + std::strerror(lastError) + "): check the network and the address.");
  }
}

}  // namespace serial_detail
