// Telling which destinations and peers are this machine.
#include "proxy/local_address.h"

#include <algorithm>

#include "platform/network_interfaces.h"

bool IsLoopbackAddress(in_addr address) {
  const uint32_t firstByte = ntohl(address.s_addr) >> 24;
  return firstByte == 127 || firstByte == 0;
}

bool IsOwnAddress(in_addr address) {
  if (IsLoopbackAddress(address)) return true;
  const auto own = GetOwnIpv4Addresses();
  return std::any_of(own.begin(), own.end(),
                     [&](in_addr local) { return local.s_addr == address.s_addr; });
}
