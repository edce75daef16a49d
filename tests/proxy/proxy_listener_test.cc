#include "proxy/proxy_listener.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "core/pooled_string.h"
#include "support/loopback_sockets.h"
#include "xml/xml_reader.h"

namespace {

void LoadDocument(int port, CXmlNode& document) {
  LoadXmlText(
      "<lumbra><enabled>yes</enabled><proxyport>" + std::to_string(port) + "</proxyport></lumbra>",
      true, document);
}

// The first bytes of the answer to `request`, at most `count` of them.
std::string Ask(const CSocket& browser, const std::string& request, std::size_t count) {
  std::string answer;
  if (SendAll(browser.Get(), request.data(), request.size()) < 0) return answer;
  char buffer[64];
  while (answer.size() < count) {
    const ssize_t received = ReceiveSome(browser.Get(), buffer, sizeof buffer);
    if (received <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(received));
  }
  return answer.substr(0, count);
}

std::size_t CountDescriptors() {
  const std::filesystem::directory_iterator entries("/proc/self/fd");
  return static_cast<std::size_t>(std::distance(begin(entries), end(entries)));
}

// Waits (boundedly) until the process holds `count` descriptors.
bool DescriptorsComeBackTo(std::size_t count) {
  for (int i = 0; i < 250 && CountDescriptors() != count; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  return CountDescriptors() == count;
}

// Connections opened together are all served at once, each by a thread of its
// own, while others still wait in accept; a stop then closes the port however
// many threads were waiting there, and a new start binds it again.
TEST(CProxyListener, ServesABurstAtOnceAndAStopFreesThePort) {
  const int port = FreePort();
  CXmlNode document{CPooledString("__root__")};
  LoadDocument(port, document);
  CProxyListener listener;
  listener.SetConfig(document);
  const std::size_t descriptors = CountDescriptors();
  ASSERT_TRUE(listener.Start() && listener.WaitUntilListening());

  // Nothing listens there, so each request is answered with a 502 at once.
  const std::string server = "127.0.0.1:" + std::to_string(FreePort());
  const std::string request = "GET http://" + server + "/ HTTP/1.1\r\nHost: " + server + "\r\n\r\n";
  std::vector<CSocket> browsers;
  for (int i = 0; i < 24; ++i) {
    browsers.push_back(ConnectLoopback(port));
    ASSERT_TRUE(browsers.back().IsOpen());
  }
  // Asked last to first: the later connections must not wait for the earlier ones.
  for (auto browser = browsers.rbegin(); browser != browsers.rend(); ++browser)
    ASSERT_EQ(Ask(*browser, request, 12), "HTTP/1.1 502");
  browsers.clear();
  // Only the listening socket is left once the connections have ended.
  ASSERT_TRUE(DescriptorsComeBackTo(descriptors + 1));

  listener.Stop();
  EXPECT_EQ(CountDescriptors(), descriptors) << "closed by the time Stop returns";
  EXPECT_FALSE(ConnectLoopback(port).IsOpen());
  ASSERT_TRUE(listener.Start() && listener.WaitUntilListening());
  EXPECT_EQ(listener.GetPort(), port);
  EXPECT_EQ(Ask(ConnectLoopback(port), request, 12), "HTTP/1.1 502");
}

}  // namespace
