// Message boxes and Yes/No questions waiting for the control panel's page.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

struct CPanelDialog {
  int id = 0;
  std::string caption;
  std::string text;
  bool yesNo = false;
};

// A page counts as open while it polled within the open window. Messages shown
// while no page is open reach standard error only; questions asked then are
// answered "no" at once, since nobody could answer them.
class CDialogQueue {
 public:
  using Clock = std::chrono::steady_clock;

  // The most dialogs kept; the oldest message boxes go first beyond it.
  static constexpr std::size_t kMaxDialogs = 64;

  explicit CDialogQueue(Clock::duration openWindow = std::chrono::seconds(5),
                        Clock::duration questionTimeout = std::chrono::minutes(10));

  // A page polled now.
  void MarkPolled();

  // Queues a message box for the page, when one is open.
  void AddMessage(std::string_view caption, std::string_view text);
  // Queues a Yes/No question and waits for the page's answer; "no" when no page
  // is open, when the wait times out, or when the answer is not "yes".
  bool AskYesNo(std::string_view caption, std::string_view text);
  // Answers dialog `id` ("ok", "yes" or "no"); false when there is no such dialog.
  bool Answer(int id, std::string_view answer);

  // The dialogs waiting, oldest first.
  std::vector<CPanelDialog> GetPending() const;

 private:
  bool IsPageOpenLocked() const;
  void DropOldestMessage();

  const Clock::duration m_openWindow;
  const Clock::duration m_questionTimeout;
  mutable std::mutex m_lock;
  std::condition_variable m_answered;
  std::deque<CPanelDialog> m_dialogs;
  // Answers of questions not yet collected by their askers.
  std::map<int, bool> m_answers;
  int m_nextId = 1;
  bool m_polled = false;
  Clock::time_point m_lastPoll;
};
