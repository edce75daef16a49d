// Requests addressed to the proxy itself, handed to a handler the application
// installs instead of being forwarded.
#include "proxy/own_request.h"

#include <poll.h>
#include <sys/socket.h>

#include <atomic>
#include <chrono>
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

// How long a closing connection waits at most for the browser to finish sending.
constexpr std::chrono::milliseconds kDrainTime{2000};

// Ends the sending side, then reads what the browser still sends until it closes
// (for a bounded time), so that closing never discards the answer with a reset.
void CloseAfterAnswer(const CSocket& browser) {
  ::shutdown(browser.Get(), SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + kDrainTime;
  char discard[1024];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{browser.Get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return;
    if (ReceiveSome(browser.Get(), discard, sizeof discard) <= 0) return;
  }
}

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
