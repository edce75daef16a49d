// Reading the first request of a browser connection.
#pragma once

#include <cstddef>

// Receives into `buffer` until the bytes hold a whole header block, `capacity`
// bytes are in, or the browser closes or fails. Returns the bytes received (0
// when none); the caller writes the terminating 0 after them.
std::size_t ReadFirstRequest(int socket, char* buffer, std::size_t capacity);

// Where the header block of the received bytes ends (just after its empty line,
// "\r\n\r\n" or a bare "\n\n"), or `length` when it does not end within them.
// Bytes after it, such as a tunnel's first bytes sent right after a CONNECT,
// belong to the server.
std::size_t FindHeaderBlockEnd(const char* bytes, std::size_t length);
