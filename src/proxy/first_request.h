// Reading the first request of a browser connection.
#pragma once

#include <cstddef>

// Receives into `buffer` until the bytes hold a whole header block, `capacity`
// bytes are in, or the browser closes or fails. Returns the bytes received (0
// when none); the caller writes the terminating 0 after them.
std::size_t ReadFirstRequest(int socket, char* buffer, std::size_t capacity);
