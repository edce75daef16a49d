// The content codings an answer's body may come in.
#include "codings/content_coding.h"

#include "core/ascii.h"

namespace {

std::string_view TrimSpaces(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

}  // namespace

ContentCoding ReadContentCoding(std::string_view value) {
  value = TrimSpaces(value);
  if (value.empty() || EqualsNoCase(value, "identity")) return ContentCoding::kIdentity;
  if (EqualsNoCase(value, "gzip") || EqualsNoCase(value, "x-gzip"))
    return ContentCoding::kGzip;
  if (EqualsNoCase(value, "deflate")) return ContentCoding::kDeflate;
  if (EqualsNoCase(value, "br")) return ContentCoding::kBrotli;
  if (EqualsNoCase(value, "zstd")) return ContentCoding::kZstd;
  return ContentCoding::kOther;
}
