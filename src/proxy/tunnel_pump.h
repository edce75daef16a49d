// A tunnel (CONNECT, or a connection upgraded by 101): bytes moved both ways as
// they come, never framed or filtered.
#pragma once

#include <chrono>

class CReceiveWindow;

// How long a tunnel lasts without traffic, and after the browser has sent all it
// will.
struct CTunnelLimits {
  std::chrono::milliseconds idle;
  std::chrono::milliseconds afterBrowserEnd;
};

// Carries the tunnel in both directions on the calling thread, one poll over both
// sockets (which must be non-blocking): first what the windows already hold, then
// everything either side sends, socket to socket through a kernel pipe during a
// burst that fills a window (else through the window's buffer). A side that
// cannot take more holds back only its own direction. The browser's end of
// sending is passed on to the server, whose answer still comes back; the server's
// end, a failure on either side, or `limits` end the tunnel.
void PumpTunnel(CReceiveWindow& browser, CReceiveWindow& server, const CTunnelLimits& limits);
