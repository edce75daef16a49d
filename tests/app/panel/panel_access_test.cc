// Tests of the panel's access rules and security checks.
#include "app/panel/panel_access.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include "app/panel/panel_security.h"
#include "platform/network_interfaces.h"
#include "proxy/socket.h"

namespace {

constexpr int kPort = 8010;
constexpr char kToken[] = "0123456789abcdef0123456789abcdef";

CHttpRequest Request(const std::string& method, const std::string& path,
                     std::vector<std::pair<std::string, std::string>> headers) {
  CHttpRequest request;
  request.method = method;
  request.path = path;
  request.headers = std::move(headers);
  return request;
}

int Check(const CHttpRequest& request) {
  const CPanelRoute* route = nullptr;
  const int status = CheckPanelAccess(request, kPort, kToken, route);
  EXPECT_EQ(route != nullptr, status == 0);
  return status;
}

TEST(PanelAccessTest, StateChangesNeedPostTokenLoopbackHostAndOwnOrigin) {
  const std::pair<std::string, std::string> host{"Host", "127.0.0.1:8010"};
  const std::pair<std::string, std::string> token{"X-Lumbra-Token", kToken};
  EXPECT_EQ(Check(Request("POST", "/api/command", {host, token})), 0);
  EXPECT_EQ(Check(Request("POST", "/api/command",
                          {{"Host", "localhost:8010"},
                           token,
                           {"Origin", "http://localhost:8010"},
                           {"Sec-Fetch-Site", "same-origin"}})),
            0);
  EXPECT_EQ(Check(Request("POST", "/api/hide", {{"Host", "[::1]:8010"}, token})), 0);

  // Missing, wrong, doubled or truncated token.
  EXPECT_EQ(Check(Request("POST", "/api/command", {host})), 403);
  EXPECT_EQ(Check(Request("POST", "/api/command", {host, {"X-Lumbra-Token", "wrong"}})), 403);
  EXPECT_EQ(Check(Request("POST", "/api/command", {host, token, token})), 403);
  EXPECT_EQ(Check(Request("POST", "/api/command",
                          {host, {"X-Lumbra-Token", std::string(kToken).substr(1)}})),
            403);
  // Without a token of its own (no random source) the panel changes nothing.
  const CPanelRoute* route = nullptr;
  EXPECT_EQ(CheckPanelAccess(Request("POST", "/api/hide", {host, {"X-Lumbra-Token", ""}}), kPort,
                             "", route),
            403);
  // Cross-origin pages, also with the right token.
  for (const char* origin : {"http://evil.example", "null", "http://127.0.0.1:8011",
                             "https://127.0.0.1:8010", "http://127.0.0.1:8010.evil.example"})
    EXPECT_EQ(Check(Request("POST", "/api/command", {host, token, {"Origin", origin}})), 403)
        << origin;
  EXPECT_EQ(Check(Request("POST", "/api/command", {host, token, {"Sec-Fetch-Site", "cross-site"}})),
            403);
  // Foreign or missing Host (DNS rebinding), a foreign target, a doubled Host.
  for (const char* name : {"evil.example:8010", "127.0.0.1", "127.0.0.1:8011", "127.0.0.2:8010",
                           "localhost.evil.example:8010", "", "127.0.0.1:8010 "})
    EXPECT_EQ(Check(Request("POST", "/api/command", {{"Host", name}, token})), 403) << name;
  EXPECT_EQ(Check(Request("POST", "/api/command", {token})), 403);
  EXPECT_EQ(Check(Request("POST", "/api/command", {host, host, token})), 403);
  CHttpRequest proxied = Request("POST", "/api/command", {host, token});
  proxied.targetAuthority = "evil.example:8010";
  EXPECT_EQ(Check(proxied), 403);

  // State changes by GET, and unknown paths.
  EXPECT_EQ(Check(Request("GET", "/api/command", {host, token})), 405);
  EXPECT_EQ(Check(Request("HEAD", "/api/hide", {host, token})), 405);
  EXPECT_EQ(Check(Request("POST", "/api/state", {host, token})), 405);
  EXPECT_EQ(Check(Request("POST", "/api/unknown", {host, token})), 404);
  // Every route that changes state is a POST.
  for (const char* path :
       {"/api/command", "/api/rule/toggle", "/api/hide", "/api/autorun", "/api/record/save",
        "/api/instant-filter/open", "/api/instant-filter/close", "/api/dialog"}) {
    EXPECT_EQ(Check(Request("GET", path, {host, token})), 405) << path;
    EXPECT_EQ(Check(Request("POST", path, {host})), 403) << path;
  }
}

TEST(PanelAccessTest, ReadingNeedsALoopbackHostButNoToken) {
  const std::pair<std::string, std::string> host{"Host", "127.0.0.1:8010"};
  EXPECT_EQ(Check(Request("GET", "/", {host})), 0);
  EXPECT_EQ(Check(Request("HEAD", "/", {host})), 0);
  EXPECT_EQ(Check(Request("GET", "/panel/panel.css", {host})), 0);
  EXPECT_EQ(Check(Request("GET", "/api/state", {host})), 0);
  // The page the token is in is not served to a rebound name either.
  EXPECT_EQ(Check(Request("GET", "/", {{"Host", "evil.example:8010"}})), 403);
  EXPECT_EQ(Check(Request("GET", "/api/state", {{"Host", "evil.example:8010"}})), 403);
  EXPECT_EQ(Check(Request("GET", "/api/state", {host, {"Sec-Fetch-Site", "same-site"}})), 403);
  // The user may follow a link to the page.
  EXPECT_EQ(Check(Request("GET", "/", {host, {"Sec-Fetch-Site", "cross-site"}})), 0);
  EXPECT_EQ(Check(Request("GET", "/nothing", {host})), 404);
}

// A connected pair: the client bound to `from`, the server side accepted.
bool ConnectedPeerIsLoopback(in_addr from, in_addr to) {
  CSocket listener(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr = to;
  ::bind(listener.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::listen(listener.Get(), 1);
  socklen_t size = sizeof address;
  ::getsockname(listener.Get(), reinterpret_cast<sockaddr*>(&address), &size);
  CSocket client(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in source{};
  source.sin_family = AF_INET;
  source.sin_addr = from;
  EXPECT_EQ(::bind(client.Get(), reinterpret_cast<sockaddr*>(&source), sizeof source), 0);
  EXPECT_EQ(::connect(client.Get(), reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  CSocket accepted(::accept(listener.Get(), nullptr, nullptr));
  return IsLoopbackPeer(accepted.Get());
}

TEST(PanelAccessTest, PeerCheckTellsLoopbackFromOtherPeers) {
  in_addr loopback{htonl(INADDR_LOOPBACK)};
  EXPECT_TRUE(ConnectedPeerIsLoopback(loopback, loopback));
  for (in_addr own : GetOwnIpv4Addresses()) {
    if ((ntohl(own.s_addr) >> 24) == 127) continue;
    EXPECT_FALSE(ConnectedPeerIsLoopback(own, own));
    break;
  }
  int pair[2];
  ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair), 0);
  CSocket first(pair[0]), second(pair[1]);
  EXPECT_FALSE(IsLoopbackPeer(first.Get()));
  EXPECT_FALSE(IsLoopbackPeer(-1));
}

}  // namespace
