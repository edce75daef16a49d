// Which servers a browser connection may reach.
#pragma once

#include <netinet/in.h>

// Fixed when the connection is accepted.
struct CConnectionScope {
  // The port the proxy listens on: a server at that port on this machine is the
  // proxy itself, which is never connected to.
  int proxyPort = 0;
  // The browser runs on this machine; only then may it reach loopback addresses.
  bool peerIsLocal = false;
};

// True when the destination is the proxy itself: its own port on this machine.
bool IsProxyItself(in_addr address, int port, const CConnectionScope& scope);

// True when the connection may be forwarded to `address`:`port`: not the proxy
// itself, and a loopback address only for a browser on this machine (a remote
// peer must not reach services that listen on loopback alone).
bool MayConnectTo(in_addr address, int port, const CConnectionScope& scope);
