// How many browser connections may be open at once.
#include "proxy/connection_slots.h"

#include <algorithm>

void CConnectionSlots::SetCapacityFor(std::size_t descriptorLimit) {
  constexpr std::size_t kFewest = 16;
  const std::size_t usable =
      descriptorLimit > kReservedDescriptors ? descriptorLimit - kReservedDescriptors : 0;
  std::lock_guard guard(m_lock);
  m_capacity = std::max(kFewest, usable / kDescriptorsPerConnection);
}

bool CConnectionSlots::WaitForFree(std::chrono::milliseconds limit) {
  std::unique_lock guard(m_lock);
  return m_freed.wait_for(guard, limit, [this] { return m_taken < m_capacity; });
}

void CConnectionSlots::Take() {
  std::lock_guard guard(m_lock);
  ++m_taken;
}

void CConnectionSlots::Give() {
  {
    std::lock_guard guard(m_lock);
    if (m_taken > 0) --m_taken;
  }
  m_freed.notify_one();
}

CConnectionSlots& GetConnectionSlots() {
  // Never destroyed: detached connections may give their slot back while the
  // process ends.
  static CConnectionSlots* const slots = new CConnectionSlots;
  return *slots;
}
