// Keeping the block lists: fetched in the background, cached on disk, loaded
// into the set that requests are checked against.
#include "app/block_list_updater.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <set>
#include <utility>

#include "app/url_download.h"
#include "blocklists/block_list_set.h"
#include "config/config_store.h"
#include "core/ascii.h"
#include "core/percent_encoding.h"
#include "platform/directory.h"
#include "platform/file_copy.h"
#include "platform/file_status.h"

namespace {

constexpr std::string_view kFileScheme = "file://";
// Lists are fetched again after a day, also while the program keeps running.
constexpr auto kRecheckInterval = std::chrono::hours(1);

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

// The local path of a file:// address ("file:///p" or "file://localhost/p"),
// percent escapes decoded; empty when it names another machine or is malformed.
std::string FilePathOf(std::string_view url) {
  std::string_view rest = url.substr(kFileScheme.size());
  if (StartsWithNoCase(rest, "localhost/")) rest.remove_prefix(9);
  std::string path;
  if (rest.empty() || rest.front() != '/' || !PercentDecode(rest, path)) return {};
  return path;
}

bool CopyLocalList(std::string_view url, const std::string& path, std::string& error) {
  const std::string source = FilePathOf(url);
  std::error_code failure;
  const auto size = source.empty() ? 0 : std::filesystem::file_size(source, failure);
  if (source.empty()) {
    error = "A file address must name a file on this machine.";
  } else if (failure) {
    error = "The file cannot be read: " + failure.message() + ".";
  } else if (size > kMaxBlockListBytes) {
    error = "The file is larger than allowed.";
  } else if (!CopyFile(source, path)) {
    error = "The file could not be copied.";
  } else {
    return true;
  }
  return false;
}

bool IsStale(const std::string& path) {
  const std::optional<std::int64_t> modified = GetFileModifiedTime(path);
  return !modified || std::time(nullptr) - *modified >= kBlockListMaxAgeSeconds;
}

}  // namespace

bool FetchBlockList(const std::string& url, const std::string& path,
                    const std::atomic<bool>& cancel, std::string& error) {
  if (StartsWithNoCase(url, kFileScheme)) return CopyLocalList(url, path, error);
  DownloadLimits limits{10, 60, kMaxBlockListBytes};
  limits.cancel = &cancel;
  return DownloadUrlToFileWithReason(url, path, limits, error);
}

bool IsBlockListUrl(const std::string& url) {
  for (const char c : url)
    if (static_cast<unsigned char>(c) <= ' ' || c == 0x7F) return false;
  for (const std::string_view scheme : {"http://", "https://", "file://"})
    if (StartsWithNoCase(url, scheme) && url.size() > scheme.size()) return true;
  return false;
}

std::string GetBlockListCachePath(const std::string& url) {
  const std::string folder = GetConfigFolder();
  if (folder.empty()) return {};
  // FNV-1a: the name only has to tell a few addresses apart, not resist anyone.
  std::uint64_t hash = 0xcbf29ce484222325ULL;
  for (const unsigned char c : url) hash = (hash ^ c) * 0x100000001b3ULL;
  char name[17];
  std::snprintf(name, sizeof name, "%016llx", static_cast<unsigned long long>(hash));
  return folder + "/lists/" + name + ".txt";
}

CBlockListUpdater::CBlockListUpdater(BlockListFetcher fetch, CActiveBlockLists& target)
    : m_fetch(std::move(fetch)), m_target(target) {}

CBlockListUpdater::~CBlockListUpdater() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_stopping = true;
  }
  m_wake.notify_all();
  if (m_thread.joinable()) m_thread.join();
}

void CBlockListUpdater::Configure(std::vector<CBlockListEntry> lists) {
  std::vector<CBlockListEntry> before;
  bool first = false;
  {
    std::lock_guard<std::mutex> hold(m_lock);
    before = std::exchange(m_lists, lists);
    first = !m_configured;
    m_configured = true;
    m_loadPending = !first;
    m_fetchPending = true;
  }
  ForgetRemoved(before, lists);
  if (first) Load(lists);
  // Without a list there is nothing to fetch or load again: no thread until there is.
  if (!m_thread.joinable() && !lists.empty()) m_thread = std::thread(&CBlockListUpdater::Run, this);
  m_wake.notify_all();
}

void CBlockListUpdater::UpdateNow() {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_fetchAllPending = true;
  }
  m_wake.notify_all();
}

std::vector<CBlockListStatus> CBlockListUpdater::GetStatus() const {
  std::lock_guard<std::mutex> hold(m_lock);
  std::vector<CBlockListStatus> status;
  for (const CBlockListEntry& list : m_lists) {
    const auto found = m_status.find(list.url);
    status.push_back(found != m_status.end() ? found->second : CBlockListStatus{});
    if (!list.enabled) status.back().domains = status.back().exceptions = 0;
  }
  return status;
}

void CBlockListUpdater::Run() {
  while (!m_stopping) {
    const CWork work = TakeWork();
    if (m_stopping) return;
    if (work.load) Load(work.lists);
    if (Fetch(work.lists, work.fetchAll) && !m_stopping) Load(work.lists);
  }
}

CBlockListUpdater::CWork CBlockListUpdater::TakeWork() {
  std::unique_lock<std::mutex> hold(m_lock);
  const bool woken = m_wake.wait_for(hold, kRecheckInterval, [this] {
    return m_stopping || m_loadPending || m_fetchPending || m_fetchAllPending;
  });
  CWork work{m_lists, m_loadPending, m_fetchAllPending};
  // Waking after the interval with nothing asked: fetch what has grown stale.
  if (!woken) m_fetchPending = true;
  m_loadPending = m_fetchPending = m_fetchAllPending = false;
  return work;
}

void CBlockListUpdater::Load(const std::vector<CBlockListEntry>& lists) {
  auto set = std::make_shared<CBlockListSet>();
  std::map<std::string, CBlockListStatus> loaded;
  for (const CBlockListEntry& list : lists) {
    if (!list.enabled || loaded.count(list.url) != 0) continue;
    const std::string path = GetBlockListCachePath(list.url);
    const BlockListCounts taken = set->AddListText(ReadFileContent(path));
    CBlockListStatus& status = loaded[list.url];
    status.domains = taken.domains;
    status.exceptions = taken.exceptions;
    status.skipped = taken.skipped;
    status.updatedAt = GetFileModifiedTime(path);
  }
  m_target.Replace(std::move(set));
  std::lock_guard<std::mutex> hold(m_lock);
  for (const auto& [url, fresh] : loaded) {
    CBlockListStatus& status = m_status[url];
    status.domains = fresh.domains;
    status.exceptions = fresh.exceptions;
    status.skipped = fresh.skipped;
    status.updatedAt = fresh.updatedAt;
  }
}

bool CBlockListUpdater::Fetch(const std::vector<CBlockListEntry>& lists, bool all) {
  std::set<std::string> done;
  bool changed = false;
  for (const CBlockListEntry& list : lists) {
    if (m_stopping) return changed;
    if (!list.enabled || !done.insert(list.url).second) continue;
    if (!all && !IsStale(GetBlockListCachePath(list.url))) continue;
    changed = FetchOne(list.url) || changed;
  }
  return changed;
}

bool CBlockListUpdater::FetchOne(const std::string& url) {
  {
    std::lock_guard<std::mutex> hold(m_lock);
    m_status[url].fetching = true;
  }
  const std::string path = GetBlockListCachePath(url);
  std::string error;
  bool fetched = false;
  if (path.empty() || !CreateDirectories(std::filesystem::path(path).parent_path())) {
    error = "The folder for the lists cannot be created.";
  } else {
    fetched = m_fetch(url, path, m_stopping, error);
  }
  std::lock_guard<std::mutex> hold(m_lock);
  CBlockListStatus& status = m_status[url];
  status.fetching = false;
  status.error = fetched ? std::string() : error;
  return fetched;
}

void CBlockListUpdater::ForgetRemoved(const std::vector<CBlockListEntry>& before,
                                      const std::vector<CBlockListEntry>& now) {
  std::set<std::string> kept;
  for (const CBlockListEntry& list : now) kept.insert(list.url);
  for (const CBlockListEntry& list : before) {
    if (kept.count(list.url) != 0) continue;
    std::error_code ignored;
    std::filesystem::remove(GetBlockListCachePath(list.url), ignored);
    std::lock_guard<std::mutex> hold(m_lock);
    m_status.erase(list.url);
  }
}
