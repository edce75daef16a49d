// The block lists that requests are checked against: one whole set at a time.
#pragma once

#include <memory>
#include <mutex>
#include <string_view>

class CBlockListSet;

// Holds the set in use. A new set replaces the old one in one step, so a request
// sees either the old lists or the new ones, never half of them; a request that
// is being checked keeps the set it started with alive.
class CActiveBlockLists {
 public:
  void Replace(std::shared_ptr<const CBlockListSet> set);
  // `host` as the request names it (no port). False while no list is loaded.
  bool IsBlocked(std::string_view host) const;

 private:
  mutable std::mutex m_lock;
  std::shared_ptr<const CBlockListSet> m_set;
};

// The program's one set.
CActiveBlockLists& GetActiveBlockLists();
