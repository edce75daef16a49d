// Telling which destinations and peers are this machine.
#pragma once

#include <netinet/in.h>

// 127.0.0.0/8, and 0.0.0.0/8, which a connect on Linux also delivers to this machine.
bool IsLoopbackAddress(in_addr address);

// A loopback address or an address of one of this machine's interfaces, as they
// were at most a few seconds ago.
bool IsOwnAddress(in_addr address);
