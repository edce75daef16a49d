// Block lists: loading a 200,000-domain hosts file, its memory per domain, and
// host lookups for hits and misses, each against a std::unordered_set<std::string>
// of the same names measured in the same run.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <algorithm>
#include <array>
#include <functional>
#include <random>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "blocklists/block_list_set.h"
#include "core/ascii.h"

namespace {

constexpr int kDomainCount = 200000;
constexpr std::size_t kHostCount = 8192;
constexpr std::array<std::string_view, 6> kTopLevels = {"com", "net", "org", "io", "de", "info"};

std::string RandomLabel(std::mt19937& random) {
  constexpr std::string_view kBytes = "abcdefghijklmnopqrstuvwxyz0123456789-";
  std::string label(4 + random() % 9, 'a');
  for (std::size_t i = 0; i < label.size(); ++i)
    label[i] = kBytes[random() % (i == 0 || i + 1 == label.size() ? 26 : kBytes.size())];
  return label;
}

// Names of two and three labels, as block lists hold them.
const std::vector<std::string>& Domains() {
  static const std::vector<std::string> domains = [] {
    std::mt19937 random(11);
    std::vector<std::string> names;
    for (int i = 0; i < kDomainCount; ++i) {
      std::string name = RandomLabel(random) + "." + std::string(kTopLevels[random() % 6]);
      if (i % 2 == 1) name = RandomLabel(random) + "." + name;
      names.push_back(name);
    }
    return names;
  }();
  return domains;
}

const std::string& HostsFile() {
  static const std::string text = [] {
    std::string file = "# generated hosts file\n127.0.0.1 localhost\n::1 ip6-localhost\n\n";
    for (const std::string& name : Domains()) file += "0.0.0.0 " + name + "\n";
    return file;
  }();
  return text;
}

// Hosts of 2 to 6 labels: subdomains of listed names, or names nowhere in the list.
std::vector<std::string> MakeHosts(bool hits) {
  std::mt19937 random(hits ? 21 : 22);
  std::vector<std::string> hosts;
  while (hosts.size() < kHostCount) {
    const std::size_t labels = 2 + random() % 5;
    std::string host = hits ? Domains()[random() % Domains().size()]
                            : "miss-" + RandomLabel(random) + "." + std::string(kTopLevels[0]);
    const std::size_t held =
        static_cast<std::size_t>(std::count(host.begin(), host.end(), '.')) + 1;
    if (held > labels) continue;
    for (std::size_t i = held; i < labels; ++i) host = RandomLabel(random) + "." + host;
    hosts.push_back(host);
  }
  return hosts;
}

const std::vector<std::string>& Hosts(bool hits) {
  static const std::vector<std::string> hitHosts = MakeHosts(true);
  static const std::vector<std::string> missHosts = MakeHosts(false);
  return hits ? hitHosts : missHosts;
}

const CBlockListSet& LoadedSet() {
  static const CBlockListSet set = [] {
    CBlockListSet lists;
    lists.AddListText(HostsFile());
    return lists;
  }();
  return set;
}

// The plain way: every name in a node of its own, looked up through string views.
struct CViewHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view text) const {
    return std::hash<std::string_view>()(text);
  }
};
using CBaselineSet = std::unordered_set<std::string, CViewHash, std::equal_to<>>;

const CBaselineSet& BaselineSet() {
  static const CBaselineSet set(Domains().begin(), Domains().end());
  return set;
}

// The host lower-cased into a stack buffer, then each suffix after a dot looked up.
bool BaselineIsBlocked(const CBaselineSet& set, std::string_view host) {
  std::array<char, 256> lower;
  if (host.size() > lower.size()) return false;
  std::transform(host.begin(), host.end(), lower.begin(), AsciiToLower);
  const std::string_view folded(lower.data(), host.size());
  if (set.contains(folded)) return true;
  for (std::size_t dot = folded.find('.'); dot != std::string_view::npos;
       dot = folded.find('.', dot + 1))
    if (set.contains(folded.substr(dot + 1))) return true;
  return false;
}

std::size_t HeapBytesInUse() { return mallinfo2().uordblks; }

// Memory per domain beyond the names' own bytes: from the set's own accounting
// and from the heap in use before and after building it.
void BM_LoadHostsFile200k(benchmark::State& state) {
  const std::string& text = HostsFile();
  std::size_t heapBytes = 0;
  std::size_t accountedBytes = 0;
  std::size_t nameBytes = 0;
  std::size_t domains = 0;
  for (auto _ : state) {
    const std::size_t heapBefore = HeapBytesInUse();
    CBlockListSet lists;
    lists.AddListText(text);
    heapBytes = HeapBytesInUse() - heapBefore;
    accountedBytes = lists.GetMemoryBytes();
    nameBytes = lists.GetNameBytes();
    domains = lists.GetDomainCount();
    benchmark::DoNotOptimize(domains);
  }
  const auto perDomain = [&](std::size_t bytes) {
    return static_cast<double>(bytes) / static_cast<double>(domains);
  };
  state.counters["domains"] = static_cast<double>(domains);
  state.counters["name_bytes_per_domain"] = perDomain(nameBytes);
  state.counters["extra_bytes_per_domain"] = perDomain(accountedBytes - nameBytes);
  state.counters["heap_extra_bytes_per_domain"] = perDomain(heapBytes - nameBytes);
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * text.size()));
}

// The same names, already split, into the plain set (no line reading at all).
void BM_Baseline_LoadUnorderedSet200k(benchmark::State& state) {
  std::size_t heapBytes = 0;
  std::size_t nameBytes = 0;
  for (const std::string& name : Domains()) nameBytes += name.size();
  for (auto _ : state) {
    const std::size_t heapBefore = HeapBytesInUse();
    CBaselineSet set(Domains().begin(), Domains().end());
    heapBytes = HeapBytesInUse() - heapBefore;
    benchmark::DoNotOptimize(set.size());
  }
  state.counters["heap_extra_bytes_per_domain"] =
      static_cast<double>(heapBytes - nameBytes) / static_cast<double>(Domains().size());
}

template <typename Lookup>
void RunLookups(benchmark::State& state, bool hits, Lookup lookup) {
  const std::vector<std::string>& hosts = Hosts(hits);
  std::size_t index = 0;
  benchmark::IterationCount blocked = 0;
  for (auto _ : state) {
    blocked += lookup(hosts[index]) ? 1 : 0;
    index = (index + 1) % hosts.size();
  }
  if (blocked != (hits ? state.iterations() : 0)) state.SkipWithError("wrong lookup result");
  state.counters["lookups"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BM_Lookup_Hits(benchmark::State& state) {
  RunLookups(state, true, [&](std::string_view host) { return LoadedSet().IsBlocked(host); });
}

void BM_Lookup_Misses(benchmark::State& state) {
  RunLookups(state, false, [&](std::string_view host) { return LoadedSet().IsBlocked(host); });
}

void BM_Baseline_UnorderedSet_Hits(benchmark::State& state) {
  RunLookups(state, true,
             [&](std::string_view host) { return BaselineIsBlocked(BaselineSet(), host); });
}

void BM_Baseline_UnorderedSet_Misses(benchmark::State& state) {
  RunLookups(state, false,
             [&](std::string_view host) { return BaselineIsBlocked(BaselineSet(), host); });
}

}  // namespace

BENCHMARK(BM_LoadHostsFile200k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Baseline_LoadUnorderedSet200k)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Lookup_Hits);
BENCHMARK(BM_Lookup_Misses);
BENCHMARK(BM_Baseline_UnorderedSet_Hits);
BENCHMARK(BM_Baseline_UnorderedSet_Misses);
