// The content codings an answer's body may come in, read from its
// Content-Encoding header.
#pragma once

#include <string_view>

enum class ContentCoding { kIdentity, kGzip, kDeflate, kBrotli, kZstd, kOther };

// The coding a Content-Encoding value names: one coding in any case, with
// surrounding spaces. Empty and "identity" are kIdentity; stacked codings
// ("gzip, br"), unknown and dictionary codings are kOther, whose bodies are not
// decoded.
ContentCoding ReadContentCoding(std::string_view value);

// The Accept-Encoding value a request carries when the proxy will read its
// answer: exactly the codings it decodes.
constexpr std::string_view kDecodableCodings = "gzip, deflate, br, zstd";
