// The panel's HTTP responses: status, body, and the headers every answer carries.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

struct CHttpResponse {
  int status = 200;
  std::string contentType = "text/plain; charset=utf-8";
  std::string body;
  std::vector<std::pair<std::string, std::string>> headers;
  // Set by a handler that has sent its answer itself.
  bool sent = false;
  // Runs once the answer has been sent (the Exit command ends the program then).
  std::function<void()> afterSend;
};

// A fixed plain-text answer; the text never contains anything of the request.
CHttpResponse MakeTextResponse(int status, std::string text);
CHttpResponse MakeJsonResponse(int status, std::string json);

// Status line, the security headers (no sniffing, no framing, the content
// security policy, no caching), Connection: close, Content-Length, and the body
// unless `headOnly`. No cross-origin header is ever sent.
std::string FormatResponse(const CHttpResponse& response, bool headOnly);
