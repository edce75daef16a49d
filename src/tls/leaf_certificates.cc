// Leaf certificates for inspected hosts, signed by the local authority and kept
// in a bounded, least-recently-used cache.
#include "tls/leaf_certificates.h"

#include <openssl/err.h>
#include <openssl/x509v3.h>

#include "core/address_text.h"
#include "core/ascii.h"
#include "tls/certificate_authority.h"
#include "tls/certificate_builder.h"

namespace {

using std::chrono::hours;

constexpr std::chrono::seconds kBackdating = hours(1);
// The whole validity, backdating included, stays within 45 days.
constexpr std::chrono::seconds kLifetime = hours(24 * 45) - kBackdating;
// Made again well before the browser would see it expire in a long run.
constexpr std::chrono::seconds kRenewAfter = hours(24 * 30);
// RFC 1035 bounds on a name and on one of its labels.
constexpr std::size_t kMaxNameLength = 253;
constexpr std::size_t kMaxLabelLength = 63;

bool IsNameCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '_';
}

bool IsDnsName(std::string_view name) {
  if (name.empty() || name.size() > kMaxNameLength) return false;
  std::size_t labelLength = 0;
  for (char c : name) {
    if (c == '.') {
      if (labelLength == 0) return false;
      labelLength = 0;
    } else if (!IsNameCharacter(c) || ++labelLength > kMaxLabelLength) {
      return false;
    }
  }
  return labelLength > 0;
}

// The subjectAltName naming `host`, built field by field so that no character of
// the host can ever be read as configuration syntax; empty for an invalid host.
CGeneralNamesPtr MakeSubjectAltName(const std::string& host) {
  if (host.find('\0') != std::string::npos) return nullptr;
  CGeneralNamesPtr names(GENERAL_NAMES_new());
  GENERAL_NAME* name = GENERAL_NAME_new();
  if (!names || name == nullptr || sk_GENERAL_NAME_push(names.get(), name) == 0) {
    GENERAL_NAME_free(name);
    return nullptr;
  }
  if (ASN1_OCTET_STRING* address = a2i_IPADDRESS(host.c_str())) {
    GENERAL_NAME_set0_value(name, GEN_IPADD, address);
    return names;
  }
  ERR_clear_error();
  ASN1_IA5STRING* dnsName = ASN1_IA5STRING_new();
  if (!IsDnsName(host) || dnsName == nullptr ||
      ASN1_STRING_set(dnsName, host.data(), static_cast<int>(host.size())) != 1) {
    ASN1_IA5STRING_free(dnsName);
    return nullptr;
  }
  GENERAL_NAME_set0_value(name, GEN_DNS, dnsName);
  return names;
}

// The host is named by the subjectAltName alone; the subject only says who made it.
bool SetLeafNames(X509* leaf, X509* issuer, const std::string& host) {
  CGeneralNamesPtr altName = MakeSubjectAltName(host);
  X509_NAME* subject = X509_get_subject_name(leaf);
  return altName &&
         X509_add1_ext_i2d(leaf, NID_subject_alt_name, altName.get(), 0, X509V3_ADD_DEFAULT) == 1 &&
         X509_NAME_add_entry_by_txt(subject, "O", MBSTRING_ASC,
                                    reinterpret_cast<const unsigned char*>("Lumbra"), -1, -1,
                                    0) == 1 &&
         X509_set_issuer_name(leaf, X509_get_subject_name(issuer)) == 1;
}

CCertificatePtr MakeLeaf(const std::string& host, EVP_PKEY* leafKey, X509* issuer,
                         EVP_PKEY* issuerKey) {
  CCertificatePtr leaf = StartCertificate(leafKey);
  X509* made = leaf.get();
  if (!made || !SetLeafNames(made, issuer, host) || !SetValidity(made, kBackdating, kLifetime) ||
      !AddExtension(made, issuer, NID_basic_constraints, "critical,CA:FALSE") ||
      !AddExtension(made, issuer, NID_key_usage, "critical,digitalSignature") ||
      !AddExtension(made, issuer, NID_ext_key_usage, "serverAuth") ||
      !AddExtension(made, issuer, NID_authority_key_identifier, "keyid:always") ||
      !SignCertificate(made, issuerKey)) {
    ERR_clear_error();
    return nullptr;
  }
  return leaf;
}

}  // namespace

bool UseLeafCredentials(SSL* ssl, const CLeafCredentials& credentials) {
  return credentials.certificate && credentials.key &&
         SSL_use_certificate(ssl, credentials.certificate.get()) == 1 &&
         SSL_use_PrivateKey(ssl, credentials.key.get()) == 1 &&
         (!credentials.issuer || SSL_add1_chain_cert(ssl, credentials.issuer.get()) == 1);
}

CLeafCertificates::CLeafCertificates(const CCertificateAuthority& authority, std::size_t capacity)
    : m_issuer(ShareCertificate(authority.GetCertificate())),
      m_issuerKey(ShareKey(authority.GetSigningKey())),
      m_capacity(capacity > 0 ? capacity : 1),
      m_key(MakeP256Key()) {}

CLeafCredentials CLeafCertificates::GetFor(std::string_view host) {
  if (!m_key || !m_issuer || !m_issuerKey) return {};
  const std::string name = CanonicalHost(host);
  if (CCertificatePtr cached = FindCached(name)) return MakeCredentials(std::move(cached));
  // Signed outside the lock: other hosts need not wait for this one.
  CCertificatePtr made = MakeLeaf(name, m_key.get(), m_issuer.get(), m_issuerKey.get());
  if (!made) return {};
  return MakeCredentials(Remember(name, std::move(made)));
}

std::size_t CLeafCertificates::GetCachedCount() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_byHost.size();
}

CCertificatePtr CLeafCertificates::FindCached(const std::string& host) {
  std::lock_guard<std::mutex> guard(m_lock);
  const auto found = m_byHost.find(host);
  if (found == m_byHost.end()) return nullptr;
  if (std::chrono::system_clock::now() > found->second->renewAfter) {
    m_recentFirst.erase(found->second);
    m_byHost.erase(found);
    return nullptr;
  }
  m_recentFirst.splice(m_recentFirst.begin(), m_recentFirst, found->second);
  return ShareCertificate(found->second->certificate.get());
}

// Keeps `certificate` for `host` unless another thread got there first, and
// answers with the one kept, so that all connections to a host see one certificate.
CCertificatePtr CLeafCertificates::Remember(const std::string& host, CCertificatePtr certificate) {
  std::lock_guard<std::mutex> guard(m_lock);
  if (const auto found = m_byHost.find(host); found != m_byHost.end())
    return ShareCertificate(found->second->certificate.get());
  m_recentFirst.push_front(
      {host, ShareCertificate(certificate.get()), std::chrono::system_clock::now() + kRenewAfter});
  m_byHost.emplace(host, m_recentFirst.begin());
  if (m_byHost.size() > m_capacity) {
    m_byHost.erase(m_recentFirst.back().host);
    m_recentFirst.pop_back();
  }
  return certificate;
}

CLeafCredentials CLeafCertificates::MakeCredentials(CCertificatePtr certificate) const {
  return {std::move(certificate), ShareCertificate(m_issuer.get()), ShareKey(m_key.get())};
}
