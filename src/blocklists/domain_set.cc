// A compact hash set of lower-case domain names.
#include "blocklists/domain_set.h"

#include <algorithm>
#include <bit>
#include <limits>

#include "blocklists/block_list_line.h"
#include "blocklists/domain_hash.h"
#include "core/ascii.h"

namespace {

// Slot layout: bits 0-31 the arena offset, 32-39 the length (never 0 for a
// stored name, so a zero slot is empty), 40-63 the top 24 bits of the hash, which
// rule out nearly every other name before its bytes are compared.
constexpr int kLengthShift = 32;
constexpr int kTagShift = 40;
constexpr std::uint64_t kLengthMask = 0xff;
constexpr std::size_t kMinCapacity = 16;
constexpr std::size_t kMaxArenaBytes = std::numeric_limits<std::uint32_t>::max();

std::uint64_t MakeSlot(std::size_t offset, std::size_t length, std::uint64_t hash) {
  return static_cast<std::uint64_t>(offset) | static_cast<std::uint64_t>(length) << kLengthShift |
         (hash >> kTagShift) << kTagShift;
}

std::size_t SlotOffset(std::uint64_t slot) { return static_cast<std::uint32_t>(slot); }

std::size_t SlotLength(std::uint64_t slot) { return (slot >> kLengthShift) & kLengthMask; }

// The smallest table that holds `names` at most three quarters full.
std::size_t CapacityFor(std::size_t names) {
  return std::max(kMinCapacity, std::bit_ceil(names + names / 3 + 1));
}

std::string_view WithoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return name;
}

}  // namespace

bool CDomainSet::Add(std::string_view name) {
  name = WithoutTrailingDot(name);
  if (name.empty() || name.size() > kMaxDomainNameLength) return false;
  if (m_names.size() + name.size() > kMaxArenaBytes) return false;
  const std::uint64_t hash = HashDomainName(name);
  if (ContainsHashed(name, hash)) return false;
  // Each growth doubles the table, which then stands between 3/8 and 3/4 full.
  if (CapacityFor(m_size + 1) > m_slots.size()) Rehash(CapacityFor(m_size + 1));
  const std::size_t offset = m_names.size();
  for (const char c : name) m_names += AsciiToLower(c);
  m_slots[FindSlot(name, hash)] = MakeSlot(offset, name.size(), hash);
  ++m_size;
  return true;
}

bool CDomainSet::Contains(std::string_view name) const {
  name = WithoutTrailingDot(name);
  return ContainsHashed(name, HashDomainName(name));
}

bool CDomainSet::ContainsHashed(std::string_view name, std::uint64_t hash) const {
  if (m_size == 0 || name.empty() || name.size() > kMaxDomainNameLength) return false;
  return m_slots[FindSlot(name, hash)] != 0;
}

void CDomainSet::Reserve(std::size_t names) {
  if (CapacityFor(names) > m_slots.size()) Rehash(CapacityFor(names));
}

void CDomainSet::ShrinkToFit() { m_names.shrink_to_fit(); }

std::size_t CDomainSet::GetMemoryBytes() const {
  return m_slots.capacity() * sizeof(std::uint64_t) + m_names.capacity();
}

std::size_t CDomainSet::FindSlot(std::string_view name, std::uint64_t hash) const {
  // The table is never full, so the probe always meets an empty slot.
  const std::size_t mask = m_slots.size() - 1;
  for (std::size_t index = hash & mask;; index = (index + 1) & mask) {
    const std::uint64_t slot = m_slots[index];
    if (slot == 0 || SlotHolds(slot, name, hash)) return index;
  }
}

bool CDomainSet::SlotHolds(std::uint64_t slot, std::string_view name, std::uint64_t hash) const {
  if (slot >> kTagShift != hash >> kTagShift || SlotLength(slot) != name.size()) return false;
  const char* stored = m_names.data() + SlotOffset(slot);
  for (std::size_t i = 0; i < name.size(); ++i)
    if (AsciiToLower(name[i]) != stored[i]) return false;
  return true;
}

void CDomainSet::Rehash(std::size_t capacity) {
  std::vector<std::uint64_t> old(capacity, 0);
  old.swap(m_slots);
  const std::size_t mask = capacity - 1;
  for (const std::uint64_t slot : old) {
    if (slot == 0) continue;
    const std::string_view name(m_names.data() + SlotOffset(slot), SlotLength(slot));
    std::size_t index = HashDomainName(name) & mask;
    while (m_slots[index] != 0) index = (index + 1) & mask;
    m_slots[index] = slot;
  }
}
