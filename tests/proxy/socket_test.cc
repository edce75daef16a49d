#include "proxy/socket.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

namespace {


struct CPair {
  CSocket a;
  CSocket b;
};

CPair MakePair() {
  int ends[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  return {CSocket(ends[0]), CSocket(ends[1])};
}

TEST(SendAll, EmptyBufferAndClosedPeer) {
  CPair pair = MakePair();
  EXPECT_EQ(SendAll(pair.a.Get(), "x", 0), 0);
  pair.b.Reset();
  // The peer is gone: an error, and no SIGPIPE ends the process.
  const std::string data(1 << 20, 'x');
  EXPECT_EQ(SendAll(pair.a.Get(), data.data(), data.size()), -1);
  EXPECT_EQ(SendAll(-1, data.data(), 1), -1);
}

// Two ends of one TCP connection on the loopback interface.
CPair MakeTcpPair() {
  CSocket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  EXPECT_EQ(::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), size), 0);
  EXPECT_EQ(::listen(listener.Get(), 1), 0);
  EXPECT_EQ(::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &size), 0);
  CSocket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  EXPECT_EQ(::connect(client.Get(), reinterpret_cast<sockaddr*>(&address), size), 0);
  return {client, CSocket(::accept4(listener.Get(), nullptr, nullptr, SOCK_CLOEXEC))};
}

bool IsCorked(int socket) {
  int corked = -1;
  socklen_t size = sizeof corked;
  EXPECT_EQ(::getsockopt(socket, IPPROTO_TCP, TCP_CORK, &corked, &size), 0);
  return corked != 0;
}

// Waits (at most 5 s) for bytes and takes them.
std::string ReceiveArrived(int socket) {
  pollfd entry{socket, POLLIN, 0};
  if (::poll(&entry, 1, 5000) != 1) return {};
  char buffer[256];
  const ssize_t n = ReceiveWaiting(socket, buffer, sizeof buffer);
  return n > 0 ? std::string(buffer, static_cast<std::size_t>(n)) : std::string();
}

TEST(ReceiveWaiting, NothingYetSomeBytesAndAClosedPeer) {
  CPair pair = MakeTcpPair();
  ASSERT_TRUE(pair.a.IsOpen() && pair.b.IsOpen());
  char buffer[16];
  EXPECT_EQ(ReceiveWaiting(pair.b.Get(), buffer, sizeof buffer), kNothingWaiting);
  ASSERT_EQ(SendAll(pair.a.Get(), "abc", 3), 3);
  EXPECT_EQ(ReceiveArrived(pair.b.Get()), "abc");
  pair.a.Shutdown();
  pollfd entry{pair.b.Get(), POLLIN, 0};
  ASSERT_EQ(::poll(&entry, 1, 5000), 1);
  EXPECT_EQ(ReceiveWaiting(pair.b.Get(), buffer, sizeof buffer), 0);
  EXPECT_EQ(ReceiveWaiting(-1, buffer, sizeof buffer), -1);
}

TEST(CSendBurst, HoldsFramesOnlyWhileBegunAndReleasesThemAtTheEnd) {
  CPair pair = MakeTcpPair();
  ASSERT_TRUE(pair.a.IsOpen() && pair.b.IsOpen());
  {
    CSendBurst burst(pair.a.Get());
    EXPECT_FALSE(IsCorked(pair.a.Get()));
    burst.Begin();
    burst.Begin();
    EXPECT_TRUE(IsCorked(pair.a.Get()));
    ASSERT_EQ(SendAll(pair.a.Get(), "piece one", 9), 9);
    burst.End();
    EXPECT_FALSE(IsCorked(pair.a.Get()));
    EXPECT_EQ(ReceiveArrived(pair.b.Get()), "piece one");
    burst.Begin();
    ASSERT_EQ(SendAll(pair.a.Get(), "piece two", 9), 9);
  }
  // Leaving the scope mid-burst (a relay that ends) releases what is held.
  EXPECT_FALSE(IsCorked(pair.a.Get()));
  EXPECT_EQ(ReceiveArrived(pair.b.Get()), "piece two");
}

}  // namespace
