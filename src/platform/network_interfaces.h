// The IPv4 addresses of this machine's network interfaces.
#pragma once

#include <netinet/in.h>

#include <vector>

// Every IPv4 address configured on an interface of this machine, read afresh on
// each call (interfaces come and go); empty when they cannot be read.
std::vector<in_addr> GetOwnIpv4Addresses();
