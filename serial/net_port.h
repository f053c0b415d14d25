// Ports behind device servers, for TComm's opening: the TCP connection made without blocking the
// thread's event loop, and the wait for the server's answers. Internal to serial/.
#pragma once

#include <chrono>
#include <functional>

#include "serial/port_address.h"

namespace serial_detail {

using Deadline = std::chrono::steady_clock::time_point;

// Connecting and the RFC 2217 acknowledgements each get this long.
constexpr std::chrono::milliseconds kNetworkTimeLimit{3000};

// Runs the calling thread's events, user input held back, until `done()` holds (true) or the
// deadline passes (false): a window stays painted while a connection is made, and takes no clicks.
bool WaitResponsive(Deadline deadline, const std::function<bool()> &done);

// A connected, non-blocking TCP socket to `address`, with TCP_NODELAY (frames go at once) and
// keep-alive and a user time-out (a connection whose far end is gone ends as a hang-up within
// seconds). Throws ECommsError with advice for a host that is unknown, refuses, or does not answer.
int ConnectSocket(const PortAddress &address, Deadline deadline);

}  // namespace serial_detail
