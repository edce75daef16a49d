// Reading the update server's answer to the version request.
#pragma once

#include <span>
#include <string>
#include <string_view>
#include <vector>

// The answer file's lines joined without separators (line ends LF or CR LF).
std::string JoinAnswerLines(std::string_view fileText);

// Splits the joined answer at ";" characters outside double quotes. Empty
// tokens (also from a leading or trailing ";") are dropped and take no
// position; double quotes at both ends of each token are removed.
std::vector<std::string> SplitAnswerTokens(std::string_view text);

// Reads decimal numbers separated by single dots into `numbers`, as the scan
// pattern "%d.%d..." does: blanks before each number are skipped, a sign is
// allowed, and reading stops at the first mismatch. Returns how many numbers
// were filled; the others keep their values. Out-of-range numbers saturate.
int ScanDottedNumbers(std::string_view token, std::span<int> numbers);
