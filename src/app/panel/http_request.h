// The panel's HTTP request: one request per connection, read whole and parsed.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The largest body the panel reads; anything longer is refused.
inline constexpr std::size_t kMaxPanelBody = 64 * 1024;

struct CHttpRequest {
  std::string method;
  // The path of the target without query; for an absolute-form target (a request
  // sent through the proxy to itself) the authority goes to `targetAuthority`.
  std::string path;
  std::string targetAuthority;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;

  // The value of the first header of that name (ignoring case), or nullptr.
  const std::string* FindHeader(std::string_view name) const;
  // How many headers carry that name.
  int CountHeaders(std::string_view name) const;
};

enum class RequestReadResult { kComplete, kMalformed, kBodyTooLarge };

// Parses the request line and the header block in `text` (which must hold the
// whole block). On kComplete `bodyStart` is the offset of the first body byte
// and `bodyLength` the declared Content-Length.
RequestReadResult ParseRequestHead(std::string_view text, CHttpRequest& request,
                                   std::size_t& bodyStart, std::size_t& bodyLength);

// Parses `received` and reads the rest of the body from `socket` (bounded by
// kMaxPanelBody and the socket's receive timeout).
RequestReadResult ReadHttpRequest(int socket, std::string_view received, CHttpRequest& request);
