// CAnswerOrder: the answers a browser connection is owed, in the order of its requests.
#include "proxy/answer_order.h"

#include <utility>

#include "proxy/upstream_state.h"

void CAnswerOrder::Expect(CPendingAnswer answer) {
  std::lock_guard lock(m_lock);
  m_owed.push_back(std::move(answer));
}

std::optional<CPendingAnswer> CAnswerOrder::FirstOwedBy(const CUpstreamState* upstream) const {
  std::lock_guard lock(m_lock);
  if (m_closed) return std::nullopt;
  for (const CPendingAnswer& answer : m_owed)
    if (answer.upstream == upstream) return answer;
  return std::nullopt;
}

bool CAnswerOrder::ParkRelay(CUpstreamState& upstream) {
  std::lock_guard lock(m_lock);
  if (m_closed) return false;
  for (const CPendingAnswer& answer : m_owed)
    if (answer.upstream == &upstream) return false;
  upstream.SetRelayParked(true);
  return true;
}

bool CAnswerOrder::ResumeRelay(CUpstreamState& upstream) {
  std::lock_guard lock(m_lock);
  const bool parked = upstream.IsRelayParked();
  upstream.SetRelayParked(false);
  return parked;
}

bool CAnswerOrder::IsRelayParked(const CUpstreamState& upstream) const {
  std::lock_guard lock(m_lock);
  return upstream.IsRelayParked();
}

bool CAnswerOrder::WaitForTurn(const CUpstreamState* upstream) {
  std::unique_lock lock(m_lock);
  m_changed.wait(
      lock, [&] { return m_closed || (!m_owed.empty() && m_owed.front().upstream == upstream); });
  return !m_closed;
}

void CAnswerOrder::Finish(const CUpstreamState* upstream) {
  {
    std::lock_guard lock(m_lock);
    if (m_owed.empty() || m_owed.front().upstream != upstream) return;
    m_owed.erase(m_owed.begin());
  }
  m_changed.notify_all();
}

bool CAnswerOrder::WaitUntilAllAnswered() {
  std::unique_lock lock(m_lock);
  m_changed.wait(lock, [&] { return m_closed || m_owed.empty(); });
  return !m_closed;
}

void CAnswerOrder::Close() {
  {
    std::lock_guard lock(m_lock);
    m_closed = true;
  }
  m_changed.notify_all();
}

bool CAnswerOrder::WaitForClose(std::chrono::milliseconds limit) {
  std::unique_lock lock(m_lock);
  return m_changed.wait_for(lock, limit, [&] { return m_closed; });
}

bool CAnswerOrder::IsClosed() const {
  std::lock_guard lock(m_lock);
  return m_closed;
}

std::size_t CAnswerOrder::GetOwedCount() const {
  std::lock_guard lock(m_lock);
  return m_owed.size();
}
