// Recognising the response pieces that carry an image, which pass unfiltered. Every
// piece of every response is searched, so the search is the filter's own header
// lookup, whose answer the filter then reuses.
#include "proxy/image_chunk.h"

#include <string>
#include <string_view>

bool IsImageChunk(const char* chunk, std::size_t length) {
  if (chunk == nullptr) return false;
  // Read only: the text is never written through.
  const CTrafficText text(const_cast<char*>(chunk), length);
  CHeaderValueReader headers;
  return IsImageChunk(text, headers);
}

bool IsImageChunk(const CTrafficText& text, CHeaderValueReader& headers) {
  // The value is lower-cased, and ends at a space, CR or LF like the header line.
  constexpr std::string_view kImage = "image/";
  std::string value;
  return headers.Read(text, "content-type", value) && value.size() > kImage.size() &&
         value.starts_with(kImage);
}
