// Message capture for tests.
#include "support/message_capture.h"

CMessageCapture::CMessageCapture() {
  m_previous = SetMessageListener([this](std::string_view caption, std::string_view text) {
    m_messages.push_back({std::string(caption), std::string(text)});
  });
}

CMessageCapture::~CMessageCapture() { SetMessageListener(std::move(m_previous)); }

std::vector<std::string> CMessageCapture::GetTexts() const {
  std::vector<std::string> texts;
  for (const CapturedMessage& message : m_messages) texts.push_back(message.text);
  return texts;
}
