#include "proxy/proxy_listener.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "proxy/live_relay_count.h"
#include "proxy/socket.h"
#include "support/loopback_sockets.h"
#include "xml/xml_node.h"

namespace {

using namespace std::chrono_literals;

// A configuration with filtering off and the given port text.
std::unique_ptr<CXmlNode> MakePortConfig(const std::string& port) {
  auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
  CXmlNode* root = document->AddChild(CPooledString("lumbra"));
  root->AddChild(CPooledString("enabled"))->SetText(CPooledString("no"));
  root->AddChild(CPooledString("proxyport"))->SetText(CPooledString(port));
  return document;
}

// Reads until the peer closes or a whole "ok" response is in.
std::string ReceiveAnswer(const CSocket& socket) {
  std::string answer;
  char buffer[4096];
  while (answer.find("\r\n\r\nok") == std::string::npos) {
    const ssize_t n = ReceiveSome(socket.Get(), buffer, sizeof buffer);
    if (n <= 0) break;
    answer.append(buffer, static_cast<std::size_t>(n));
  }
  return answer;
}

bool WaitFor(const std::function<bool()>& condition) {
  for (int i = 0; i < 500 && !condition(); ++i) std::this_thread::sleep_for(10ms);
  return condition();
}

// A keep-alive origin on loopback answering every request with "ok"; counts the
// connections it accepted.
class COrigin {
 public:
  COrigin() : m_listening(BindLoopback(m_port, true)) {
    m_thread = std::thread([this] { AcceptLoop(); });
  }
  ~COrigin() {
    m_stopping = true;
    ::shutdown(m_listening.Get(), SHUT_RDWR);
    m_thread.join();
    std::lock_guard lock(m_lock);
    for (const CSocket& connection : m_connections) connection.Shutdown();
    for (std::thread& thread : m_serving) thread.join();
  }
  int GetPort() const { return m_port; }
  int GetConnectionCount() const { return m_accepted; }

 private:
  void AcceptLoop() {
    while (!m_stopping) {
      CSocket connection(::accept4(m_listening.Get(), nullptr, nullptr, SOCK_CLOEXEC));
      if (!connection.IsOpen()) return;
      ++m_accepted;
      std::lock_guard lock(m_lock);
      m_connections.push_back(connection);
      m_serving.emplace_back([connection] { Serve(connection); });
    }
  }
  static void Serve(CSocket connection) {
    std::string received;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ReceiveSome(connection.Get(), buffer, sizeof buffer);
      if (n <= 0) return;
      received.append(buffer, static_cast<std::size_t>(n));
      for (std::size_t end; (end = received.find("\r\n\r\n")) != std::string::npos;) {
        received.erase(0, end + 4);
        static constexpr char kAnswer[] = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";
        SendAll(connection.Get(), kAnswer, sizeof kAnswer - 1);
      }
    }
  }

  int m_port = 0;
  CSocket m_listening;
  std::atomic<bool> m_stopping{false};
  std::atomic<int> m_accepted{0};
  std::thread m_thread;
  std::mutex m_lock;
  std::vector<CSocket> m_connections;
  std::vector<std::thread> m_serving;
};

std::string Get(int originPort) {
  const std::string address = "127.0.0.1:" + std::to_string(originPort);
  return "GET http://" + address + "/ HTTP/1.1\r\nHost: " + address + "\r\n\r\n";
}

bool Exchange(const CSocket& browser, int originPort) {
  const std::string request = Get(originPort);
  SendAll(browser.Get(), request.data(), request.size());
  return ReceiveAnswer(browser).find("\r\n\r\nok") != std::string::npos;
}

TEST(CProxyListener, StopThenStartOnAnotherPortAndOnTheSamePort) {
  const int first = FreePort();
  CProxyListener listener;
  listener.SetConfig(*MakePortConfig(std::to_string(first)));
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.WaitUntilListening());
  EXPECT_TRUE(ConnectLoopback(first).IsOpen());

  const int second = FreePort();
  listener.SetConfig(*MakePortConfig(std::to_string(second)));
  listener.Stop();
  EXPECT_FALSE(listener.IsRunning());
  // Stop has closed the old socket before returning.
  EXPECT_FALSE(ConnectLoopback(first).IsOpen());
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.WaitUntilListening());
  EXPECT_EQ(listener.GetPort(), second);
  EXPECT_TRUE(ConnectLoopback(second).IsOpen());

  // A quick Stop and Start on one port: the old thread never closes the new socket.
  for (int i = 0; i < 20; ++i) {
    listener.Stop();
    ASSERT_TRUE(listener.Start());
    ASSERT_TRUE(listener.WaitUntilListening()) << "round " << i;
  }
  std::this_thread::sleep_for(50ms);
  EXPECT_TRUE(ConnectLoopback(second).IsOpen());
}

TEST(CProxyListener, MoveToAPortThatIsBusyKeepsTheOldPort) {
  const int first = FreePort();
  CProxyListener listener;
  listener.SetConfig(*MakePortConfig(std::to_string(first)));
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.WaitUntilListening());

  int busyPort = 0;
  CSocket taken = BindLoopback(busyPort, true);
  listener.SetConfig(*MakePortConfig(std::to_string(busyPort)));
  EXPECT_FALSE(listener.MoveToConfiguredPort());
  EXPECT_TRUE(listener.IsRunning());
  EXPECT_EQ(listener.GetPort(), first);
  EXPECT_TRUE(ConnectLoopback(first).IsOpen());

  const int second = FreePort();
  listener.SetConfig(*MakePortConfig(std::to_string(second)));
  EXPECT_TRUE(listener.MoveToConfiguredPort());
  EXPECT_EQ(listener.GetPort(), second);
  EXPECT_TRUE(ConnectLoopback(second).IsOpen());
  EXPECT_FALSE(ConnectLoopback(first).IsOpen());
}

TEST(CProxyListener, LiveRelayCountFollowsConnectionsAndServers) {
  const std::int32_t before = g_liveRelayCount.load();
  COrigin a;
  COrigin b;
  CProxyListener listener;
  listener.SetConfig(*MakePortConfig("0"));
  ASSERT_TRUE(listener.Start());
  ASSERT_TRUE(listener.WaitUntilListening());
  {
    CSocket browser = ConnectLoopback(listener.GetPort());
    ASSERT_TRUE(Exchange(browser, a.GetPort()));
    EXPECT_TRUE(WaitFor([&] { return g_liveRelayCount.load() == before + 2; }));
    ASSERT_TRUE(Exchange(browser, b.GetPort()));
    EXPECT_TRUE(WaitFor([&] { return g_liveRelayCount.load() == before + 3; }));

    // Stop leaves open connections working, on the servers already reached.
    listener.Stop();
    ASSERT_TRUE(Exchange(browser, a.GetPort()));
    EXPECT_EQ(a.GetConnectionCount(), 1);
    EXPECT_EQ(b.GetConnectionCount(), 1);

    CSocket other = ConnectLoopback(listener.GetPort());
    EXPECT_FALSE(other.IsOpen());
  }
  // The browser closed: every relay of the connection ends.
  EXPECT_TRUE(WaitFor([&] { return g_liveRelayCount.load() == before; }));
}

}  // namespace
