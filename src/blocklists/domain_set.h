// A compact hash set of lower-case domain names.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Names live inside the table itself: each 64-byte bucket (one cache line) packs
// names whose hash leads there, so that a lookup, hit or miss, nearly always
// waits on one line of memory and not on a second, dependent one. Names too long to
// pack well sit in a side arena that their bucket entry points to. Names are
// stored lower-cased (ASCII letters only) and looked up in any case without a
// copy. Reading is safe from many threads at once as long as nothing is added
// meanwhile.
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

  // Starts fetching the bucket where a name of this hash would be, so that
  // several lookups can wait on memory at once.
  void PrefetchBucket(std::uint64_t hash) const;

  std::size_t GetSize() const { return m_size; }
  bool IsEmpty() const { return m_size == 0; }

  // Gives back spare room once names stop coming: the table is rebuilt at the
  // size its names need.
  void ShrinkToFit();

  // Bytes held by the table and the arena, spare room included.
  std::size_t GetMemoryBytes() const;
  // Bytes of the names themselves.
  std::size_t GetNameBytes() const { return m_nameBytes; }

 private:
  struct alignas(64) Bucket {
    unsigned char bytes[64];
  };
  // Buckets come in pages of 4 KiB, the unit of address translation, and both of
  // a name's buckets lie in one page.
  static constexpr std::size_t kBucketsPerPage = 64;
  struct alignas(4096) Page {
    Bucket buckets[kBucketsPerPage];
  };

  std::size_t GetBucketCount() const { return m_pages.size() * kBucketsPerPage; }
  const Bucket& BucketAt(std::size_t index) const {
    return m_pages[index / kBucketsPerPage].buckets[index % kBucketsPerPage];
  }
  Bucket& BucketAt(std::size_t index) {
    return m_pages[index / kBucketsPerPage].buckets[index % kBucketsPerPage];
  }
  // A name lies in the first bucket its hash chooses; when that was full, in a
  // second one in the same page, or past it where the overflow marks lead.
  std::size_t FirstChoice(std::uint64_t hash) const;
  std::size_t SecondChoice(std::uint64_t hash) const;
  std::size_t NextBucket(std::size_t index) const;
  bool BucketHolds(const Bucket& bucket, std::string_view name, unsigned char tag) const;
  // Packs an entry into its first bucket, or the second, or past it; false when
  // no bucket has room.
  bool Place(const unsigned char* entry, std::size_t size, std::uint64_t hash);
  void Rebuild(std::size_t pageCount);
  static std::size_t PagesFor(std::size_t entryBytes);

  std::vector<Page> m_pages;
  std::string m_longNames;
  std::size_t m_size = 0;
  std::size_t m_nameBytes = 0;
  std::size_t m_entryBytes = 0;
};
