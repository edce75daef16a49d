// Telling IP addresses written as text from host names.
#pragma once

#include <string>
#include <string_view>

// A dotted IPv4 address: four decimal parts of 0 to 255.
bool IsIpv4Address(std::string_view text);

// An IPv6 address as hosts files and URLs write them (::, ::1, fe80::1,
// ::ffff:1.2.3.4): hexadecimal groups, colons and dots with at least two colons.
// No name can hold a colon, so a looser test than a full parse cannot take a name
// for one.
bool IsIpv6Address(std::string_view text);

// A host as requests and certificates compare it: lower case, without the
// brackets of an IPv6 literal or a name's final dot.
std::string CanonicalHost(std::string_view host);
