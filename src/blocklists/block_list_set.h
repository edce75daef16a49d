// Every enabled block list's names in one read-only matcher: built once, then
// asked whether a request's host is refused.
#pragma once

#include <cstddef>
#include <string_view>

#include "blocklists/domain_set.h"

// What one list gave: block and exception names taken (each name of a hosts line
// counts, repeats too), and lines skipped. Blank lines count nowhere.
struct BlockListCounts {
  std::size_t domains = 0;
  std::size_t exceptions = 0;
  std::size_t skipped = 0;
};

// A name blocks itself and every subdomain; an exception for the host or any of
// its parent domains wins over any block. Adding is not safe alongside lookups:
// build the set fully, then share it read-only (for example behind a
// std::shared_ptr<const CBlockListSet> that is swapped when lists change).
class CBlockListSet {
 public:
  // Reads one list's whole text (LF, CRLF or CR lines, a UTF-8 byte order mark
  // allowed, any size) and adds its names.
  BlockListCounts AddListText(std::string_view text);

  // `host` as a request carries it: any case, maybe a trailing dot, no port,
  // IPv6 without brackets (never blocked: no name holds a colon). True when the
  // host or one of its parent domains is blocked and none of them is an
  // exception. One pass over the host, no allocation, safe from any number of
  // threads at once.
  bool IsBlocked(std::string_view host) const;

  // Distinct names blocked and excepted over every list added.
  std::size_t GetDomainCount() const { return m_blocks.GetSize(); }
  std::size_t GetExceptionCount() const { return m_exceptions.GetSize(); }

  // Bytes held for the names: tables and arenas, spare room included.
  std::size_t GetMemoryBytes() const;
  // Bytes of the distinct names themselves.
  std::size_t GetNameBytes() const;

 private:
  void AddLine(std::string_view line, BlockListCounts& counts);

  CDomainSet m_blocks;
  CDomainSet m_exceptions;
};
