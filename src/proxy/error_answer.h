// The proxy's own short answers when it cannot pass a request on.
#pragma once

#include <string_view>

// Sends "HTTP/1.1 <status> <reason phrase>" with a short HTML page naming `host`
// and `detail`, and "Connection: close": the caller closes the connection after it.
// Known statuses: 400, 431, 502, 504.
void SendErrorAnswer(int socket, int status, std::string_view host, std::string_view detail);
