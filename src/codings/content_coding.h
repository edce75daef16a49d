// The content codings an answer's body may come in, read from its
// Content-Encoding header.
#pragma once

#include <string>
#include <string_view>

enum class ContentCoding { kIdentity, kGzip, kDeflate, kBrotli, kZstd, kOther };

// The coding a Content-Encoding value names: one coding in any case, with
// surrounding spaces. Empty and "identity" are kIdentity; stacked codings
// ("gzip, br"), unknown and dictionary codings are kOther, whose bodies are not
// decoded.
ContentCoding ReadContentCoding(std::string_view value);

// The Accept-Encoding value a request carries when the proxy will read its answer:
// the codings it decodes that the browser's own `accepted` value also takes (an
// answer the proxy passes on undecoded, such as an image, must still be one the
// browser can read); "identity" when none is left.
std::string DecodableCodingsAccepted(std::string_view accepted);
