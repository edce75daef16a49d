// Message boxes: standard error plus an optional listener.
#include "core/user_messages.h"

#include <atomic>
#include <cstdio>
#include <mutex>
#include <string>

namespace {

std::mutex g_listenerLock;
MessageListener g_listener;
QuestionListener g_questionListener;
std::atomic<bool> g_echo{true};

void EchoLine(std::string_view caption, std::string_view text, std::string_view suffix) {
  if (!g_echo.load()) return;
  std::string line;
  line.reserve(caption.size() + text.size() + suffix.size() + 3);
  line.append(caption).append(": ").append(text).append(suffix).push_back('\n');
  std::fwrite(line.data(), 1, line.size(), stderr);
}

}  // namespace

void ShowMessageBox(std::string_view caption, std::string_view text) {
  EchoLine(caption, text, "");
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

bool AskYesNo(std::string_view caption, std::string_view text) {
  EchoLine(caption, text, " [yes/no]");
  QuestionListener listener;
  {
    std::lock_guard<std::mutex> guard(g_listenerLock);
    listener = g_questionListener;
  }
  return listener ? listener(caption, text) : false;
}

QuestionListener SetQuestionListener(QuestionListener listener) {
  std::lock_guard<std::mutex> guard(g_listenerLock);
  std::swap(listener, g_questionListener);
  return listener;
}

bool SetMessageEcho(bool echo) { return g_echo.exchange(echo); }
