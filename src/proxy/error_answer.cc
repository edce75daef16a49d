// The proxy's own short answers when it cannot pass a request on.
#include "proxy/error_answer.h"

#include <string>

#include "proxy/socket.h"

namespace {

std::string_view ReasonPhrase(int status) {
  switch (status) {
    case 400:
      return "Bad Request";
    case 431:
      return "Request Header Fields Too Large";
    case 504:
      return "Gateway Timeout";
    default:
      return "Bad Gateway";
  }
}

// Host names come from the request: they must never become markup in the page.
std::string EscapeHtml(std::string_view text) {
  std::string escaped;
  escaped.reserve(text.size());
  for (const char c : text) {
    switch (c) {
      case '&':
        escaped += "&amp;";
        break;
      case '<':
        escaped += "&lt;";
        break;
      case '>':
        escaped += "&gt;";
        break;
      case '"':
        escaped += "&quot;";
        break;
      default:
        escaped += c;
    }
  }
  return escaped;
}

}  // namespace

void SendErrorAnswer(int socket, int status, std::string_view host, std::string_view detail) {
  const std::string statusLine = std::to_string(status) + " " + std::string(ReasonPhrase(status));
  std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + statusLine +
                     "</title></head>\n<body><h1>" + statusLine + "</h1>\n<p>";
  if (!host.empty()) page += "Lumbra could not pass the request on to " + EscapeHtml(host) + ". ";
  page += EscapeHtml(detail) + "</p>\n</body></html>\n";
  const std::string answer = "HTTP/1.1 " + statusLine +
                             "\r\nContent-Type: text/html; charset=utf-8\r\n"
                             "Cache-Control: no-store\r\nConnection: close\r\nContent-Length: " +
                             std::to_string(page.size()) + "\r\n\r\n" + page;
  SendAll(socket, answer.data(), answer.size());
}
