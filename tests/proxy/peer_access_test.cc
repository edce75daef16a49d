#include "proxy/peer_access.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <string>

#include "platform/network_interfaces.h"

namespace {

in_addr V4(const std::string& text) {
  in_addr address{};
  EXPECT_EQ(inet_pton(AF_INET, text.c_str(), &address), 1) << text;
  return address;
}

TEST(PeerAccess, LocalNetworksToTheirEdges) {
  const struct {
    const char* address;
    bool local;
  } kIpv4[] = {
      {"10.0.0.0", true},         {"10.255.255.255", true},   {"9.255.255.255", false},
      {"11.0.0.0", false},        {"172.16.0.0", true},       {"172.31.255.255", true},
      {"172.15.255.255", false},  {"172.32.0.0", false},      {"192.168.0.0", true},
      {"192.168.255.255", true},  {"192.167.255.255", false}, {"192.169.0.0", false},
      {"100.64.0.0", true},       {"100.127.255.255", true},  {"100.63.255.255", false},
      {"100.128.0.0", false},     {"169.254.0.0", true},      {"169.254.255.255", true},
      {"169.253.255.255", false}, {"169.255.0.0", false},     {"127.0.0.1", false},
      {"0.0.0.0", false},         {"8.8.8.8", false},         {"203.0.113.7", false},
      {"255.255.255.255", false},
  };
  for (const auto& sample : kIpv4)
    EXPECT_EQ(IsLocalNetworkAddress(V4(sample.address)), sample.local) << sample.address;
}

TEST(PeerAccess, ThisMachineAlwaysNeighboursOnRequestPublicNever) {
  for (bool allowLocalNetwork : {false, true}) {
    EXPECT_TRUE(IsPeerServed(V4("127.0.0.1"), allowLocalNetwork));
    EXPECT_TRUE(IsPeerServed(V4("127.45.6.7"), allowLocalNetwork));
    for (in_addr own : GetOwnIpv4Addresses()) EXPECT_TRUE(IsPeerServed(own, allowLocalNetwork));
    EXPECT_FALSE(IsPeerServed(V4("192.0.2.1"), allowLocalNetwork));  // documentation range
    EXPECT_FALSE(IsPeerServed(V4("8.8.8.8"), allowLocalNetwork));
  }
  EXPECT_FALSE(IsPeerServed(V4("172.31.250.9"), false));
  EXPECT_TRUE(IsPeerServed(V4("172.31.250.9"), true));
  EXPECT_FALSE(IsPeerServed(V4("169.254.1.1"), false));
  EXPECT_TRUE(IsPeerServed(V4("169.254.1.1"), true));
}

}  // namespace
