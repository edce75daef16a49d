// Which peers may use the proxy.
#pragma once

#include <netinet/in.h>

// Networks that are never routed on the internet, so a peer there is a neighbour:
// private (10/8, 172.16/12, 192.168/16), shared (100.64/10) and link-local
// (169.254/16) IPv4 networks.
bool IsLocalNetworkAddress(in_addr address);

// True when `peer` may use the proxy: this machine always, a computer on a local
// network only when `allowLocalNetwork`, anyone else never.
bool IsPeerServed(in_addr peer, bool allowLocalNetwork);
