#include "serial/port_address.h"

namespace {

bool StartsWith(std::string_view text, std::string_view prefix) { return text.substr(0, prefix.size()) == prefix; }

}  // namespace

std::optional<PortAddress> ParsePortAddress(std::string_view name, std::string *error) {
  PortAddress address;
  std::string_view rest;
  if (StartsWith(name, "tcp://")) {
    address.kind = PortAddress::Kind::Raw;
    rest = name.substr(6);
  } else if (StartsWith(name, "rfc2217://")) {
    address.kind = PortAddress::Kind::Rfc2217;
    rest = name.substr(10);
  } else {
    return address;
  }
  auto fail = [&](const std::string &why) -> std::optional<PortAddress> {
    *error = std::string(name) + ": " + why;
    return std::nullopt;
  };
  if (!rest.empty() && rest.back() == '/') rest.remove_suffix(1);
  size_t colon;
  if (StartsWith(rest, "[")) {
    const size_t close = rest.find(']');
    if (close == std::string_view::npos) return fail("an IPv6 address needs its closing \"]\"");
    address.host = std::string(rest.substr(1, close - 1));
    if (close + 1 >= rest.size() || rest[close + 1] != ':') return fail("no port after the host (HOST:PORT)");
    colon = close + 1;
  } else {
    colon = rest.rfind(':');
    if (colon == std::string_view::npos) return fail("no port after the host (HOST:PORT)");
    address.host = std::string(rest.substr(0, colon));
    if (address.host.find(':') != std::string::npos) return fail("an IPv6 address goes in brackets, as [::1]:4001");
  }
  if (address.host.empty()) return fail("no host before the port");
  const std::string_view digits = rest.substr(colon + 1);
  if (digits.empty() || digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string_view::npos)
    return fail("\"" + std::string(digits) + "\" is not a port number (1 to 65535)");
  const unsigned long port = std::stoul(std::string(digits));
  if (port < 1 || port > 65535) return fail("port " + std::string(digits) + " is out of range (1 to 65535)");
  address.port = static_cast<uint16_t>(port);
  return address;
}

std::string HostAndPort(const PortAddress &address) {
  const bool v6 = address.host.find(':') != std::string::npos;
  return (v6 ? "[" + address.host + "]" : address.host) + ":" + std::to_string(address.port);
}
