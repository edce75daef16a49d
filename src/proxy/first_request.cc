// Reading the first request of a browser connection.
#include "proxy/first_request.h"

#include <algorithm>
#include <string_view>

#include "proxy/request_text.h"
#include "proxy/socket.h"

std::size_t ReadFirstRequest(int socket, char* buffer, std::size_t capacity) {
  std::size_t received = 0;
  while (received < capacity) {
    const ssize_t n = ReceiveSome(socket, buffer + received, capacity - received);
    if (n <= 0) break;
    // The end of the block may straddle two receives: look back over 3 bytes.
    const std::size_t searchFrom = received > 3 ? received - 3 : 0;
    received += static_cast<std::size_t>(n);
    if (HasCompleteHeaderBlock(buffer + searchFrom, received - searchFrom)) break;
  }
  return received;
}

std::size_t FindHeaderBlockEnd(const char* bytes, std::size_t length) {
  const std::string_view received(bytes, length);
  const std::size_t crlf = received.find("\n\r\n");
  const std::size_t lf = received.find("\n\n");
  const std::size_t end = std::min(crlf == std::string_view::npos ? length : crlf + 3,
                                   lf == std::string_view::npos ? length : lf + 2);
  return std::min(end, length);
}
