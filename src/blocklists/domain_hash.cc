// Hashes of domain names built right to left.
#include "blocklists/domain_hash.h"

std::uint64_t HashDomainName(std::string_view name) {
  CSuffixHash hash;
  for (std::size_t i = name.size(); i > 0; --i) hash.Prepend(name[i - 1]);
  return hash.Get();
}
