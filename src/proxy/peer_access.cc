// Which peers may use the proxy.
#include "proxy/peer_access.h"

#include <cstdint>

#include "proxy/local_address.h"

namespace {

// True when the top `bits` bits of `address` (host order) are those of `network`.
constexpr bool InNetwork(uint32_t address, uint32_t network, int bits) {
  const uint32_t mask = ~uint32_t{0} << (32 - bits);
  return (address & mask) == network;
}

bool IsLocalNetworkHostOrder(uint32_t address) {
  return InNetwork(address, 0x0A000000, 8) ||   // 10.0.0.0/8
         InNetwork(address, 0xAC100000, 12) ||  // 172.16.0.0/12
         InNetwork(address, 0xC0A80000, 16) ||  // 192.168.0.0/16
         InNetwork(address, 0x64400000, 10) ||  // 100.64.0.0/10
         InNetwork(address, 0xA9FE0000, 16);    // 169.254.0.0/16
}

}  // namespace

bool IsLocalNetworkAddress(in_addr address) {
  return IsLocalNetworkHostOrder(ntohl(address.s_addr));
}

bool IsPeerServed(in_addr peer, bool allowLocalNetwork) {
  // Cheapest first: loopback and the classification need no system call.
  if (IsLoopbackAddress(peer)) return true;
  if (allowLocalNetwork && IsLocalNetworkAddress(peer)) return true;
  return IsOwnAddress(peer);
}
