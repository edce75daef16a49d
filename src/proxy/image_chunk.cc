// Recognising the response pieces that carry an image, which pass unfiltered. Every
// piece of every response is searched, so the search is the filter's own header
// lookup, whose answer the filter then reuses.
#include "proxy/image_chunk.h"

#include <optional>
#include <string_view>

#include "core/ascii.h"

bool IsImageChunk(const CTrafficText& text, CHeaderValueReader& headers) {
  // The value ends at a space, CR or LF like the header line; its letters are in
  // any case.
  static const CSearchNeedle kContentType("content-type", true);
  constexpr std::string_view kImage = "image/";
  const std::optional<std::string_view> value = headers.Read(text, kContentType);
  return value && value->size() > kImage.size() &&
         EqualsNoCase(value->substr(0, kImage.size()), kImage);
}
