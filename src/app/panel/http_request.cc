// The panel's HTTP request: one request per connection, read whole and parsed.
#include "app/panel/http_request.h"

#include "core/ascii.h"
#include "proxy/socket.h"

namespace {

// Header names and methods are tokens (RFC 9110 5.6.2).
bool IsTokenText(std::string_view text) {
  if (text.empty()) return false;
  for (unsigned char c : text) {
    if (c <= 32 || c >= 127) return false;
    if (std::string_view("\"(),/:;<=>?@[\\]{}").find(static_cast<char>(c)) !=
        std::string_view::npos)
      return false;
  }
  return true;
}

// The next line (without its CR LF or LF); `text` moves past it.
std::string_view TakeLine(std::string_view& text) {
  const std::size_t end = text.find('\n');
  std::string_view line = text.substr(0, end);
  text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

// Splits an origin-form ("/path?query") or absolute-form ("http://host/path")
// target (RFC 9112 3.2).
bool SplitTarget(std::string_view target, CHttpRequest& request) {
  if (target.size() > 7 && EqualsNoCase(target.substr(0, 7), "http://")) {
    target.remove_prefix(7);
    const std::size_t slash = target.find('/');
    request.targetAuthority = std::string(target.substr(0, slash));
    target = slash == std::string_view::npos ? std::string_view("/") : target.substr(slash);
  }
  if (target.empty() || target.front() != '/') return false;
  request.path = std::string(target.substr(0, target.find('?')));
  return true;
}

bool ParseRequestLine(std::string_view line, CHttpRequest& request) {
  const std::size_t first = line.find(' ');
  const std::size_t last = line.rfind(' ');
  if (first == std::string_view::npos || last == first) return false;
  const std::string_view method = line.substr(0, first);
  const std::string_view version = line.substr(last + 1);
  if (!IsTokenText(method) || !version.starts_with("HTTP/1.")) return false;
  request.method = std::string(method);
  return SplitTarget(line.substr(first + 1, last - first - 1), request);
}

bool ParseHeaderLine(std::string_view line, CHttpRequest& request) {
  const std::size_t colon = line.find(':');
  if (colon == std::string_view::npos || !IsTokenText(line.substr(0, colon))) return false;
  request.headers.emplace_back(std::string(line.substr(0, colon)),
                               std::string(TrimBlanks(line.substr(colon + 1))));
  return true;
}

// Content-Length: digits only, one value (RFC 9112 6.3); a body framed any other
// way is refused.
RequestReadResult ReadBodyLength(const CHttpRequest& request, std::size_t& length) {
  length = 0;
  if (request.FindHeader("Transfer-Encoding") != nullptr) return RequestReadResult::kMalformed;
  const int count = request.CountHeaders("Content-Length");
  if (count == 0) return RequestReadResult::kComplete;
  const std::string& text = *request.FindHeader("Content-Length");
  if (count > 1 || text.empty()) return RequestReadResult::kMalformed;
  for (char c : text) {
    if (c < '0' || c > '9') return RequestReadResult::kMalformed;
    length = length * 10 + static_cast<std::size_t>(c - '0');
    if (length > kMaxPanelBody) return RequestReadResult::kBodyTooLarge;
  }
  return RequestReadResult::kComplete;
}

}  // namespace

const std::string* CHttpRequest::FindHeader(std::string_view name) const {
  for (const auto& [headerName, value] : headers)
    if (EqualsNoCase(headerName, name)) return &value;
  return nullptr;
}

int CHttpRequest::CountHeaders(std::string_view name) const {
  int count = 0;
  for (const auto& header : headers)
    if (EqualsNoCase(header.first, name)) ++count;
  return count;
}

RequestReadResult ParseRequestHead(std::string_view text, CHttpRequest& request,
                                   std::size_t& bodyStart, std::size_t& bodyLength) {
  const std::size_t size = text.size();
  if (!ParseRequestLine(TakeLine(text), request)) return RequestReadResult::kMalformed;
  for (;;) {
    if (text.empty()) return RequestReadResult::kMalformed;  // no end of the header block
    const std::string_view line = TakeLine(text);
    if (line.empty()) break;
    // Obsolete line folding is refused (RFC 9112 5.2).
    if (line.front() == ' ' || line.front() == '\t') return RequestReadResult::kMalformed;
    if (!ParseHeaderLine(line, request)) return RequestReadResult::kMalformed;
  }
  bodyStart = size - text.size();
  return ReadBodyLength(request, bodyLength);
}

RequestReadResult ReadHttpRequest(int socket, std::string_view received, CHttpRequest& request) {
  std::size_t bodyStart = 0;
  std::size_t bodyLength = 0;
  const RequestReadResult head = ParseRequestHead(received, request, bodyStart, bodyLength);
  if (head != RequestReadResult::kComplete) return head;
  request.body = std::string(received.substr(bodyStart, bodyLength));
  char buffer[4096];
  while (request.body.size() < bodyLength) {
    const std::size_t wanted = std::min(sizeof buffer, bodyLength - request.body.size());
    const ssize_t n = ReceiveSome(socket, buffer, wanted);
    if (n <= 0) return RequestReadResult::kMalformed;
    request.body.append(buffer, static_cast<std::size_t>(n));
  }
  return RequestReadResult::kComplete;
}
