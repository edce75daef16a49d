#include "proxy/first_request.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <string>
#include <thread>

#include "proxy/socket.h"

namespace {

struct CPair {
  CPair() {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    browser = CSocket(ends[0]);
    proxy = CSocket(ends[1]);
  }
  void Send(const std::string& bytes) const { SendAll(browser.Get(), bytes.data(), bytes.size()); }
  CSocket browser;
  CSocket proxy;
};

TEST(ReadFirstRequest, WaitsForTheWholeHeaderBlockOverSeveralSends) {
  CPair pair;
  const std::string request = "GET http://a.test/ HTTP/1.1\r\nHost: a.test\r\n\r\n";
  std::thread sender([&] {
    for (char byte : request) {
      pair.Send(std::string(1, byte));
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  });
  char buffer[256];
  const std::size_t length = ReadFirstRequest(pair.proxy.Get(), buffer, sizeof buffer);
  sender.join();
  EXPECT_EQ(std::string(buffer, length), request);
}

TEST(ReadFirstRequest, StopsAtAFullBufferOrWhenTheBrowserCloses) {
  CPair full;
  full.Send(std::string(300, 'x'));
  char buffer[256];
  EXPECT_EQ(ReadFirstRequest(full.proxy.Get(), buffer, sizeof buffer), sizeof buffer);

  CPair closing;
  closing.Send("GET / HT");
  closing.browser.Shutdown();
  EXPECT_EQ(ReadFirstRequest(closing.proxy.Get(), buffer, sizeof buffer), 8u);

  CPair silent;
  silent.browser.Shutdown();
  EXPECT_EQ(ReadFirstRequest(silent.proxy.Get(), buffer, sizeof buffer), 0u);
}

TEST(FindHeaderBlockEnd, EndsAfterTheEmptyLine) {
  const std::string connect = "CONNECT a:443 HTTP/1.1\r\nHost: a:443\r\n\r\n";
  EXPECT_EQ(FindHeaderBlockEnd((connect + "tls").data(), connect.size() + 3), connect.size());
  EXPECT_EQ(FindHeaderBlockEnd("A\n\nrest", 7), 3u);
  EXPECT_EQ(FindHeaderBlockEnd("A\r\nB\r\n", 6), 6u);  // no end: everything
  EXPECT_EQ(FindHeaderBlockEnd("", 0), 0u);
}

}  // namespace
