// Reading and rewriting the text of HTTP requests received from a browser.
//
// Every function works on a buffer and its length; the caller keeps a 0 byte at
// buffer[length]. The text these functions read ends at the first 0 byte (a NUL
// inside a request ends its text), and no function reads at or beyond `length`.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// The most bytes one receive takes and the filter sees as one piece; a header
// block, of a request or an answer, must fit into it.
inline constexpr std::size_t kMaxPieceSize = 16384;

// Finds the server of a request. An absolute-form target ("http://host:port/...")
// and a CONNECT target ("host:port") name it themselves; any other request is
// routed by its first "Host:" header line (never read from the request line or
// inside a value). The host is given without any port and without the brackets
// of an IPv6 literal; the port only where a valid one (1 to 65535) is named,
// else it is left as it was. `host` is left as it was when nothing names one.
// `isConnect` is set when the method is CONNECT (any letter case), else cleared.
void ParseHostAndPort(const char* text, std::size_t length, std::string& host, int& port,
                      bool& isConnect);

// The request-target of the first line, which must end with "\r\n". With
// `anyTarget` clear only a target containing "http://" (any letter case) is given,
// so origin-form and CONNECT targets give an empty text.
std::string GetRequestUrl(const char* text, std::size_t length, bool anyTarget);

// The host of an absolute URL ("http://user@host:port/path"), without port or
// brackets, letter case as written; empty for any other form.
std::string_view GetUrlHost(std::string_view url);

// Method and request-target of a request line (both empty when the line has no blank).
void SplitRequestLine(const char* line, std::size_t length, std::string& method,
                      std::string& target);

// Prepares a request for a server reached directly: an absolute-form target
// becomes origin form ("http://host:port/p?q" -> "/p?q", no path -> "/"), and
// header lines whose name was blanked out are dropped. Works in place, never
// makes the text longer, keeps every byte after the header block (also bytes
// after a NUL), sets `length` to the new length and writes a 0 after it.
void NormalizeRequest(char* text, std::size_t& length);

// Appends the name and value of one header line (without its line end) when both
// are non-empty. The name keeps its case and leading blanks; blanks around the
// value are dropped.
void ParseHeaderLine(const char* line, std::size_t length, std::vector<std::string>& names,
                     std::vector<std::string>& values);

// Appends the fields of a form body "a=1&b=2" (not URL-decoded); a piece without
// "=" gives nothing, an empty name or value is kept.
void ParseFormBody(const char* body, std::size_t length, std::vector<std::string>& names,
                   std::vector<std::string>& values);
