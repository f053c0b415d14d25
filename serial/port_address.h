// What a port name stands for: a local device, or a serial port behind a device server reached by
// URL, "tcp://HOST:PORT" (raw bytes) or "rfc2217://HOST:PORT" (telnet with COM-port control). HOST
// is a name, an IPv4 address or an IPv6 address in brackets ("[::1]:4001").
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct PortAddress {
  enum class Kind { Device, Raw, Rfc2217 };
  Kind kind = Kind::Device;
  std::string host;  // without brackets
  uint16_t port = 0;
};

// Nothing, with the reason in `error`, for a URL of ours that is malformed (no host, no port, a
// port outside 1 to 65535). A name that is no URL of ours is a Device.
std::optional<PortAddress> ParsePortAddress(std::string_view name, std::string *error);

// "HOST:PORT", the host in brackets where it holds a colon.
std::string HostAndPort(const PortAddress &address);
