// The proxy's own answer to a CONNECT request on a direct connection.
#pragma once

#include <string_view>

// Sent to the browser once the server is connected; the tunnel starts after it.
inline constexpr std::string_view kConnectAnswer = "HTTP/1.0 200 Connection established\r\n\r\n";
