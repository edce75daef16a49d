// Recognising the response pieces that carry an image, which pass unfiltered.
#pragma once

#include "rules/traffic_fields.h"

// True when the text of the piece (up to its first 0 byte) holds "content-type"
// (any letter case), followed by ":" and blanks, and a value that begins with
// "image/" and has more after the slash. Only the piece holding that header is
// recognised; the search is not limited to the header block. The "content-type"
// value read stays in `headers` for the filter rules that ask for it.
bool IsImageChunk(const CTrafficText& text, CHeaderValueReader& headers);
