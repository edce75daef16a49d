// One direction of a tunnel (CONNECT, or a connection upgraded by 101): bytes
// moved as they come, never framed or filtered.
#pragma once

#include <chrono>

class CReceiveWindow;
class CUpstreamState;

enum class TunnelEnd { kSourceClosed, kDestinationFailed, kIdle };

// Sends what `source` already holds to `destination`, then moves everything the
// source sends, socket to socket through a kernel pipe where one can be had (else
// through the window's buffer), until one side ends or neither direction has
// moved a byte for `limit` (`activity` is shared by both directions).
TunnelEnd PumpTunnel(CReceiveWindow& source, int destination, CUpstreamState& activity,
                     std::chrono::milliseconds limit);
