// Fuzzes block list loading and lookups: every name a line gives is then
// blocked with its subdomains unless an exception was taken, every exception
// host is never blocked, and the counts match the names taken.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "blocklists/block_list_line.h"
#include "blocklists/block_list_set.h"

namespace {

struct TakenNames {
  std::vector<std::string_view> blocks;
  std::vector<std::string_view> exceptions;
};

// The lines as the set reads them: split at CR and LF, a byte order mark dropped.
TakenNames ReadLines(std::string_view text) {
  if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
  TakenNames taken;
  auto take = [&](BlockListLineKind kind, std::string_view name) {
    if (name.empty() || name.size() > kMaxDomainNameLength || !IsBlockListName(name)) std::abort();
    (kind == BlockListLineKind::kException ? taken.exceptions : taken.blocks).push_back(name);
  };
  for (std::size_t start = 0; start <= text.size();) {
    std::size_t end = text.find_first_of("\r\n", start);
    if (end == std::string_view::npos) end = text.size();
    ReadBlockListLine(text.substr(start, end - start), take);
    start = end + 1;
  }
  return taken;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CBlockListSet lists;
  const BlockListCounts counts = lists.AddListText(text);
  const TakenNames taken = ReadLines(text);
  if (counts.domains != taken.blocks.size() || counts.exceptions != taken.exceptions.size())
    std::abort();
  if (lists.GetDomainCount() > taken.blocks.size()) std::abort();
  for (const std::string_view name : taken.blocks) {
    if (taken.exceptions.empty() && !lists.IsBlocked("sub." + std::string(name) + "."))
      std::abort();
  }
  for (const std::string_view name : taken.exceptions)
    if (lists.IsBlocked(name)) std::abort();
  // Every slice of the input as a host: lookups must stay inside it.
  for (std::size_t start = 0; start < size; start += 1 + start / 4)
    lists.IsBlocked(text.substr(start, size - start));
  return 0;
}
