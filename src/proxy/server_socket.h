// Opening the proxy's connections to servers.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <string>

#include "proxy/socket.h"

// How long a connect may take before the server counts as unreachable.
inline constexpr std::chrono::milliseconds kConnectTimeout{20000};

// A blocking TCP connection to `address`:`port` (1 to 65535) with TCP_NODELAY set,
// or no socket when the connect fails or takes longer than `timeout`.
CSocket ConnectToAddress(in_addr address, int port,
                         std::chrono::milliseconds timeout = kConnectTimeout);

// Resolves `host` through the host cache and connects to it; no socket on failure.
CSocket OpenServerSocket(const std::string& host, int port,
                         std::chrono::milliseconds timeout = kConnectTimeout);
