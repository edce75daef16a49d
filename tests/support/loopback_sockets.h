// Sockets on 127.0.0.1 for tests: listening at a port the system picks, and connecting.
#pragma once

#include "proxy/socket.h"

// A socket bound to 127.0.0.1 at a port the system picks (stored in `port`);
// listening when asked.
CSocket BindLoopback(int& port, bool listen);

// A port that was free a moment ago.
int FreePort();

// A connection to 127.0.0.1:`port` that gives up receiving after 5 s; none when
// nothing accepts there.
CSocket ConnectLoopback(int port);
