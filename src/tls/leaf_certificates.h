// The certificates Lumbra shows the browser for inspected sites: one per host,
// signed by the local authority, made on first use and kept in memory.
#pragma once

#include <openssl/ssl.h>

#include <chrono>
#include <cstddef>
#include <list>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>

#include "tls/openssl_objects.h"

class CCertificateAuthority;

// What the browser side of one connection needs, each part owned by the holder
// (OpenSSL counts references, so the cache may drop its own copy meanwhile).
struct CLeafCredentials {
  CCertificatePtr certificate;
  CCertificatePtr issuer;  // the authority's certificate, sent as the chain
  CKeyPtr key;
};

// Puts the leaf, its chain and its key on a server-side SSL object before the
// handshake; false when OpenSSL refuses one of them.
bool UseLeafCredentials(SSL* ssl, const CLeafCredentials& credentials);

class CLeafCertificates {
 public:
  static constexpr std::size_t kDefaultCapacity = 1000;

  // Signs with what `authority` has loaded now (its later loads and removal
  // leave this object as it is). Makes the run's leaf key.
  explicit CLeafCertificates(const CCertificateAuthority& authority,
                             std::size_t capacity = kDefaultCapacity);
  CLeafCertificates(const CLeafCertificates&) = delete;
  CLeafCertificates& operator=(const CLeafCertificates&) = delete;

  // The certificate for `host` (a DNS name, or an IPv4 or IPv6 literal, with or
  // without brackets), from the cache or freshly signed. Empty credentials when
  // the host is not a valid name, no authority was loaded, or signing failed.
  // Safe from any thread.
  CLeafCredentials GetFor(std::string_view host);

  std::size_t GetCachedCount() const;

 private:
  struct CEntry {
    std::string host;
    CCertificatePtr certificate;
    std::chrono::system_clock::time_point renewAfter;
  };
  using CEntryList = std::list<CEntry>;

  const CCertificatePtr m_issuer;
  const CKeyPtr m_issuerKey;
  const std::size_t m_capacity;
  const CKeyPtr m_key;
  mutable std::mutex m_lock;
  CEntryList m_recentFirst;
  std::unordered_map<std::string, CEntryList::iterator> m_byHost;

  CCertificatePtr FindCached(const std::string& host);
  CCertificatePtr Remember(const std::string& host, CCertificatePtr certificate);
  CLeafCredentials MakeCredentials(CCertificatePtr certificate) const;
};
