// Recognising the response pieces that carry an image, which pass unfiltered.
#pragma once

#include <cstddef>

// True when the text of the piece (up to its first 0 byte) holds "content-type"
// (any letter case), followed by ":" and blanks, and a value that begins with
// "image/" and has more after the slash. Only the piece holding that header is
// recognised; the search is not limited to the header block.
bool IsImageChunk(const char* chunk, std::size_t length);
