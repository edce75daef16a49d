// Instant filtering: the dialog's state and the rule its answer becomes.
#pragma once

#include <string>
#include <string_view>
#include <vector>

class CUrlHistory;
class CXmlNode;

// The name of the rule that collects the user's instant choices.
inline constexpr char kPersonalRulesName[] = "Personal rules";
// The longest URL the dialog's edit field takes.
inline constexpr std::size_t kMaxInstantUrlLength = 1023;

// The open dialog: at most one at a time, over a snapshot of the URL history.
class CInstantFilterDialog {
 public:
  // Opens the dialog over the history, newest first; false (and nothing taken)
  // while a dialog is open already.
  bool Open(const CUrlHistory& history);
  void Close();
  bool IsOpen() const { return m_open; }
  // The snapshot offered, newest first, empty entries left out.
  const std::vector<std::string>& GetUrls() const { return m_urls; }

 private:
  bool m_open = false;
  std::vector<std::string> m_urls;
};

// Appends `<allow contains="URL"/>` (allow) or `<request contains="URL"/>` to the
// rule named "Personal rules", which is created, enabled, at the end of
// "filterrules" when missing. The URL is cut to the edit field's length, and its
// control characters are percent-encoded so that the saved file holds it. False
// (nothing changed) for an empty URL or a document without a "lumbra" element.
bool AddPersonalRule(CXmlNode& document, std::string_view url, bool allow);
