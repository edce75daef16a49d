// Hashes of domain names built right to left, so that one pass over a host
// gives the hash of the host and of each of its parent domains.
#pragma once

#include <cstdint>
#include <string_view>

// The hash of a growing suffix of a name, regardless of letter case. Kept
// inline: a lookup prepends every byte of the host it tests.
class CSuffixHash {
 public:
  // Extends the suffix hashed so far by the byte before it. Setting bit 0x20
  // folds every capital to its small letter in one step; the few other bytes it
  // merges ('@' and '`', '_' and DEL...) only share a hash, and the set compares
  // the bytes themselves.
  void Prepend(char c) { m_state = (m_state ^ (static_cast<unsigned char>(c) | 0x20u)) * kPrime; }

  // The hash of the suffix so far, every bit depending on every byte, since the
  // set takes its slot index from the low bits and a check tag from the high ones.
  std::uint64_t Get() const {
    std::uint64_t h = m_state;
    h ^= h >> 33;
    h *= 0xff51afd7ed558ccdULL;
    h ^= h >> 33;
    h *= 0xc4ceb9fe1a85ec53ULL;
    h ^= h >> 33;
    return h;
  }

 private:
  static constexpr std::uint64_t kPrime = 0x100000001b3ULL;
  std::uint64_t m_state = 0xcbf29ce484222325ULL;
};

// The hash CSuffixHash gives once it has taken every byte of `name`.
std::uint64_t HashDomainName(std::string_view name);
