// Header blocks rewritten where their length must change: the codings a request
// accepts, and an answer whose body goes to the browser decoded.
#pragma once

#include <string>
#include <string_view>

// The value of the first header line named `name` (any case) in a whole header
// block, without surrounding blanks; empty when there is none.
std::string_view FindHeaderValue(std::string_view head, std::string_view name);
bool HasHeader(std::string_view head, std::string_view name);

// A request head that accepts exactly `codings`: every Accept-Encoding line (a
// rule may have blanked its value, or the whole line) and Available-Dictionary
// line replaced by one Accept-Encoding line of its own.
std::string WithAcceptEncoding(std::string_view head, std::string_view codings);

// An answer head for the same answer with its body decoded: no Content-Encoding,
// Content-Length or Transfer-Encoding, a strong ETag made weak (the bytes differ
// from the server's), and the new framing: "Transfer-Encoding: chunked" when the
// browser reads chunks (HTTP/1.1), else "Connection: close" in place of any
// Connection line, the body then ending with the connection.
std::string HeadForDecodedBody(std::string_view head, bool chunked);
