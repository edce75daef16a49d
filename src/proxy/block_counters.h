// Counters of blocked requests since start, for the control panel.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

enum class BlockedBy { kRules, kLists };

struct CBlockedHost {
  std::string host;
  std::uint64_t count = 0;
};

struct CBlockCountsView {
  std::uint64_t byRules = 0;
  std::uint64_t byLists = 0;
  // The most blocked hosts, most first (ties by name).
  std::vector<CBlockedHost> topHosts;
};

// Safe from every worker at once. Hosts are counted one by one up to a bound, so
// a page that asks for endless made-up names cannot make the table grow without
// end; beyond it only the totals move.
class CBlockCounters {
 public:
  static constexpr std::size_t kMaxHosts = 10000;

  void Count(BlockedBy by, std::string_view host);
  CBlockCountsView GetView(std::size_t topCount) const;

 private:
  mutable std::mutex m_lock;
  std::uint64_t m_byRules = 0;
  std::uint64_t m_byLists = 0;
  std::unordered_map<std::string, std::uint64_t> m_hosts;
};

// The program's counters.
CBlockCounters& GetBlockCounters();
