// The IPv4 addresses of this machine's network interfaces.
#include "platform/network_interfaces.h"

#include <ifaddrs.h>
#include <sys/socket.h>

std::vector<in_addr> GetOwnIpv4Addresses() {
  std::vector<in_addr> addresses;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return addresses;
  for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
    if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET) continue;
    addresses.push_back(reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr);
  }
  ::freeifaddrs(list);
  return addresses;
}
