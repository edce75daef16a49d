// Collects the message boxes shown while it lives.
#pragma once

#include <string>
#include <vector>

#include "core/user_messages.h"

struct CapturedMessage {
  std::string caption;
  std::string text;
};

class CMessageCapture {
 public:
  CMessageCapture();
  ~CMessageCapture();
  CMessageCapture(const CMessageCapture&) = delete;
  CMessageCapture& operator=(const CMessageCapture&) = delete;

  const std::vector<CapturedMessage>& GetMessages() const { return m_messages; }
  // The texts alone, in the order shown.
  std::vector<std::string> GetTexts() const;
  void Clear() { m_messages.clear(); }

 private:
  std::vector<CapturedMessage> m_messages;
  MessageListener m_previous;
};
