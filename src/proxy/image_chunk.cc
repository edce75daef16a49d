// Recognising the response pieces that carry an image, which pass unfiltered. Every
// piece of every response is searched, so the search is the filter's own header
// lookup, whose answer the filter then reuses.
#include "proxy/image_chunk.h"

#include <string>
#include <string_view>

bool IsImageChunk(const CTrafficText& text, CHeaderValueReader& headers) {
  // The value is lower-cased, and ends at a space, CR or LF like the header line.
  constexpr std::string_view kImage = "image/";
  std::string value;
  return headers.Read(text, "content-type", value) && value.size() > kImage.size() &&
         value.starts_with(kImage);
}
