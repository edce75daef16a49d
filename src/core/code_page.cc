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

// Converts the whole text; a sequence the target cannot take, or an invalid one
// in the source, becomes "?" and the scan goes on after its first byte.
std::string Convert(std::string_view text, const char* to, const char* from) {
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
    // EILSEQ or EINVAL (truncated sequence at the end): replace one byte.
    out.push_back('?');
    ++in;
    --inLeft;
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
