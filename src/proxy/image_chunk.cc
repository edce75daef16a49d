// Recognising the response pieces that carry an image, which pass unfiltered.
#include "proxy/image_chunk.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/ascii.h"

namespace {

constexpr std::string_view kHeader = "content-type";
constexpr std::size_t kHyphen = 7;  // where kHeader's one caseless byte stands

// The first "content-type" in any letter case, or npos. Every piece of every
// response is searched, so the scan jumps from hyphen to hyphen with memchr
// instead of comparing at each byte.
std::size_t FindContentType(std::string_view text) {
  std::size_t at = kHyphen;
  while (at + kHeader.size() - kHyphen <= text.size()) {
    const void* hyphen = std::memchr(text.data() + at, '-', text.size() - at);
    if (hyphen == nullptr) return std::string_view::npos;
    at = static_cast<std::size_t>(static_cast<const char*>(hyphen) - text.data());
    if (at >= kHyphen && at - kHyphen + kHeader.size() <= text.size() &&
        EqualsNoCase(text.substr(at - kHyphen, kHeader.size()), kHeader))
      return at - kHyphen;
    ++at;
  }
  return std::string_view::npos;
}

}  // namespace

bool IsImageChunk(const char* chunk, std::size_t length) {
  if (chunk == nullptr) return false;
  const void* nul = std::memchr(chunk, 0, length);
  const std::string_view text(chunk, nul ? static_cast<const char*>(nul) - chunk : length);
  constexpr std::string_view kImage = "image/";
  std::size_t at = FindContentType(text);
  if (at == std::string_view::npos) return false;
  at += kHeader.size();
  while (at < text.size() && (text[at] == ':' || text[at] == ' ')) ++at;
  const std::size_t end = std::min(text.find_first_of(" \r\n", at), text.size());
  const std::string_view value = text.substr(at, end - at);
  return value.size() > kImage.size() && EqualsNoCase(value.substr(0, kImage.size()), kImage);
}
