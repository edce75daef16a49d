// Percent-encoding of the control characters in a URL, and decoding of escapes.
#pragma once

#include <string>
#include <string_view>

// The text with every control byte (0x00 to 0x1F and 0x7F) written as "%XX" in
// upper-case hex; every other byte, "%" included, stays. URLs are stored this
// way, since XML cannot carry most control characters.
std::string PercentEncodeControls(std::string_view text);

// The text with every "%XX" replaced by its byte. False (and `decoded` unusable)
// for a "%" without two hex digits after it, and for "%00", which no path may hold.
bool PercentDecode(std::string_view text, std::string& decoded);
