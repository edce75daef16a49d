#include "proxy/server_socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace {

// A listening socket on 127.0.0.1 at a port the system picks.
struct CListener {
  explicit CListener(int backlog = 16) {
    socket = CSocket(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    EXPECT_EQ(::bind(socket.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
    EXPECT_EQ(::listen(socket.Get(), backlog), 0);
    socklen_t size = sizeof address;
    ::getsockname(socket.Get(), reinterpret_cast<sockaddr*>(&address), &size);
    port = ntohs(address.sin_port);
  }
  CSocket Accept() const {
    return CSocket(::accept4(socket.Get(), nullptr, nullptr, SOCK_CLOEXEC));
  }

  CSocket socket;
  int port = 0;
};

in_addr Loopback() {
  in_addr address{};
  address.s_addr = htonl(INADDR_LOOPBACK);
  return address;
}

TEST(OpenServerSocket, ConnectsBlockingWithNoDelay) {
  CListener listener;
  CSocket server = OpenServerSocket("127.0.0.1", listener.port);
  ASSERT_TRUE(server.IsOpen());
  EXPECT_TRUE(listener.Accept().IsOpen());
  EXPECT_EQ(::fcntl(server.Get(), F_GETFL) & O_NONBLOCK, 0);
  int noDelay = 0;
  socklen_t size = sizeof noDelay;
  ::getsockopt(server.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size);
  EXPECT_NE(noDelay, 0);
  EXPECT_TRUE(OpenServerSocket("localhost", listener.port).IsOpen());
}

TEST(OpenServerSocket, FailsOnRefusedPortBadPortAndUnknownHost) {
  int freePort = 0;
  {
    CListener closedSoon;
    freePort = closedSoon.port;
  }
  EXPECT_FALSE(OpenServerSocket("127.0.0.1", freePort).IsOpen());
  CListener listener;
  EXPECT_FALSE(OpenServerSocket("127.0.0.1", 0).IsOpen());
  EXPECT_FALSE(OpenServerSocket("127.0.0.1", 65536).IsOpen());
  EXPECT_FALSE(OpenServerSocket("", listener.port).IsOpen());
}

TEST(ConnectToAddress, GivesUpAfterTheTimeOut) {
  // A listener that never accepts: once its queue is full, further connects hang
  // (their SYNs are dropped) instead of being refused.
  CListener listener(0);
  const std::chrono::milliseconds timeout(300);
  std::vector<CSocket> queued;
  for (int i = 0; i < 8; ++i) {
    CSocket next = ConnectToAddress(Loopback(), listener.port, timeout);
    if (!next.IsOpen()) break;
    queued.push_back(next);
  }
  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(ConnectToAddress(Loopback(), listener.port, timeout).IsOpen());
  const auto waited = std::chrono::steady_clock::now() - start;
  EXPECT_GE(waited, timeout - std::chrono::milliseconds(50));
  EXPECT_LT(waited, std::chrono::seconds(10));
}

TEST(SendAll, OneMebibyteReachesTheReader) {
  CListener listener;
  CSocket server = OpenServerSocket("127.0.0.1", listener.port);
  ASSERT_TRUE(server.IsOpen());
  CSocket accepted = listener.Accept();
  std::string data(1 << 20, 0);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7 + i / 251);
  std::string received;
  std::thread reader([&] {
    char buffer[4096];
    ssize_t n;
    while ((n = ReceiveSome(accepted.Get(), buffer, sizeof buffer)) > 0) received.append(buffer, n);
  });
  EXPECT_EQ(SendAll(server.Get(), data.data(), data.size()), static_cast<ssize_t>(data.size()));
  server.Shutdown();
  reader.join();
  EXPECT_TRUE(received == data);
}

}  // namespace
