// CUrlHistory operations.
#include "config/url_history.h"

#include <utility>

int CUrlHistory::Count() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return static_cast<int>(m_entries.size());
}

CHeapString CUrlHistory::Get(int index) const {
  std::lock_guard<std::mutex> guard(m_lock);
  if (index < 0 || index >= static_cast<int>(m_entries.size())) return {};
  return m_entries[index];
}

void CUrlHistory::Add(std::string_view url) {
  // The copy is made before the lock: workers must not hold it longer than the list update.
  CHeapString entry(url);
  if (entry.IsEmpty()) return;
  std::lock_guard<std::mutex> guard(m_lock);
  if (m_entries.size() >= kMaxEntries) m_entries.erase(m_entries.begin());
  m_entries.push_back(std::move(entry));
}
