// The block lists that requests are checked against: one whole set at a time.
#include "blocklists/active_block_lists.h"

#include <utility>

#include "blocklists/block_list_set.h"

void CActiveBlockLists::Replace(std::shared_ptr<const CBlockListSet> set) {
  std::shared_ptr<const CBlockListSet> old;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    old = std::exchange(m_set, std::move(set));
  }
  // A large old set is freed here, outside the lock, unless a request still holds it.
}

bool CActiveBlockLists::IsBlocked(std::string_view host) const {
  std::shared_ptr<const CBlockListSet> set;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    set = m_set;
  }
  return set && set->IsBlocked(host);
}

CActiveBlockLists& GetActiveBlockLists() {
  static CActiveBlockLists lists;
  return lists;
}
