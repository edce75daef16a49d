// A compact hash set of lower-case domain names.
#include "blocklists/domain_set.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <limits>

#include "blocklists/block_list_line.h"
#include "blocklists/domain_hash.h"
#include "core/ascii.h"

// Bucket layout: byte 0 holds flags, byte 1 the number of entries, bytes 2-7
// their tags (8 hash bits each, which rule out nearly every other name before its
// bytes are compared; a lookup tests all six at once), then the entries one after
// another. Flag bit 0 marks a bucket that a search must pass (a name placed
// further on was turned away here); bits 1-7 of a name's first bucket each stand
// for some tags of names that found it full, so that a search for a name it does
// not hold stops there unless its bit is set. An entry packed in place is the
// name's length (1 to kMaxPackedLength), then the name; a longer name's entry is
// kLongMarker, the length and the name's 4-byte offset in the arena.
namespace {

constexpr std::size_t kBucketBytes = 64;
constexpr std::size_t kMaxEntries = 6;
constexpr std::size_t kFirstTag = 2;
constexpr std::size_t kFirstEntry = kFirstTag + kMaxEntries;
constexpr unsigned char kOverflowed = 1;
constexpr std::size_t kMaxPackedLength = 40;
constexpr unsigned char kLongMarker = 0xff;
constexpr std::size_t kLongEntryBytes = 6;
constexpr std::size_t kMaxEntryBytes = 1 + kMaxPackedLength;
constexpr std::size_t kFillPercent = 60;
constexpr std::size_t kMaxArenaBytes = std::numeric_limits<std::uint32_t>::max();
constexpr std::uint64_t kLowBits = 0x0101010101010101ULL;
constexpr std::uint64_t kHighBits = 0x8080808080808080ULL;

using CEntry = std::array<unsigned char, kMaxEntryBytes>;

std::string_view WithoutTrailingDot(std::string_view name) {
  if (!name.empty() && name.back() == '.') name.remove_suffix(1);
  return name;
}

unsigned char TagOf(std::uint64_t hash) { return static_cast<unsigned char>(hash); }
unsigned char TurnedAwayBit(unsigned char tag) {
  return static_cast<unsigned char>(2u << (tag % 7));
}

std::size_t EntryBytes(const unsigned char* entry) {
  return entry[0] == kLongMarker ? kLongEntryBytes : 1 + entry[0];
}

std::uint32_t LongNameOffset(const unsigned char* entry) {
  std::uint32_t offset;
  std::memcpy(&offset, entry + 2, sizeof offset);
  return offset;
}

// `name`, in any case, against stored lower-case bytes of the same length.
bool EqualsStored(std::string_view name, const char* stored) {
  for (std::size_t i = 0; i < name.size(); ++i)
    if (AsciiToLower(name[i]) != stored[i]) return false;
  return true;
}

// Where the bucket's entries end: its first free byte.
std::size_t UsedBytes(const unsigned char* bucket) {
  std::size_t at = kFirstEntry;
  for (std::size_t i = 0; i < bucket[1]; ++i) at += EntryBytes(bucket + at);
  return at;
}

bool HasRoom(const unsigned char* bucket, std::size_t size) {
  return bucket[1] < kMaxEntries && kBucketBytes - UsedBytes(bucket) >= size;
}

void PutEntry(unsigned char* bucket, const unsigned char* entry, std::size_t size,
              unsigned char tag) {
  std::memcpy(bucket + UsedBytes(bucket), entry, size);
  bucket[kFirstTag + bucket[1]] = tag;
  ++bucket[1];
}

// One bit (the top one of its byte) for each entry whose tag is `tag`, and maybe a
// few more that the caller's own comparison rules out.
std::uint64_t EntriesTagged(const unsigned char* bucket, unsigned char tag) {
  std::uint64_t header;
  std::memcpy(&header, bucket, sizeof header);
  // The tags, in the low six bytes; bytes past the entries made unequal to any tag.
  std::uint64_t differences = (header >> (8 * kFirstTag)) ^ (kLowBits * tag);
  differences |= ~std::uint64_t{0} << (8 * bucket[1]);
  return (differences - kLowBits) & ~differences & kHighBits;
}

}  // namespace

bool CDomainSet::Add(std::string_view name) {
  name = WithoutTrailingDot(name);
  if (name.empty() || name.size() > kMaxDomainNameLength) return false;
  const std::uint64_t hash = HashDomainName(name);
  if (ContainsHashed(name, hash)) return false;
  CEntry entry{};
  std::size_t size = 0;
  if (name.size() <= kMaxPackedLength) {
    entry[0] = static_cast<unsigned char>(name.size());
    for (std::size_t i = 0; i < name.size(); ++i)
      entry[1 + i] = static_cast<unsigned char>(AsciiToLower(name[i]));
    size = 1 + name.size();
  } else {
    if (m_longNames.size() + name.size() > kMaxArenaBytes) return false;
    const auto offset = static_cast<std::uint32_t>(m_longNames.size());
    for (const char c : name) m_longNames += AsciiToLower(c);
    entry[0] = kLongMarker;
    entry[1] = static_cast<unsigned char>(name.size());
    std::memcpy(entry.data() + 2, &offset, sizeof offset);
    size = kLongEntryBytes;
  }
  // Each growth doubles the table, which then stands between half and all of its
  // planned fill.
  if (PagesFor(m_entryBytes + size) > m_pages.size())
    Rebuild(PagesFor(2 * (m_entryBytes + size)));
  while (!Place(entry.data(), size, hash)) Rebuild(2 * m_pages.size());
  m_entryBytes += size;
  m_nameBytes += name.size();
  ++m_size;
  return true;
}

bool CDomainSet::Contains(std::string_view name) const {
  name = WithoutTrailingDot(name);
  return ContainsHashed(name, HashDomainName(name));
}

bool CDomainSet::ContainsHashed(std::string_view name, std::uint64_t hash) const {
  if (m_size == 0 || name.empty() || name.size() > kMaxDomainNameLength) return false;
  const unsigned char tag = TagOf(hash);
  const Bucket& first = BucketAt(FirstChoice(hash));
  if (BucketHolds(first, name, tag)) return true;
  // Only names that found their first bucket full go on to the second.
  if ((first.bytes[0] & TurnedAwayBit(tag)) == 0) return false;
  std::size_t index = SecondChoice(hash);
  for (std::size_t visited = 0; visited < GetBucketCount(); ++visited) {
    const Bucket& bucket = BucketAt(index);
    if (BucketHolds(bucket, name, tag)) return true;
    if ((bucket.bytes[0] & kOverflowed) == 0) return false;
    index = NextBucket(index);
  }
  return false;
}

void CDomainSet::PrefetchBucket(std::uint64_t hash) const {
  if (!m_pages.empty()) __builtin_prefetch(&BucketAt(FirstChoice(hash)));
}

void CDomainSet::ShrinkToFit() {
  m_longNames.shrink_to_fit();
  if (m_size != 0 && PagesFor(m_entryBytes) < m_pages.size()) Rebuild(PagesFor(m_entryBytes));
}

std::size_t CDomainSet::GetMemoryBytes() const {
  return m_pages.capacity() * sizeof(Page) + m_longNames.capacity();
}

std::size_t CDomainSet::FirstChoice(std::uint64_t hash) const {
  // The page from the top hash bits scaled to the page count (any count works, so
  // the table can be sized to its names); the bucket in it from six more bits.
  // The tag takes the low 8 bits.
  const auto page = static_cast<std::size_t>(((hash >> 32) * m_pages.size()) >> 32);
  return page * kBucketsPerPage + (hash >> 8) % kBucketsPerPage;
}

std::size_t CDomainSet::SecondChoice(std::uint64_t hash) const {
  // In the same page as the first, so that both cost one address translation.
  const std::size_t first = FirstChoice(hash);
  return first - first % kBucketsPerPage + (hash >> 14) % kBucketsPerPage;
}

std::size_t CDomainSet::NextBucket(std::size_t index) const {
  return index + 1 == GetBucketCount() ? 0 : index + 1;
}

bool CDomainSet::BucketHolds(const Bucket& bucket, std::string_view name,
                             unsigned char tag) const {
  const unsigned char* bytes = bucket.bytes;
  for (std::uint64_t tagged = EntriesTagged(bytes, tag); tagged != 0; tagged &= tagged - 1) {
    const std::size_t index = static_cast<std::size_t>(std::countr_zero(tagged)) / 8;
    std::size_t at = kFirstEntry;
    for (std::size_t i = 0; i < index; ++i) at += EntryBytes(bytes + at);
    const unsigned char* entry = bytes + at;
    if (entry[0] == kLongMarker) {
      if (entry[1] == name.size() &&
          EqualsStored(name, m_longNames.data() + LongNameOffset(entry)))
        return true;
    } else if (entry[0] == name.size() &&
               EqualsStored(name, reinterpret_cast<const char*>(entry + 1))) {
      return true;
    }
  }
  return false;
}

bool CDomainSet::Place(const unsigned char* entry, std::size_t size, std::uint64_t hash) {
  const unsigned char tag = TagOf(hash);
  unsigned char* first = BucketAt(FirstChoice(hash)).bytes;
  if (HasRoom(first, size)) {
    PutEntry(first, entry, size, tag);
    return true;
  }
  first[0] |= TurnedAwayBit(tag);
  std::size_t index = SecondChoice(hash);
  for (std::size_t visited = 0; visited < GetBucketCount(); ++visited) {
    unsigned char* bytes = BucketAt(index).bytes;
    if (HasRoom(bytes, size)) {
      PutEntry(bytes, entry, size, tag);
      return true;
    }
    bytes[0] |= kOverflowed;
    index = NextBucket(index);
  }
  return false;
}

void CDomainSet::Rebuild(std::size_t pageCount) {
  std::vector<Page> old(std::max<std::size_t>(pageCount, 1), Page{});
  old.swap(m_pages);
  const auto placeAll = [&] {
    for (const Page& page : old) {
      for (const Bucket& bucket : page.buckets) {
        const unsigned char* bytes = bucket.bytes;
        std::size_t at = kFirstEntry;
        for (std::size_t i = 0; i < bytes[1]; ++i, at += EntryBytes(bytes + at)) {
          const unsigned char* entry = bytes + at;
          const std::string_view name =
              entry[0] == kLongMarker
                  ? std::string_view(m_longNames.data() + LongNameOffset(entry), entry[1])
                  : std::string_view(reinterpret_cast<const char*>(entry + 1), entry[0]);
          if (!Place(entry, EntryBytes(entry), HashDomainName(name))) return false;
        }
      }
    }
    return true;
  };
  // A table too crowded to take every entry, which its sizing makes all but
  // impossible, is tried again twice as large.
  while (!placeAll()) m_pages.assign(2 * m_pages.size(), Page{});
}

std::size_t CDomainSet::PagesFor(std::size_t entryBytes) {
  // At most kFillPercent of the room for entries taken: fuller pages would send
  // more names past their two choices.
  constexpr std::size_t kRoom = kBucketsPerPage * (kBucketBytes - kFirstEntry);
  return std::max<std::size_t>(1, (100 * entryBytes + kFillPercent * kRoom - 1) / (kFillPercent * kRoom));
}
