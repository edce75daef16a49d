// Fuzzes the reading of the update server's answer: line joining, token
// splitting and the dotted number scan, checking what callers rely on.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "app/update_answer.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::string joined = JoinAnswerLines(input);
  if (joined.find('\n') != std::string::npos || joined.size() > input.size()) std::abort();
  for (const std::string& token : SplitAnswerTokens(joined)) {
    if (token.size() > joined.size()) std::abort();
    if (!token.empty() && (token.front() == '"' || token.back() == '"')) std::abort();
    int numbers[4] = {-1, -1, -1, -1};
    int filled = ScanDottedNumbers(token, numbers);
    if (filled < 0 || filled > 4) std::abort();
    for (int index = filled; index < 4; ++index) {
      if (numbers[index] != -1) std::abort();
    }
  }
  return 0;
}
