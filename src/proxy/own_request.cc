// Requests addressed to the proxy itself, handed to a handler the application
// installs instead of being forwarded.
#include "proxy/own_request.h"

#include <atomic>
#include <string>
#include <utility>

namespace {

std::atomic<OwnRequestHandler> g_ownRequestHandler{nullptr};

constexpr std::string_view kProgramPage =
    "<!DOCTYPE html>\n"
    "<html><head><meta charset=\"utf-8\"><title>Lumbra</title></head>\n"
    "<body><h1>Lumbra " LUMBRA_VERSION_TEXT
    "</h1>\n"
    "<p>This is the Lumbra filtering proxy. Set it as the browser's HTTP proxy.</p>\n"
    "</body></html>\n";

}  // namespace

void SetOwnRequestHandler(OwnRequestHandler handler) { g_ownRequestHandler.store(handler); }

void HandleOwnRequest(CSocket browser, std::string_view request) {
  const OwnRequestHandler handler = g_ownRequestHandler.load();
  if (handler == nullptr) return AnswerWithProgramPage(std::move(browser), request);
  handler(std::move(browser), request);
}

void AnswerWithProgramPage(CSocket browser, std::string_view request) {
  const bool headOnly = request.starts_with("HEAD ");
  std::string answer =
      "HTTP/1.1 200 OK\r\n"
      "Content-Type: text/html; charset=utf-8\r\n"
      "Cache-Control: no-store\r\n"
      "Connection: close\r\n"
      "Content-Length: " +
      std::to_string(kProgramPage.size()) + "\r\n\r\n";
  if (!headOnly) answer += kProgramPage;
  SendAll(browser.Get(), answer.data(), answer.size());
  CloseAfterAnswer(browser);
}
