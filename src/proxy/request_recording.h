// Handing a browser's first request to the page recorder.
#pragma once

#include <cstddef>

// Records the request's URL, its header lines and, for a POST whose form body
// ends with "\r\n" within the received bytes, the body's fields. Nothing is
// recorded when the request line has no method or target. `text` holds `length`
// bytes and a 0 after them.
void RecordRequest(const char* text, std::size_t length);
