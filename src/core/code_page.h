// Conversion between the machine's narrow character set and UTF-8.
#pragma once

#include <string>
#include <string_view>

// Texts inside the program are in the narrow set of the locale; files are UTF-8.
// UTF-8 locales and the C/POSIX locale convert as identity, so no byte is lost on
// the way in and out. Other sets go through iconv; characters the target set
// lacks become "?".

// Reads the locale's character set (setlocale(LC_CTYPE, "") and its codeset).
void InitNarrowCharset();
// Chooses the narrow set by iconv name ("CP1252", "CP932"); false when iconv
// does not know it (the previous set stays).
bool SetNarrowCharset(const std::string& name);
std::string GetNarrowCharset();

std::string NarrowToUtf8(std::string_view text);
std::string Utf8ToNarrow(std::string_view text);
