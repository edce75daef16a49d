// iconv-based conversion between the narrow set and UTF-8.
#include "core/code_page.h"

#include <iconv.h>
#include <langinfo.h>

#include <cerrno>
#include <clocale>
#include <mutex>
#include <shared_mutex>

#include "core/ascii.h"

namespace {

std::shared_mutex g_charsetLock;
std::string g_charset = "UTF-8";

bool IsIdentitySet(const std::string& name) {
  return name.empty() || EqualsNoCase(name, "UTF-8") || EqualsNoCase(name, "UTF8") ||
         EqualsNoCase(name, "ANSI_X3.4-1968") || EqualsNoCase(name, "ASCII") ||
         EqualsNoCase(name, "US-ASCII");
}

// An iconv descriptor that closes itself.
class CIconv {
 public:
  CIconv(const char* to, const char* from) : m_handle(iconv_open(to, from)) {}
  ~CIconv() {
    if (IsOpen()) iconv_close(m_handle);
  }
  CIconv(const CIconv&) = delete;
  CIconv& operator=(const CIconv&) = delete;
  bool IsOpen() const { return m_handle != reinterpret_cast<iconv_t>(-1); }
  iconv_t Get() const { return m_handle; }

 private:
  iconv_t m_handle;
};

// Bytes of the UTF-8 character at the front of `bytes`: a whole character when it
// is well formed, else its longest well-formed start (at least one byte), so that
// each character the target set lacks, and each broken sequence, becomes one "?".
std::size_t Utf8UnitLength(std::string_view bytes) {
  const unsigned char lead = static_cast<unsigned char>(bytes[0]);
  if (lead < 0xC2 || lead > 0xF4) return 1;
  std::size_t trailing = lead < 0xE0 ? 1 : (lead < 0xF0 ? 2 : 3);
  unsigned char low = 0x80, high = 0xBF;
  if (lead == 0xE0) low = 0xA0;
  if (lead == 0xED) high = 0x9F;  // no UTF-16 surrogates
  if (lead == 0xF0) low = 0x90;
  if (lead == 0xF4) high = 0x8F;  // nothing above U+10FFFF
  std::size_t length = 1;
  while (length <= trailing && length < bytes.size()) {
    const unsigned char c = static_cast<unsigned char>(bytes[length]);
    if (c < low || c > high) break;
    low = 0x80;
    high = 0xBF;
    ++length;
  }
  return length;
}

// Converts the whole text; a character the target cannot take, or an invalid
// sequence in the source, becomes "?" and the scan goes on after it (after one
// byte when the source is not UTF-8).
std::string Convert(std::string_view text, const char* to, const char* from) {
  const bool fromUtf8 = EqualsNoCase(from, "UTF-8");
  CIconv converter(to, from);
  if (!converter.IsOpen()) return std::string(text);
  std::string out;
  out.reserve(text.size() * 2 + 8);
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char chunk[1024];
  while (inLeft > 0) {
    char* outPtr = chunk;
    size_t outLeft = sizeof(chunk);
    size_t rc = iconv(converter.Get(), &in, &inLeft, &outPtr, &outLeft);
    out.append(chunk, outPtr - chunk);
    if (rc != static_cast<size_t>(-1)) continue;
    if (errno == E2BIG) continue;
    // EILSEQ or EINVAL (truncated sequence at the end): replace one character.
    const std::size_t skip = fromUtf8 ? Utf8UnitLength(std::string_view(in, inLeft)) : 1;
    out.push_back('?');
    in += skip;
    inLeft -= skip;
    iconv(converter.Get(), nullptr, nullptr, nullptr, nullptr);
  }
  char* outPtr = chunk;
  size_t outLeft = sizeof(chunk);
  iconv(converter.Get(), nullptr, nullptr, &outPtr, &outLeft);  // flush shift state
  out.append(chunk, outPtr - chunk);
  return out;
}

}  // namespace

void InitNarrowCharset() {
  std::setlocale(LC_CTYPE, "");
  const char* codeset = nl_langinfo(CODESET);
  std::unique_lock<std::shared_mutex> guard(g_charsetLock);
  g_charset = codeset ? codeset : "UTF-8";
}

bool SetNarrowCharset(const std::string& name) {
  if (!IsIdentitySet(name)) {
    CIconv probe("UTF-8", name.c_str());
    if (!probe.IsOpen()) return false;
  }
  std::unique_lock<std::shared_mutex> guard(g_charsetLock);
  g_charset = name.empty() ? "UTF-8" : name;
  return true;
}

std::string GetNarrowCharset() {
  std::shared_lock<std::shared_mutex> guard(g_charsetLock);
  return g_charset;
}

std::string NarrowToUtf8(std::string_view text) {
  std::string charset = GetNarrowCharset();
  if (text.empty() || IsIdentitySet(charset)) return std::string(text);
  return Convert(text, "UTF-8", charset.c_str());
}

std::string Utf8ToNarrow(std::string_view text) {
  std::string charset = GetNarrowCharset();
  if (text.empty() || IsIdentitySet(charset)) return std::string(text);
  return Convert(text, charset.c_str(), "UTF-8");
}
