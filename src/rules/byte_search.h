// Byte searches over traffic and rule texts, sixteen positions at a time.
#pragma once

#include <cstddef>
#include <string_view>

// Leftmost occurrence of `needle` in `haystack` at or after `from`, or npos; an
// empty needle is found at `from`. FindNoCase compares the letters A to Z
// without regard to case; every other byte must be equal.
std::size_t FindNoCase(std::string_view haystack, std::string_view needle, std::size_t from);
std::size_t FindExact(std::string_view haystack, std::string_view needle, std::size_t from);

// True when the text holds one of the letters A to Z.
bool HasCapitalLetter(std::string_view text);
