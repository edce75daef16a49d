// Keeping the block lists: fetched in the background, cached on disk, loaded
// into the set that requests are checked against.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "blocklists/active_block_lists.h"
#include "config/block_list_config.h"

// What the panel shows of one list.
struct CBlockListStatus {
  std::size_t domains = 0;
  std::size_t exceptions = 0;
  std::size_t skipped = 0;
  // When the cached copy was last replaced, in seconds since 1970.
  std::optional<std::int64_t> updatedAt;
  // Why the last fetch failed; empty once one succeeds.
  std::string error;
  bool fetching = false;
};

// Fetches `url` into the file at `path`, replacing it whole only on success; on
// failure says why in `error`. `cancel` turning true ends a fetch under way.
using BlockListFetcher = std::function<bool(const std::string& url, const std::string& path,
                                            const std::atomic<bool>& cancel, std::string& error)>;

// http:// and https:// with libcurl (at most kMaxBlockListBytes, the update check's
// time limits), file:// by copying the file.
bool FetchBlockList(const std::string& url, const std::string& path,
                    const std::atomic<bool>& cancel, std::string& error);
inline constexpr std::uint64_t kMaxBlockListBytes = std::uint64_t{50} << 20;
// A cached copy older than this is fetched again.
inline constexpr std::int64_t kBlockListMaxAgeSeconds = 24 * 60 * 60;

// True for the addresses a list may have: http://, https:// or file:// followed by
// something, no blanks or control characters.
bool IsBlockListUrl(const std::string& url);
// "<configuration folder>/lists/<hash of the url>.txt"; empty without the folder.
std::string GetBlockListCachePath(const std::string& url);

// Owns one background thread, started with the first list, that fetches and
// loads. Every method may be called from any thread and returns at once, except
// the first Configure.
class CBlockListUpdater {
 public:
  explicit CBlockListUpdater(BlockListFetcher fetch = FetchBlockList,
                             CActiveBlockLists& target = GetActiveBlockLists());
  // Ends a fetch under way and waits for the thread.
  ~CBlockListUpdater();
  CBlockListUpdater(const CBlockListUpdater&) = delete;
  CBlockListUpdater& operator=(const CBlockListUpdater&) = delete;

  // Takes the lists of the configuration. The first call loads the cached copies
  // before it returns, so blocking starts with the proxy, network or not; later
  // calls load in the background. Lists without a fresh copy are then fetched, and
  // the copies of lists no longer configured are deleted.
  void Configure(std::vector<CBlockListEntry> lists);
  // Fetches every enabled list now, fresh copies too.
  void UpdateNow();
  // One entry a configured list, in the configuration's order.
  std::vector<CBlockListStatus> GetStatus() const;

 private:
  struct CWork {
    std::vector<CBlockListEntry> lists;
    bool load = false;
    bool fetchAll = false;
  };

  void Run();
  CWork TakeWork();
  void Load(const std::vector<CBlockListEntry>& lists);
  // Fetches the enabled lists that need it; true when any copy changed.
  bool Fetch(const std::vector<CBlockListEntry>& lists, bool all);
  bool FetchOne(const std::string& url);
  void ForgetRemoved(const std::vector<CBlockListEntry>& before,
                     const std::vector<CBlockListEntry>& now);

  BlockListFetcher m_fetch;
  CActiveBlockLists& m_target;
  mutable std::mutex m_lock;
  std::condition_variable m_wake;
  std::vector<CBlockListEntry> m_lists;
  std::map<std::string, CBlockListStatus> m_status;
  bool m_configured = false;
  bool m_loadPending = false;
  bool m_fetchPending = false;
  bool m_fetchAllPending = false;
  std::atomic<bool> m_stopping{false};
  std::thread m_thread;
};
