// Opening the proxy's connections to servers.
#pragma once

#include <netinet/in.h>

#include <chrono>
#include <string>

#include "proxy/socket.h"

// How long a connect may take before the server counts as unreachable.
inline constexpr std::chrono::milliseconds kConnectTimeout{20000};

// Why a connect failed, for the answer the browser gets instead.
enum class ConnectFailure { kNone, kRefused, kTimedOut, kOther };

// A TCP connection to `address`:`port` (1 to 65535) with TCP_NODELAY set, or no
// socket when the connect fails or takes longer than `timeout`; `failure` tells
// why. The socket blocks unless `mode` asks otherwise.
CSocket ConnectToAddress(in_addr address, int port, std::chrono::milliseconds timeout,
                         ConnectFailure& failure, SocketMode mode = SocketMode::kBlocking);
