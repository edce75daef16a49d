// Every enabled block list's names in one read-only matcher.
#include "blocklists/block_list_set.h"

#include <array>
#include <cstdint>

#include "blocklists/block_list_line.h"
#include "blocklists/domain_hash.h"

namespace {

constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool IsLineBreak(char c) { return c == '\n' || c == '\r'; }

// The suffixes of a host still to look up, gathered so that the memory of all
// their table buckets is fetched at once rather than one cache miss after another.
class CSuffixBatch {
 public:
  explicit CSuffixBatch(const CDomainSet& names, std::string_view host)
      : m_names(names), m_host(host) {}

  bool IsFull() const { return m_count == m_starts.size(); }

  void Add(std::size_t start, std::uint64_t hash) {
    m_names.PrefetchBucket(hash);
    m_starts[m_count] = start;
    m_hashes[m_count] = hash;
    ++m_count;
  }

  // Whether one of the gathered suffixes is in the set; empties the batch.
  bool TakeAnyFound() {
    const std::size_t count = m_count;
    m_count = 0;
    for (std::size_t i = 0; i < count; ++i)
      if (m_names.ContainsHashed(m_host.substr(m_starts[i]), m_hashes[i])) return true;
    return false;
  }

 private:
  const CDomainSet& m_names;
  std::string_view m_host;
  std::array<std::size_t, 8> m_starts{};
  std::array<std::uint64_t, 8> m_hashes{};
  std::size_t m_count = 0;
};

// Whether `host` or one of its parent domains is in `names`. Walks the host from
// its end, hashing as it goes, and looks up each suffix that starts after a dot:
// a bare top-level label is never stored (every name holds a dot).
bool HoldsHostOrParent(const CDomainSet& names, std::string_view host) {
  CSuffixBatch batch(names, host);
  CSuffixHash hash;
  bool passedDot = false;
  for (std::size_t i = host.size(); i > 0; --i) {
    const char c = host[i - 1];
    if (c == '.') {
      if (passedDot) batch.Add(i, hash.Get());
      if (batch.IsFull() && batch.TakeAnyFound()) return true;
      passedDot = true;
    }
    hash.Prepend(c);
  }
  if (passedDot) batch.Add(0, hash.Get());
  return batch.TakeAnyFound();
}

}  // namespace

BlockListCounts CBlockListSet::AddListText(std::string_view text) {
  if (text.starts_with(kByteOrderMark)) text.remove_prefix(kByteOrderMark.size());
  BlockListCounts counts;
  while (!text.empty()) {
    std::size_t end = 0;
    while (end < text.size() && !IsLineBreak(text[end])) ++end;
    AddLine(text.substr(0, end), counts);
    text.remove_prefix(end < text.size() ? end + 1 : end);
  }
  m_blocks.ShrinkToFit();
  m_exceptions.ShrinkToFit();
  return counts;
}

void CBlockListSet::AddLine(std::string_view line, BlockListCounts& counts) {
  std::size_t taken = 0;
  auto take = [&](BlockListLineKind kind, std::string_view name) {
    ++taken;
    (kind == BlockListLineKind::kException ? m_exceptions : m_blocks).Add(name);
  };
  switch (ReadBlockListLine(line, take)) {
    case BlockListLineKind::kBlock:
      counts.domains += taken;
      break;
    case BlockListLineKind::kException:
      counts.exceptions += taken;
      break;
    case BlockListLineKind::kSkipped:
      ++counts.skipped;
      break;
    case BlockListLineKind::kNothing:
      break;
  }
}

bool CBlockListSet::IsBlocked(std::string_view host) const {
  // Without lists, as most configurations are, a request costs no hashing.
  if (m_blocks.IsEmpty()) return false;
  if (!host.empty() && host.back() == '.') host.remove_suffix(1);
  // Exceptions are few and rarely hit, so they are tested only for a blocked host.
  if (!HoldsHostOrParent(m_blocks, host)) return false;
  return m_exceptions.IsEmpty() || !HoldsHostOrParent(m_exceptions, host);
}

std::size_t CBlockListSet::GetMemoryBytes() const {
  return m_blocks.GetMemoryBytes() + m_exceptions.GetMemoryBytes();
}

std::size_t CBlockListSet::GetNameBytes() const {
  return m_blocks.GetNameBytes() + m_exceptions.GetNameBytes();
}
