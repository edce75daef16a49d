// Message boxes: standard error plus an optional listener.
#include "core/user_messages.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex g_listenerLock;
MessageListener g_listener;
std::atomic<bool> g_echo{true};

}  // namespace

void ShowMessageBox(std::string_view caption, std::string_view text) {
  if (g_echo.load()) {
    std::string line;
    line.reserve(caption.size() + text.size() + 3);
    line.append(caption).append(": ").append(text).push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stderr);
  }
  MessageListener listener;
  {
    std::lock_guard<std::mutex> guard(g_listenerLock);
    listener = g_listener;
  }
  if (listener) listener(caption, text);
}

void ShowAppMessage(std::string_view text) { ShowMessageBox(kAppCaption, text); }

MessageListener SetMessageListener(MessageListener listener) {
  std::lock_guard<std::mutex> guard(g_listenerLock);
  std::swap(listener, g_listener);
  return listener;
}

bool SetMessageEcho(bool echo) { return g_echo.exchange(echo); }
