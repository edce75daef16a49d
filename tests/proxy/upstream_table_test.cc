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

TEST(CUpstreamTable, AnEndedConnectionIsReplacedAndCloseAllShutsDownTheRest) {
  CUpstreamTable table;
  CStatePair first("a.test", 80);
  CStatePair next("a.test", 80);
  CStatePair other("b.test", 80);
  table.Register(first.state);
  table.Register(other.state);
  // A server that closed between answers: the next request opens a new connection.
  first.state->SetEnded();
  EXPECT_EQ(table.Find("a.test", 80), nullptr);
  table.Register(next.state);
  EXPECT_EQ(table.Find("a.test", 80), next.state);

  // At the cap the least recently used connection that owes nothing goes first.
  CStatePair third("c.test", 80);
  table.Register(third.state);
  other.state->NoteActivity();
  third.state->NoteActivity();
  const auto owes = [&](const CUpstreamState& state) { return &state == next.state.get(); };
  table.MakeRoom(4, owes);
  EXPECT_EQ(table.GetSize(), 3u);
  table.MakeRoom(3, owes);
  EXPECT_EQ(table.GetSize(), 2u);
  EXPECT_EQ(table.Find("a.test", 80), next.state);
  EXPECT_TRUE(other.WasShutDown() != third.WasShutDown());

  table.CloseAll();
  EXPECT_EQ(table.GetSize(), 0u);
  EXPECT_TRUE(next.WasShutDown());
  EXPECT_TRUE(third.WasShutDown());
}

}  // namespace
