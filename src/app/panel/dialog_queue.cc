// Message boxes and Yes/No questions waiting for the control panel's page.
#include "app/panel/dialog_queue.h"

#include <algorithm>

CDialogQueue::CDialogQueue(Clock::duration openWindow, Clock::duration questionTimeout)
    : m_openWindow(openWindow), m_questionTimeout(questionTimeout) {}

void CDialogQueue::MarkPolled() {
  std::lock_guard<std::mutex> guard(m_lock);
  m_polled = true;
  m_lastPoll = Clock::now();
}

bool CDialogQueue::IsPageOpenLocked() const {
  return m_polled && Clock::now() - m_lastPoll <= m_openWindow;
}

void CDialogQueue::AddMessage(std::string_view caption, std::string_view text) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (!IsPageOpenLocked()) return;
  if (m_dialogs.size() >= kMaxDialogs) DropOldestMessage();
  m_dialogs.push_back({m_nextId++, std::string(caption), std::string(text), false});
}

void CDialogQueue::DropOldestMessage() {
  const auto oldest = std::find_if(m_dialogs.begin(), m_dialogs.end(),
                                   [](const CPanelDialog& dialog) { return !dialog.yesNo; });
  m_dialogs.erase(oldest != m_dialogs.end() ? oldest : m_dialogs.begin());
}

bool CDialogQueue::AskYesNo(std::string_view caption, std::string_view text) {
  std::unique_lock<std::mutex> lock(m_lock);
  if (!IsPageOpenLocked()) return false;
  if (m_dialogs.size() >= kMaxDialogs) DropOldestMessage();
  const int id = m_nextId++;
  m_dialogs.push_back({id, std::string(caption), std::string(text), true});
  const bool answered =
      m_answered.wait_for(lock, m_questionTimeout, [&] { return m_answers.count(id) != 0; });
  if (!answered) {
    std::erase_if(m_dialogs, [id](const CPanelDialog& dialog) { return dialog.id == id; });
    return false;
  }
  const bool yes = m_answers[id];
  m_answers.erase(id);
  return yes;
}

bool CDialogQueue::Answer(int id, std::string_view answer) {
  {
    std::lock_guard<std::mutex> guard(m_lock);
    const auto dialog = std::find_if(m_dialogs.begin(), m_dialogs.end(),
                                     [id](const CPanelDialog& entry) { return entry.id == id; });
    if (dialog == m_dialogs.end()) return false;
    if (dialog->yesNo) m_answers[id] = answer == "yes";
    m_dialogs.erase(dialog);
  }
  m_answered.notify_all();
  return true;
}

std::vector<CPanelDialog> CDialogQueue::GetPending() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return {m_dialogs.begin(), m_dialogs.end()};
}
