// Reading the first request of a browser connection.
#include "proxy/first_request.h"

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
