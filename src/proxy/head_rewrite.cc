// Header blocks rewritten where their length must change.
#include "proxy/head_rewrite.h"

#include "core/ascii.h"

namespace {

// One line of a header block with its line end ("\r\n" or a bare "\n").
struct CHeadLine {
  std::string_view text;  // without the line end
  std::string_view whole;
};

// Calls `visit` for every header line after the start line, up to the empty line.
template <typename Visit>
void ForEachHeaderLine(std::string_view head, Visit visit) {
  bool startLine = true;
  while (!head.empty()) {
    const std::size_t lf = head.find('\n');
    const std::size_t end = lf == std::string_view::npos ? head.size() : lf + 1;
    CHeadLine line{head.substr(0, end), head.substr(0, end)};
    while (!line.text.empty() && (line.text.back() == '\n' || line.text.back() == '\r'))
      line.text.remove_suffix(1);
    head.remove_prefix(end);
    if (line.text.empty()) return;
    if (!startLine) visit(line);
    startLine = false;
  }
}

std::string_view HeaderName(std::string_view line) {
  const std::size_t colon = line.find(':');
  return colon == std::string_view::npos ? std::string_view() : line.substr(0, colon);
}

std::string_view HeaderValue(std::string_view line) {
  return TrimBlanks(line.substr(line.find(':') + 1));
}

bool NameIs(std::string_view line, std::string_view name) {
  return EqualsNoCase(HeaderName(line), name);
}

// A rule that blanks a header may have blanked its name too ("Accept-Encoding:"
// left as is, or the line turned to blanks); a line of blanks is dropped as well.
bool IsBlankLine(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

// The start line as it came, then the lines `keep` accepts, then `added`, then the
// block's own empty line.
template <typename Keep>
std::string Rebuild(std::string_view head, Keep keep, std::string_view added) {
  std::string rebuilt;
  rebuilt.reserve(head.size() + added.size());
  const std::size_t firstEnd = head.find('\n');
  rebuilt.append(head.substr(0, firstEnd == std::string_view::npos ? head.size() : firstEnd + 1));
  ForEachHeaderLine(head, [&](const CHeadLine& line) {
    if (keep(line.text)) rebuilt.append(line.whole);
  });
  rebuilt.append(added);
  rebuilt.append("\r\n");
  return rebuilt;
}

}  // namespace

std::string_view FindHeaderValue(std::string_view head, std::string_view name) {
  std::string_view found;
  bool seen = false;
  ForEachHeaderLine(head, [&](const CHeadLine& line) {
    if (!seen && NameIs(line.text, name)) {
      found = HeaderValue(line.text);
      seen = true;
    }
  });
  return found;
}

bool HasHeader(std::string_view head, std::string_view name) {
  bool seen = false;
  ForEachHeaderLine(head, [&](const CHeadLine& line) { seen = seen || NameIs(line.text, name); });
  return seen;
}

std::string WithAcceptEncoding(std::string_view head, std::string_view codings) {
  const std::string added = "Accept-Encoding: " + std::string(codings) + "\r\n";
  return Rebuild(
      head,
      [](std::string_view line) {
        return !IsBlankLine(line) && !NameIs(line, "Accept-Encoding") &&
               !NameIs(line, "Available-Dictionary");
      },
      added);
}

std::string HeadForDecodedBody(std::string_view head, bool chunked) {
  std::string rebuilt = Rebuild(
      head,
      [&](std::string_view line) {
        return !NameIs(line, "Content-Encoding") && !NameIs(line, "Content-Length") &&
               !NameIs(line, "Transfer-Encoding") && !NameIs(line, "ETag") &&
               !(NameIs(line, "Connection") && !chunked);
      },
      chunked ? "Transfer-Encoding: chunked\r\n" : "Connection: close\r\n");
  const std::string_view etag = FindHeaderValue(head, "ETag");
  if (!etag.empty()) {
    const std::string weak = etag.starts_with("W/") ? std::string(etag) : "W/" + std::string(etag);
    rebuilt.insert(rebuilt.size() - 2, "ETag: " + weak + "\r\n");
  }
  return rebuilt;
}
