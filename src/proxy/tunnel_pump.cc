// A tunnel: bytes moved both ways as they come, never framed or filtered.
#include "proxy/tunnel_pump.h"

#include <poll.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/socket_splice.h"
#include "proxy/receive_window.h"

namespace {

using Clock = std::chrono::steady_clock;

// Where one direction stands after moving what it could without waiting.
enum class Flow {
  kWaiting,  // everything received has gone on; the source has nothing more yet
  kBlocked,  // the destination takes no more for now
  kEnded,    // the source has ended and everything it sent has gone on
  kFailed,   // the destination failed
};

// One direction of the tunnel: the bytes its source sent that its destination
// has not taken yet, in the window's buffer or, during a burst, in a pipe.
class CDirection {
 public:
  CDirection(CReceiveWindow& source, int destination)
      : m_source(source), m_destination(destination) {}

  Flow Move(bool& moved);
  int GetSource() const { return m_source.GetSocket(); }
  int GetDestination() const { return m_destination; }

 private:
  enum class Read { kMaybeMore, kDrained, kEnded };
  Read ReadSource(bool& moved);
  bool Flush(bool& moved);
  bool HasPending() const { return !m_source.IsEmpty() || (m_pipe && !m_pipe->IsEmpty()); }

  CReceiveWindow& m_source;
  const int m_destination;
  std::optional<CSplicePipe> m_pipe;
  bool m_sourceEnded = false;
};

Flow CDirection::Move(bool& moved) {
  for (bool drained = false;;) {
    if (!Flush(moved)) return Flow::kFailed;
    if (HasPending()) return Flow::kBlocked;
    if (m_sourceEnded) return Flow::kEnded;
    if (drained) return Flow::kWaiting;
    const Read read = ReadSource(moved);
    drained = read == Read::kDrained;
    m_sourceEnded = read == Read::kEnded;
  }
}

CDirection::Read CDirection::ReadSource(bool& moved) {
  if (m_pipe) {
    std::size_t taken = 0;
    switch (m_pipe->FillFrom(m_source.GetSocket(), taken)) {
      case CSplicePipe::Fill::kTaken:
        moved = true;
        return taken == CSplicePipe::kCapacity ? Read::kMaybeMore : Read::kDrained;
      case CSplicePipe::Fill::kNothingYet:
        // The burst is over: the pipe, empty now, goes until the next one.
        m_pipe.reset();
        return Read::kDrained;
      case CSplicePipe::Fill::kClosed:
        return Read::kEnded;
    }
  }
  switch (m_source.Receive(CReceiveWindow::Wait::kNo)) {
    case CReceiveWindow::Result::kReceived:
      moved = true;
      // A burst that fills the window is likely to go on: the rest moves socket to
      // socket. Without a pipe to be had, the buffer carries on as it always could.
      if (!m_source.IsFull()) return Read::kDrained;
      m_pipe.emplace();
      if (!m_pipe->IsOpen()) m_pipe.reset();
      return Read::kMaybeMore;
    case CReceiveWindow::Result::kNothingYet:
    case CReceiveWindow::Result::kFull:
      return Read::kDrained;
    default:
      return Read::kEnded;
  }
}

bool CDirection::Flush(bool& moved) {
  const std::string_view unread = m_source.Unread();
  if (!unread.empty()) {
    const ssize_t sent =
        ::send(m_destination, unread.data(), unread.size(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    moved = true;
    m_source.Consume(static_cast<std::size_t>(sent));
    return true;
  }
  if (!m_pipe || m_pipe->IsEmpty()) return true;
  const std::size_t held = m_pipe->GetHeld();
  if (!m_pipe->DrainTo(m_destination)) return false;
  moved = moved || m_pipe->GetHeld() != held;
  return true;
}

// What the poll waits for on a socket: bytes for the direction it feeds, room for
// the direction that feeds it. A socket waited on for neither is left out, so
// that its hang-up is not reported over and over while the other side works.
pollfd WaitEntry(int socket, Flow fromIt, Flow toIt) {
  const short events = static_cast<short>((fromIt == Flow::kWaiting ? POLLIN : 0) |
                                          (toIt == Flow::kBlocked ? POLLOUT : 0));
  return {events != 0 ? socket : -1, events, 0};
}

// True when the poll reported what the direction was waiting for (or a failure).
bool IsReady(Flow flow, const pollfd& source, const pollfd& destination) {
  constexpr short kFailure = POLLHUP | POLLERR;
  if (flow == Flow::kWaiting) return (source.revents & (POLLIN | kFailure)) != 0;
  return flow == Flow::kBlocked && (destination.revents & (POLLOUT | kFailure)) != 0;
}

int MillisecondsUntil(Clock::time_point deadline, Clock::time_point now) {
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - now);
  return static_cast<int>(std::max<long long>(left.count(), 0));
}

}  // namespace

void PumpTunnel(CReceiveWindow& browser, CReceiveWindow& server, const CTunnelLimits& limits) {
  CDirection up(browser, server.GetSocket());
  CDirection down(server, browser.GetSocket());
  Flow upFlow = Flow::kWaiting;
  Flow downFlow = Flow::kWaiting;
  // The first turn passes on what the windows hold already.
  bool upReady = true;
  bool downReady = true;
  Clock::time_point deadline = Clock::now() + limits.idle;
  std::optional<Clock::time_point> browserEnd;
  for (;;) {
    bool moved = false;
    if (upReady) upFlow = up.Move(moved);
    if (downReady) downFlow = down.Move(moved);
    // The server's end, or a failure either way, ends the whole tunnel.
    if (upFlow == Flow::kFailed || downFlow == Flow::kFailed || downFlow == Flow::kEnded) return;
    const Clock::time_point now = Clock::now();
    if (upFlow == Flow::kEnded && !browserEnd) {
      // The server reads the end after the browser's last byte and may still answer.
      ::shutdown(server.GetSocket(), SHUT_WR);
      browserEnd = now + limits.afterBrowserEnd;
    }
    if (moved) deadline = now + limits.idle;
    const Clock::time_point end = browserEnd ? std::min(deadline, *browserEnd) : deadline;
    if (now >= end) return;
    pollfd sockets[2] = {WaitEntry(browser.GetSocket(), upFlow, downFlow),
                         WaitEntry(server.GetSocket(), downFlow, upFlow)};
    const int ready = ::poll(sockets, 2, MillisecondsUntil(end, now));
    if (ready < 0 && errno != EINTR) return;
    upReady = ready > 0 && IsReady(upFlow, sockets[0], sockets[1]);
    downReady = ready > 0 && IsReady(downFlow, sockets[1], sockets[0]);
  }
}
