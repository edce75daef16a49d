// One direction of a tunnel: bytes moved as they come, never framed or filtered.
#include "proxy/tunnel_pump.h"

#include "platform/socket_splice.h"
#include "proxy/receive_window.h"
#include "proxy/socket.h"
#include "proxy/upstream_state.h"

namespace {

bool SendUnread(CReceiveWindow& source, int destination, CUpstreamState& activity) {
  const std::string_view unread = source.Unread();
  if (unread.empty()) return true;
  if (SendAll(destination, unread.data(), unread.size()) < 0) return false;
  activity.NoteActivity();
  source.Consume(unread.size());
  return true;
}

}  // namespace

TunnelEnd PumpTunnel(CReceiveWindow& source, int destination, CUpstreamState& activity,
                     std::chrono::milliseconds limit) {
  for (;;) {
    if (!SendUnread(source, destination, activity)) return TunnelEnd::kDestinationFailed;
    switch (source.WaitForBytes(limit)) {
      case CReceiveWindow::Readiness::kReady:
        break;
      case CReceiveWindow::Readiness::kTimedOut:
        // Bytes that flow the other way keep the tunnel alive too.
        if (activity.IdleFor(limit)) return TunnelEnd::kIdle;
        continue;
      case CReceiveWindow::Readiness::kFailed:
        return TunnelEnd::kSourceClosed;
    }
    // A small burst goes through the window's buffer; one that fills it is likely
    // to go on, and the rest moves socket to socket.
    const CReceiveWindow::Result received = source.Receive(CReceiveWindow::Wait::kNo);
    if (received == CReceiveWindow::Result::kClosed) return TunnelEnd::kSourceClosed;
    if (received != CReceiveWindow::Result::kReceived || !source.IsFull()) continue;
    if (!SendUnread(source, destination, activity)) return TunnelEnd::kDestinationFailed;
    std::size_t moved = 0;
    switch (SpliceAvailable(source.GetSocket(), destination, moved)) {
      case SpliceResult::kMoved:
        activity.NoteActivity();
        break;
      case SpliceResult::kClosed:
        return TunnelEnd::kSourceClosed;
      case SpliceResult::kFailed:
        return TunnelEnd::kDestinationFailed;
      case SpliceResult::kNothingYet:
      case SpliceResult::kUnavailable:
        // Descriptors ran short: the buffer carries on, as it always could.
        break;
    }
  }
}
