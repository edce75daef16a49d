// A compact hash set of lower-case domain names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Every name's bytes lie in one arena; the table holds 8-byte slots (arena
// offset, length and 24 bits of the hash) with linear probing, at most three
// quarters full. Names are stored lower-cased (ASCII letters only) and looked
// up in any case without a copy. Reading is safe from many threads at once as
// long as nothing is added meanwhile.
class CDomainSet {
 public:
  // Adds `name` lower-cased, without one trailing dot. False when it was there
  // already, or cannot be stored: empty, longer than 253 bytes (no DNS name is),
  // or past the 4 GiB the arena offsets can address.
  bool Add(std::string_view name);

  // `name` in any case, with or without one trailing dot.
  bool Contains(std::string_view name) const;
  // The same for a name without a trailing dot and its HashDomainName, for
  // callers that hash many names in one pass.
  bool ContainsHashed(std::string_view name, std::uint64_t hash) const;

  // Starts fetching the slot where a name of this hash would begin its search,
  // so that several lookups can wait on memory at once.
  void PrefetchSlot(std::uint64_t hash) const {
    if (!m_slots.empty()) __builtin_prefetch(&m_slots[hash & (m_slots.size() - 1)]);
  }

  std::size_t GetSize() const { return m_size; }
  bool IsEmpty() const { return m_size == 0; }

  // Room for `names` names in all without growing the table.
  void Reserve(std::size_t names);
  // Gives back the arena's spare room once names stop coming.
  void ShrinkToFit();

  // Bytes held by the table and the arena, spare room included.
  std::size_t GetMemoryBytes() const;
  // Bytes of the names themselves.
  std::size_t GetNameBytes() const { return m_names.size(); }

 private:
  // The slot holding `name`, or the empty slot where it would go.
  std::size_t FindSlot(std::string_view name, std::uint64_t hash) const;
  bool SlotHolds(std::uint64_t slot, std::string_view name, std::uint64_t hash) const;
  void Rehash(std::size_t capacity);

  std::vector<std::uint64_t> m_slots;  // 0: empty; a power of two of them
  std::string m_names;
  std::size_t m_size = 0;
};
