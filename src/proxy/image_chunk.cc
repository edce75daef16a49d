// Recognising the response pieces that carry an image, which pass unfiltered. Every
// piece of every response is searched, so the search is the filter's block search.
#include "proxy/image_chunk.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/ascii.h"
#include "rules/byte_search.h"

bool IsImageChunk(const char* chunk, std::size_t length) {
  if (chunk == nullptr) return false;
  const void* nul = std::memchr(chunk, 0, length);
  const std::string_view text(chunk, nul ? static_cast<const char*>(nul) - chunk : length);
  constexpr std::string_view kHeader = "content-type";
  constexpr std::string_view kImage = "image/";
  std::size_t at = FindNoCase(text, kHeader, 0);
  if (at == std::string_view::npos) return false;
  at += kHeader.size();
  while (at < text.size() && (text[at] == ':' || text[at] == ' ')) ++at;
  const std::size_t end = std::min(text.find_first_of(" \r\n", at), text.size());
  const std::string_view value = text.substr(at, end - at);
  return value.size() > kImage.size() && EqualsNoCase(value.substr(0, kImage.size()), kImage);
}
