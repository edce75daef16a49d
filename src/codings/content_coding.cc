// The content codings an answer's body may come in.
#include "codings/content_coding.h"

#include "core/ascii.h"

ContentCoding ReadContentCoding(std::string_view value) {
  value = TrimBlanks(value);
  if (value.empty() || EqualsNoCase(value, "identity")) return ContentCoding::kIdentity;
  if (EqualsNoCase(value, "gzip") || EqualsNoCase(value, "x-gzip"))
    return ContentCoding::kGzip;
  if (EqualsNoCase(value, "deflate")) return ContentCoding::kDeflate;
  if (EqualsNoCase(value, "br")) return ContentCoding::kBrotli;
  if (EqualsNoCase(value, "zstd")) return ContentCoding::kZstd;
  return ContentCoding::kOther;
}

namespace {

// Whether a list element ("br", "gzip;q=0.5", "*;q=0") names `coding`, or any
// coding with "*", with a weight above zero.
bool Accepts(std::string_view element, std::string_view coding) {
  const std::size_t semicolon = element.find(';');
  const std::string_view name = TrimBlanks(element.substr(0, semicolon));
  if (!EqualsNoCase(name, coding) && name != "*") return false;
  if (semicolon == std::string_view::npos) return true;
  std::string_view weight = TrimBlanks(element.substr(semicolon + 1));
  if (weight.size() < 2 || (weight[0] != 'q' && weight[0] != 'Q') || weight[1] != '=') return true;
  weight.remove_prefix(2);
  return weight.find_first_of("123456789") != std::string_view::npos;
}

bool ListAccepts(std::string_view list, std::string_view coding) {
  while (!list.empty()) {
    const std::size_t comma = list.find(',');
    if (Accepts(list.substr(0, comma), coding)) return true;
    if (comma == std::string_view::npos) break;
    list.remove_prefix(comma + 1);
  }
  return false;
}

}  // namespace

std::string DecodableCodingsAccepted(std::string_view accepted) {
  std::string codings;
  for (const std::string_view coding : {"gzip", "deflate", "br", "zstd"}) {
    if (!ListAccepts(accepted, coding)) continue;
    if (!codings.empty()) codings += ", ";
    codings += coding;
  }
  return codings.empty() ? "identity" : codings;
}
