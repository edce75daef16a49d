// Port numbers written as text: one reading of the digits, for request targets,
// the options form and the configuration file.
#include "proxy/port_text.h"

#include <cctype>

namespace {

constexpr int kMaxPort = 65535;

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

int ParsePort(std::string_view digits) {
  if (digits.empty()) return 0;
  int value = 0;
  for (char c : digits) {
    if (!IsDigit(c)) return 0;
    value = value * 10 + (c - '0');
    if (value > kMaxPort) return 0;
  }
  return value;
}

long ParsePortText(std::string_view text) {
  std::size_t start = 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start]))) ++start;
  // A minus sign makes any number negative or zero: no port either way.
  if (start < text.size() && text[start] == '-') return 0;
  if (start < text.size() && text[start] == '+') ++start;
  std::size_t end = start;
  while (end < text.size() && IsDigit(text[end])) ++end;
  return ParsePort(text.substr(start, end - start));
}
