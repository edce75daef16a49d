// The process-wide table of interned texts behind CPooledString.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string_view>
#include <vector>

// Stores every distinct text once for the life of the pool. Open addressing with
// the h*33+b hash and downward probing; the table grows to twice its size when it
// would become more than half full.
//
// Lookups of texts already stored take no lock: slots only ever go from empty to
// filled, and a grown table is published as a whole, so a reader sees either the
// old or the new table, both consistent. Only insertion takes the mutex. Replaced
// tables are kept until the pool dies, since a reader may still be probing them.
class CStringPool {
 public:
  static constexpr std::size_t kInitialCapacity = 64;

  CStringPool() = default;
  ~CStringPool();
  CStringPool(const CStringPool&) = delete;
  CStringPool& operator=(const CStringPool&) = delete;

  // The stored copy of `text`, added when new; nullptr for a missing text or when
  // memory is exhausted. The returned pointer stays valid as long as the pool.
  const char* Intern(const char* text);
  const char* Intern(std::string_view text);

  // The stored copy when present, without adding it.
  const char* Lookup(std::string_view text) const;

  // Texts stored; the pool never shrinks, so a rising count is memory kept for good.
  std::size_t GetCount() const;

  static std::uint32_t Hash(std::string_view text);

  // Length of a text returned by Intern, without scanning it.
  static std::size_t StoredLength(const char* stored);

 private:
  struct Entry;
  struct Table {
    explicit Table(std::size_t capacity);
    std::size_t capacity;
    std::unique_ptr<std::atomic<Entry*>[]> slots;
  };

  static std::ptrdiff_t Probe(const Table& table, std::string_view text, std::uint32_t hash,
                              Entry** found);
  void Grow();

  std::atomic<Table*> m_table{nullptr};
  std::vector<std::unique_ptr<Table>> m_tables;  // the current one last
  std::size_t m_count = 0;
  std::size_t m_threshold = 0;
  mutable std::mutex m_insertLock;
};

// The one pool of the process. Never destroyed: detached worker threads may still
// hold pooled strings while the process exits.
CStringPool& GetStringPool();
