#include "proxy/upstream_table.h"

#include <gtest/gtest.h>
#include <sys/socket.h>

#include <memory>
#include <string>

#include "proxy/upstream_state.h"

namespace {

// A connected pair: the state holds one end, the test reads the other.
struct CStatePair {
  CStatePair(const std::string& host, int port) {
    int ends[2];
    EXPECT_EQ(::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends), 0);
    peer = CSocket(ends[1]);
    state = std::make_shared<CUpstreamState>(host, port, CSocket(ends[0]));
  }
  // True when the state's end was shut down (the peer reads end of stream).
  bool WasShutDown() const {
    char byte;
    return ::recv(peer.Get(), &byte, 1, MSG_DONTWAIT) == 0;
  }
  CSocket peer;
  std::shared_ptr<CUpstreamState> state;
};

TEST(CUpstreamTable, KeepsConnectionsApartByHostAndPort) {
  CUpstreamTable table;
  CStatePair first("example.com", 80);
  CStatePair otherPort("example.com", 81);
  CStatePair again("example.com", 80);
  table.Register(first.state);
  table.Register(otherPort.state);
  table.Register(again.state);  // an existing entry is kept
  EXPECT_EQ(table.GetSize(), 2u);
  EXPECT_EQ(table.Find("example.com", 80), first.state);
  EXPECT_EQ(table.Find("example.com", 81), otherPort.state);
  EXPECT_EQ(table.Find("EXAMPLE.com", 80), nullptr);  // compared byte for byte
  EXPECT_EQ(table.Find("", 80), nullptr);

  CStatePair unnamed("", 80);
  table.Register(unnamed.state);
  table.Register(nullptr);
  EXPECT_EQ(table.GetSize(), 2u);
}

TEST(CUpstreamTable, CloseAllShutsDownEveryConnectionAlsoReplacedOnes) {
  CUpstreamTable table;
  CStatePair plain("a.test", 443);
  CStatePair tunnel("a.test", 443);
  CStatePair other("b.test", 80);
  table.Register(plain.state);
  table.Register(other.state);
  // A CONNECT takes the key over; the plain connection stays open meanwhile.
  table.Replace(tunnel.state);
  EXPECT_EQ(table.Find("a.test", 443), tunnel.state);
  EXPECT_FALSE(plain.WasShutDown());

  table.CloseAll();
  EXPECT_EQ(table.GetSize(), 0u);
  EXPECT_TRUE(plain.WasShutDown());
  EXPECT_TRUE(tunnel.WasShutDown());
  EXPECT_TRUE(other.WasShutDown());
}

TEST(CUpstreamState, KeepsOnlyTheLastUrlAndRefreshesCopiesWhenItChanges) {
  CUpstreamState state("a.test", 80, CSocket());
  EXPECT_FALSE(state.IsAllowed());
  EXPECT_FALSE(state.IsTunnel());
  std::string url;
  std::uint64_t seen = 0;
  state.RefreshLastUrl(url, seen);
  EXPECT_EQ(url, "");

  state.NoteRequest("http://a.test/1", true);
  EXPECT_TRUE(state.IsAllowed());
  state.RefreshLastUrl(url, seen);
  EXPECT_EQ(url, "http://a.test/1");
  url = "stale copy kept until the URL changes";
  state.RefreshLastUrl(url, seen);
  EXPECT_EQ(url, "stale copy kept until the URL changes");

  // An empty URL keeps the last one; the allowed flag always follows.
  state.NoteRequest("", false);
  EXPECT_FALSE(state.IsAllowed());
  EXPECT_EQ(state.GetLastUrl(), "http://a.test/1");
  state.NoteRequest("http://a.test/2", false);
  state.RefreshLastUrl(url, seen);
  EXPECT_EQ(url, "http://a.test/2");

  state.SetTunnel();
  EXPECT_TRUE(state.IsTunnel());
  EXPECT_TRUE(CUpstreamState("b", 443, CSocket(), true).IsTunnel());
}

}  // namespace
