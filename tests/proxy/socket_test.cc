#include "proxy/socket.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <string>
#include <thread>

namespace {

bool IsDescriptorOpen(int descriptor) { return ::fcntl(descriptor, F_GETFD) != -1; }

struct CPair {
  CSocket a;
  CSocket b;
};

CPair MakePair() {
  int ends[2];
  EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
  return {CSocket(ends[0]), CSocket(ends[1])};
}

TEST(CSocket, ClosedOnceWhenTheLastHandleLetsGo) {
  EXPECT_EQ(CSocket().Get(), 0);
  EXPECT_FALSE(CSocket(0).IsOpen());
  EXPECT_FALSE(CSocket(-1).IsOpen());

  CPair pair = MakePair();
  const int descriptor = pair.a.Get();
  CSocket copy = pair.a;
  EXPECT_EQ(copy.Get(), descriptor);
  pair.a.Reset();
  EXPECT_EQ(pair.a.Get(), 0);
  EXPECT_TRUE(IsDescriptorOpen(descriptor));
  copy.Shutdown();
  EXPECT_TRUE(IsDescriptorOpen(descriptor));
  copy.Reset();
  EXPECT_FALSE(IsDescriptorOpen(descriptor));
}

TEST(CSocket, ShutdownWakesABlockedReceiver) {
  CPair pair = MakePair();
  CSocket reader = pair.a;
  auto received = std::async(std::launch::async, [reader] {
    char buffer[16];
    return ReceiveSome(reader.Get(), buffer, sizeof buffer);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  pair.a.Shutdown();
  ASSERT_EQ(received.wait_for(std::chrono::seconds(10)), std::future_status::ready);
  EXPECT_EQ(received.get(), 0);
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

}  // namespace
