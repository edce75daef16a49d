// The panel's HTTP responses: status, body, and the headers every answer carries.
#include "app/panel/http_response.h"

namespace {

const char* ReasonPhrase(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 400:
      return "Bad Request";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 409:
      return "Conflict";
    case 413:
      return "Content Too Large";
    default:
      return "Internal Server Error";
  }
}

constexpr char kSecurityHeaders[] =
    "X-Content-Type-Options: nosniff\r\n"
    "X-Frame-Options: DENY\r\n"
    "Content-Security-Policy: default-src 'self'; img-src 'self' data:; style-src 'self'; "
    "script-src 'self'; frame-ancestors 'none'\r\n"
    "Referrer-Policy: no-referrer\r\n"
    "Cache-Control: no-store\r\n"
    "Connection: close\r\n";

}  // namespace

CHttpResponse MakeTextResponse(int status, std::string text) {
  CHttpResponse response;
  response.status = status;
  response.body = std::move(text);
  response.body.push_back('\n');
  return response;
}

CHttpResponse MakeJsonResponse(int status, std::string json) {
  CHttpResponse response;
  response.status = status;
  response.contentType = "application/json";
  response.body = std::move(json);
  return response;
}

std::string FormatResponse(const CHttpResponse& response, bool headOnly) {
  std::string text =
      "HTTP/1.1 " + std::to_string(response.status) + " " + ReasonPhrase(response.status) + "\r\n";
  text += "Content-Type: " + response.contentType + "\r\n";
  text += kSecurityHeaders;
  for (const auto& [name, value] : response.headers) text += name + ": " + value + "\r\n";
  text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n";
  if (!headOnly) text += response.body;
  return text;
}
