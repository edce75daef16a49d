// Port numbers written as text: one reading of the digits, for request targets,
// the options form and the configuration file.
#pragma once

#include <string_view>

// A TCP port written in decimal digits only (leading zeros allowed), from 1 to
// 65535; 0 for any other text.
int ParsePort(std::string_view digits);

// A port setting of the configuration file, read as atol reads it (leading
// blanks, a sign, then the leading digits; whatever follows them ends the
// number), so that the file may hold any text: 0 for no digits, a negative
// value or one beyond 65535.
long ParsePortText(std::string_view text);
