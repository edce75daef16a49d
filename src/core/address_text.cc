// Telling IP addresses written as text from host names.
#include "core/address_text.h"

#include "core/ascii.h"

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

bool IsHexDigit(char c) {
  const char lower = AsciiToLower(c);
  return IsDigit(c) || (lower >= 'a' && lower <= 'f');
}

}  // namespace

bool IsIpv4Address(std::string_view text) {
  int parts = 0;
  while (true) {
    std::size_t digits = 0;
    int value = 0;
    while (digits < text.size() && IsDigit(text[digits]) && digits < 3)
      value = value * 10 + (text[digits++] - '0');
    if (digits == 0 || value > 255) return false;
    text.remove_prefix(digits);
    if (++parts == 4) return text.empty();
    if (text.empty() || text.front() != '.') return false;
    text.remove_prefix(1);
  }
}

std::string CanonicalHost(std::string_view host) {
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
    host = host.substr(1, host.size() - 2);
  else if (host.ends_with('.'))
    host.remove_suffix(1);
  return ToLowerAscii(host);
}

bool IsIpv6Address(std::string_view text) {
  std::size_t colons = 0;
  for (const char c : text) {
    if (c == ':')
      ++colons;
    else if (!IsHexDigit(c) && c != '.')
      return false;
  }
  return colons >= 2;
}
