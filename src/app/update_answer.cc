// Token and number reading for the update server's answer.
#include "app/update_answer.h"

#include <climits>
#include <cstdint>

namespace {

bool IsScanBlank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// One "%d" at `position`; advances past it on success.
bool ScanNumber(std::string_view text, std::size_t& position, int& number) {
  std::size_t at = position;
  while (at < text.size() && IsScanBlank(text[at])) ++at;
  bool negative = false;
  if (at < text.size() && (text[at] == '+' || text[at] == '-')) negative = text[at++] == '-';
  if (at >= text.size() || !IsDigit(text[at])) return false;
  std::int64_t value = 0;
  for (; at < text.size() && IsDigit(text[at]); ++at) {
    if (value <= INT_MAX) value = value * 10 + (text[at] - '0');
  }
  if (negative) value = -value;
  number = static_cast<int>(value < INT_MIN ? INT_MIN : value > INT_MAX ? INT_MAX : value);
  position = at;
  return true;
}

std::string StripQuotes(std::string_view token) {
  while (!token.empty() && token.front() == '"') token.remove_prefix(1);
  while (!token.empty() && token.back() == '"') token.remove_suffix(1);
  return std::string(token);
}

}  // namespace

std::string JoinAnswerLines(std::string_view fileText) {
  std::string joined;
  joined.reserve(fileText.size());
  while (!fileText.empty()) {
    std::size_t end = fileText.find('\n');
    std::string_view line = fileText.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    joined.append(line);
    if (end == std::string_view::npos) break;
    fileText.remove_prefix(end + 1);
  }
  return joined;
}

std::vector<std::string> SplitAnswerTokens(std::string_view text) {
  std::vector<std::string> tokens;
  bool quoted = false;
  std::size_t start = 0;
  for (std::size_t at = 0; at <= text.size(); ++at) {
    if (at < text.size() && text[at] == '"') quoted = !quoted;
    if (at < text.size() && (quoted || text[at] != ';')) continue;
    if (at > start) tokens.push_back(StripQuotes(text.substr(start, at - start)));
    start = at + 1;
  }
  return tokens;
}

int ScanDottedNumbers(std::string_view token, std::span<int> numbers) {
  std::size_t position = 0;
  int filled = 0;
  for (int& number : numbers) {
    if (filled > 0) {
      if (position >= token.size() || token[position] != '.') break;
      ++position;
    }
    if (!ScanNumber(token, position, number)) break;
    ++filled;
  }
  return filled;
}
