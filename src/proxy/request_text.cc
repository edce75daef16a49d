// Reading and rewriting the text of HTTP requests received from a browser.
#include "proxy/request_text.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "core/ascii.h"
#include "proxy/port_text.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;
constexpr char kBlank = ' ';

// The text of a buffer: its bytes up to the first NUL, never beyond `length`.
std::string_view TextOf(const char* buffer, std::size_t length) {
  if (buffer == nullptr) return {};
  const void* nul = std::memchr(buffer, 0, length);
  if (nul == nullptr) return {buffer, length};
  return {buffer, static_cast<std::size_t>(static_cast<const char*>(nul) - buffer)};
}

// Blanks and control bytes, and also the bytes 128 to 255 (negative as signed
// characters), which the Host value skips around itself.
bool IsSkippedAroundHost(char c) { return static_cast<signed char>(c) <= 32; }

bool IsAsciiLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiDigit(char c) { return c >= '0' && c <= '9'; }

struct CAuthority {
  std::string_view host;
  int port = 0;  // 0 when the authority names no valid port
};

// Splits "host", "host:port", "user@host:port", "[v6]:port" (the host without its
// brackets) and a bare IPv6 literal, which has more than one colon and no port.
CAuthority SplitAuthority(std::string_view authority) {
  const std::size_t at = authority.rfind('@');
  if (at != kNone) authority.remove_prefix(at + 1);
  CAuthority result{authority, 0};
  if (!authority.empty() && authority.front() == '[') {
    const std::size_t close = authority.find(']');
    if (close == kNone) return result;
    result.host = authority.substr(1, close - 1);
    if (close + 1 < authority.size() && authority[close + 1] == ':')
      result.port = ParsePort(authority.substr(close + 2));
    return result;
  }
  const std::size_t colon = authority.find(':');
  if (colon == kNone || authority.find(':', colon + 1) != kNone) return result;
  result.host = authority.substr(0, colon);
  result.port = ParsePort(authority.substr(colon + 1));
  return result;
}

// Where the authority of an absolute-form target (RFC 9112 3.2.2) lies:
// scheme "://" authority, the authority ending at "/", "?", "#" or the end.
// Returns false for every other form of target.
bool FindAbsoluteAuthority(std::string_view target, std::size_t& begin, std::size_t& end) {
  const std::size_t schemeEnd = target.find("://");
  if (schemeEnd == kNone || schemeEnd == 0 || !IsAsciiLetter(target[0])) return false;
  for (std::size_t i = 1; i < schemeEnd; ++i) {
    const char c = target[i];
    if (!IsAsciiLetter(c) && !IsAsciiDigit(c) && c != '+' && c != '-' && c != '.') return false;
  }
  begin = schemeEnd + 3;
  end = target.find_first_of("/?#", begin);
  if (end == kNone) end = target.size();
  return true;
}

// Start of the value of the first "Host:" line of the header block, or kNone.
std::size_t FindHostValue(std::string_view text) {
  std::size_t lineEnd = text.find('\n');
  while (lineEnd != kNone) {
    const std::size_t lineStart = lineEnd + 1;
    lineEnd = text.find('\n', lineStart);
    const std::string_view line = text.substr(lineStart, lineEnd - lineStart);
    if (line.empty() || line == "\r") return kNone;  // the header block ends here
    if (line.size() >= 5 && EqualsNoCase(line.substr(0, 5), "Host:")) return lineStart + 5;
  }
  return kNone;
}

// The Host value: from the first byte after "Host:" that is not skipped up to the
// line end, without the skipped bytes before the line end. Empty when no line
// end follows (a request cut short).
std::string_view TakeHostValue(std::string_view text, std::size_t start) {
  while (start < text.size() && IsSkippedAroundHost(text[start])) ++start;
  const std::size_t newline = text.find('\n', start);
  if (newline == kNone) return {};
  std::size_t end = newline;
  while (end > start && IsSkippedAroundHost(text[end - 1])) --end;
  return text.substr(start, end - start);
}

// The first token and the request-target of the request line.
void ScanRequestLine(std::string_view text, std::string_view& method, std::string_view& target) {
  const std::size_t methodEnd = std::min(text.find_first_of(" \n"), text.size());
  method = text.substr(0, methodEnd);
  target = {};
  if (methodEnd == text.size() || text[methodEnd] != kBlank) return;
  const std::size_t start = text.find_first_not_of(kBlank, methodEnd);
  if (start == kNone) return;
  const std::size_t end = std::min(text.find_first_of(" \r\n", start), text.size());
  target = text.substr(start, end - start);
}

// Stage 1 of NormalizeRequest: cuts an absolute-form request-target to origin
// form in place; returns the new length.
std::size_t CutTargetToOriginForm(char* buffer, std::size_t length) {
  const std::string_view text = TextOf(buffer, length);
  const std::size_t newline = text.find('\n');
  if (newline == kNone || newline == 0) return length;
  const std::size_t versionBlank = text.rfind(kBlank, newline - 1);
  if (versionBlank == kNone || versionBlank == 0) return length;
  std::size_t last = versionBlank;  // last byte of the target
  while (last > 0 && text[last] == kBlank) --last;
  std::size_t first = text.find(kBlank);  // first byte of the target
  while (text[first] == kBlank) ++first;
  if (last == 0 || first > last) return length;

  const std::string_view target = text.substr(first, last - first + 1);
  std::size_t authorityBegin = 0;
  std::size_t authorityEnd = 0;
  if (!FindAbsoluteAuthority(target, authorityBegin, authorityEnd)) return length;
  // The origin form must start with "/" (RFC 9112 3.2.1): "http://h?q" becomes "/?q".
  const bool addSlash = authorityEnd == target.size() || target[authorityEnd] != '/';
  std::size_t write = first;
  if (addSlash) buffer[write++] = '/';
  const std::size_t read = first + authorityEnd;
  std::memmove(buffer + write, buffer + read, length - read);
  return length - (read - write);
}

// A header line whose name was blanked out: nothing but blanks before its ":",
// or blanks alone. Servers would read it as the continuation of the line before.
bool IsBlankedHeaderLine(std::string_view line) {
  const std::size_t first = line.find_first_not_of(kBlank);
  return first == kNone || line[first] == ':';
}

// Stage 2 of NormalizeRequest: drops blanked header lines in place; the request
// line, the empty line and everything after the header block stay as they are.
// Returns the new length.
std::size_t DropBlankedHeaderLines(char* buffer, std::size_t length) {
  const std::string_view text = TextOf(buffer, length);
  const std::size_t requestLineEnd = text.find("\r\n");
  if (requestLineEnd == kNone || requestLineEnd == 0) return length;
  std::size_t read = requestLineEnd + 2;
  std::size_t write = read;
  for (;;) {
    const std::size_t lineEnd = text.find("\r\n", read);
    if (lineEnd == kNone || lineEnd == read) break;
    const std::size_t next = lineEnd + 2;
    if (!IsBlankedHeaderLine(text.substr(read, lineEnd - read))) {
      if (write != read) std::memmove(buffer + write, buffer + read, next - read);
      write += next - read;
    }
    read = next;
  }
  if (write == read) return length;
  std::memmove(buffer + write, buffer + read, length - read);
  return length - (read - write);
}

}  // namespace

void ParseHostAndPort(const char* text, std::size_t length, std::string& host, int& port,
                      bool& isConnect) {
  const std::string_view request = TextOf(text, length);
  std::string_view method;
  std::string_view target;
  ScanRequestLine(request, method, target);
  isConnect = EqualsNoCase(method, "CONNECT");

  // An absolute-form target, and a CONNECT's authority-form target, name the
  // server themselves; "Host:" is not read then (RFC 9112 3.2.2 and 3.2.3).
  CAuthority authority;
  std::size_t begin = 0;
  std::size_t end = 0;
  if (FindAbsoluteAuthority(target, begin, end))
    authority = SplitAuthority(target.substr(begin, end - begin));
  else if (isConnect)
    authority = SplitAuthority(target);
  else if (const std::size_t valueStart = FindHostValue(request); valueStart != kNone)
    authority = SplitAuthority(TakeHostValue(request, valueStart));
  if (!authority.host.empty()) host.assign(authority.host);
  if (authority.port != 0) port = authority.port;
}

std::string_view GetUrlHost(std::string_view url) {
  std::size_t begin = 0;
  std::size_t end = 0;
  if (!FindAbsoluteAuthority(url, begin, end)) return {};
  return SplitAuthority(url.substr(begin, end - begin)).host;
}

std::string GetRequestUrl(const char* text, std::size_t length, bool anyTarget) {
  const std::string_view request = TextOf(text, length);
  const std::size_t lineEnd = request.find("\r\n");
  if (lineEnd == kNone) return {};
  std::string method;
  std::string target;
  SplitRequestLine(request.data(), lineEnd, method, target);
  if (anyTarget || FindBytes(target, "http://", 0, true) != kNone) return target;
  return {};
}

void SplitRequestLine(const char* line, std::size_t length, std::string& method,
                      std::string& target) {
  const std::string_view text = TextOf(line, length);
  method.clear();
  target.clear();
  const std::size_t blank = text.find(kBlank);
  if (blank == kNone) return;
  method.assign(text.substr(0, blank));
  const std::size_t start = text.find_first_not_of(kBlank, blank);
  if (start == kNone) return;
  const std::size_t end = text.find(kBlank, start);
  target.assign(text.substr(start, end == kNone ? kNone : end - start));
}

void NormalizeRequest(char* text, std::size_t& length) {
  if (text == nullptr) return;
  length = CutTargetToOriginForm(text, length);
  length = DropBlankedHeaderLines(text, length);
  text[length] = 0;
}

void ParseHeaderLine(const char* line, std::size_t length, std::vector<std::string>& names,
                     std::vector<std::string>& values) {
  const std::string_view text = TextOf(line, length);
  const std::size_t colon = text.find(':');
  if (colon == kNone || colon == 0) return;
  std::string_view value = text.substr(colon + 1);
  const std::size_t valueStart = value.find_first_not_of(kBlank);
  if (valueStart == kNone) return;
  value = value.substr(valueStart, value.find_last_not_of(kBlank) - valueStart + 1);
  names.emplace_back(text.substr(0, colon));
  values.emplace_back(value);
}

void ParseFormBody(const char* body, std::size_t length, std::vector<std::string>& names,
                   std::vector<std::string>& values) {
  const std::string_view text = TextOf(body, length);
  const bool onePiece = !text.empty() && text.front() == '&';
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = onePiece ? kNone : text.find('&', start);
    if (end == kNone) end = text.size();
    const std::string_view piece = TrimBlanks(text.substr(start, end - start), " ");
    const std::size_t equals = piece.find('=');
    if (equals != kNone) {
      names.emplace_back(TrimBlanks(piece.substr(0, equals), " "));
      values.emplace_back(TrimBlanks(piece.substr(equals + 1), " "));
    }
    start = end + 1;
  }
}
