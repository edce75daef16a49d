// Telling which destinations and peers are this machine.
#include "proxy/local_address.h"

#include <algorithm>
#include <chrono>
#include <mutex>
#include <vector>

#include "platform/network_interfaces.h"

namespace {

// Interfaces come and go, but reading them costs system calls that every new
// connection would pay; they are read again at most this often.
constexpr std::chrono::seconds kOwnAddressesLifetime{2};

class COwnAddresses {
 public:
  bool Contains(in_addr address) {
    std::lock_guard<std::mutex> hold(m_lock);
    const auto now = std::chrono::steady_clock::now();
    if (!m_read || now - m_readAt >= kOwnAddressesLifetime) {
      m_addresses = GetOwnIpv4Addresses();
      m_readAt = now;
      m_read = true;
    }
    return std::any_of(m_addresses.begin(), m_addresses.end(),
                       [&](in_addr own) { return own.s_addr == address.s_addr; });
  }

 private:
  std::mutex m_lock;
  std::vector<in_addr> m_addresses;
  std::chrono::steady_clock::time_point m_readAt;
  bool m_read = false;
};

}  // namespace

bool IsLoopbackAddress(in_addr address) {
  const uint32_t firstByte = ntohl(address.s_addr) >> 24;
  return firstByte == 127 || firstByte == 0;
}

bool IsOwnAddress(in_addr address) {
  if (IsLoopbackAddress(address)) return true;
  static COwnAddresses own;
  return own.Contains(address);
}
