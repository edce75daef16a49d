#include "proxy/local_address.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/network_interfaces.h"

namespace {

in_addr Address(const char* dotted) {
  in_addr address{};
  inet_pton(AF_INET, dotted, &address);
  return address;
}

TEST(LocalAddress, LoopbackAndOwnAddresses) {
  EXPECT_TRUE(IsLoopbackAddress(Address("127.0.0.1")));
  EXPECT_TRUE(IsLoopbackAddress(Address("127.255.3.4")));
  EXPECT_TRUE(IsLoopbackAddress(Address("0.0.0.0")));
  EXPECT_FALSE(IsLoopbackAddress(Address("128.0.0.1")));
  EXPECT_FALSE(IsLoopbackAddress(Address("10.0.0.1")));

  EXPECT_TRUE(IsOwnAddress(Address("127.0.0.2")));
  EXPECT_FALSE(IsOwnAddress(Address("192.0.2.1")));  // documentation range, never configured
  const auto own = GetOwnIpv4Addresses();
  ASSERT_FALSE(own.empty());  // at least the loopback interface
  for (in_addr address : own) EXPECT_TRUE(IsOwnAddress(address));
}

}  // namespace
