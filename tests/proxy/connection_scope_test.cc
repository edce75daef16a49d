#include "proxy/connection_scope.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include "platform/network_interfaces.h"

namespace {

in_addr Address(const char* text) {
  in_addr address{};
  inet_pton(AF_INET, text, &address);
  return address;
}

TEST(ConnectionScope, TheProxyItselfIsNeverADestination) {
  const CConnectionScope local{8010, true};
  EXPECT_TRUE(IsProxyItself(Address("127.0.0.1"), 8010, local));
  EXPECT_TRUE(IsProxyItself(Address("127.3.2.1"), 8010, local));
  EXPECT_TRUE(IsProxyItself(Address("0.0.0.0"), 8010, local));
  EXPECT_FALSE(MayConnectTo(Address("127.0.0.1"), 8010, local));
  for (in_addr own : GetOwnIpv4Addresses()) EXPECT_FALSE(MayConnectTo(own, 8010, local));
  // Other ports of this machine, and the same port elsewhere, are fine.
  EXPECT_FALSE(IsProxyItself(Address("127.0.0.1"), 8011, local));
  EXPECT_TRUE(MayConnectTo(Address("127.0.0.1"), 8011, local));
  EXPECT_TRUE(MayConnectTo(Address("192.0.2.7"), 8010, local));
}

TEST(ConnectionScope, ARemotePeerCannotReachLoopback) {
  const CConnectionScope remote{8010, false};
  EXPECT_FALSE(MayConnectTo(Address("127.0.0.1"), 80, remote));
  EXPECT_FALSE(MayConnectTo(Address("127.1.1.1"), 6379, remote));
  EXPECT_FALSE(MayConnectTo(Address("0.0.0.0"), 80, remote));
  EXPECT_TRUE(MayConnectTo(Address("192.0.2.7"), 80, remote));
}

}  // namespace
