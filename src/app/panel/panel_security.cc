// The panel's security checks: who may talk to it and which requests may change state.
#include "app/panel/panel_security.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <string>

#include "core/ascii.h"

namespace {

// "<name>:<port>" with the name one of the loopback spellings.
bool NamesLoopbackWithPort(std::string_view text, int port) {
  const std::string suffix = ":" + std::to_string(port);
  if (!text.ends_with(suffix)) return false;
  const std::string_view name = text.substr(0, text.size() - suffix.size());
  return name == "127.0.0.1" || EqualsNoCase(name, "localhost") || name == "[::1]";
}

}  // namespace

bool IsLoopbackPeer(int socket) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getpeername(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return false;
  if (address.ss_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(&address);
    return (ntohl(v4->sin_addr.s_addr) >> 24) == 127;
  }
  if (address.ss_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(&address);
    return IN6_IS_ADDR_LOOPBACK(&v6->sin6_addr) ||
           (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr) && v6->sin6_addr.s6_addr[12] == 127);
  }
  return false;
}

int GetLocalPort(int socket) {
  sockaddr_storage address{};
  socklen_t size = sizeof address;
  if (::getsockname(socket, reinterpret_cast<sockaddr*>(&address), &size) != 0) return 0;
  if (address.ss_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in*>(&address)->sin_port);
  if (address.ss_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(&address)->sin6_port);
  return 0;
}

bool IsLoopbackHost(std::string_view host, int port) {
  return port > 0 && NamesLoopbackWithPort(host, port);
}

bool IsPanelOrigin(std::string_view origin, int port) {
  if (port <= 0 || !origin.starts_with("http://")) return false;
  origin.remove_prefix(7);
  const std::string suffix = ":" + std::to_string(port);
  if (!origin.ends_with(suffix)) return false;
  const std::string_view name = origin.substr(0, origin.size() - suffix.size());
  return name == "127.0.0.1" || name == "localhost";
}

bool IsOwnFetchSite(std::string_view site) { return site == "same-origin" || site == "none"; }

bool TokensMatch(std::string_view given, std::string_view expected) {
  if (expected.empty() || given.size() != expected.size()) return false;
  unsigned char difference = 0;
  for (std::size_t i = 0; i < expected.size(); ++i)
    difference |= static_cast<unsigned char>(given[i] ^ expected[i]);
  return difference == 0;
}
