#include "tls/leaf_certificates.h"

#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <thread>

#include "support/temp_folder.h"
#include "tls/certificate_authority.h"

namespace {

using namespace std::literals;
using CStorePtr = std::unique_ptr<X509_STORE, COpenSslFree<X509_STORE_free>>;
using CStoreContextPtr = std::unique_ptr<X509_STORE_CTX, COpenSslFree<X509_STORE_CTX_free>>;

class LeafCertificates : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(m_authority.CreateOrLoad().state, AuthorityState::kReady); }

  // Checks the leaf the way a browser does: chain to the authority, TLS server
  // purpose, and the host name or address.
  bool Verifies(X509* leaf, const std::string& host, bool isAddress) {
    CStorePtr store(X509_STORE_new());
    X509_STORE_add_cert(store.get(), m_authority.GetCertificate());
    CStoreContextPtr context(X509_STORE_CTX_new());
    X509_STORE_CTX_init(context.get(), store.get(), leaf, nullptr);
    X509_VERIFY_PARAM* parameters = X509_STORE_CTX_get0_param(context.get());
    X509_VERIFY_PARAM_set_purpose(parameters, X509_PURPOSE_SSL_SERVER);
    if (isAddress)
      X509_VERIFY_PARAM_set1_ip_asc(parameters, host.c_str());
    else
      X509_VERIFY_PARAM_set1_host(parameters, host.c_str(), 0);
    return X509_verify_cert(context.get()) == 1;
  }

  std::string SerialOf(const CLeafCredentials& credentials) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(credentials.certificate.get());
    return std::string(reinterpret_cast<const char*>(ASN1_STRING_get0_data(serial)),
                       ASN1_STRING_length(serial));
  }

  CTempFolder m_config;
  CCertificateAuthority m_authority{m_config.Path()};
};

TEST_F(LeafCertificates, LeafServesItsHostAloneAsAShortLivedServerCertificate) {
  CLeafCertificates leaves(m_authority);
  std::set<std::string> serials;
  for (const auto& [host, checked, isAddress] :
       {std::tuple{"WWW.Example.com", "www.example.com", false},
        std::tuple{"127.0.0.1", "127.0.0.1", true}, std::tuple{"[::1]", "::1", true}}) {
    const CLeafCredentials credentials = leaves.GetFor(host);
    X509* leaf = credentials.certificate.get();
    ASSERT_NE(leaf, nullptr) << host;
    EXPECT_TRUE(Verifies(leaf, checked, isAddress)) << host;
    EXPECT_FALSE(Verifies(leaf, isAddress ? "127.0.0.2" : "other.example.com", isAddress));
    EXPECT_EQ(X509_check_ca(leaf), 0);
    EXPECT_EQ(X509_get_extended_key_usage(leaf), uint32_t{XKU_SSL_SERVER});
    EXPECT_EQ(X509_get_key_usage(leaf), uint32_t{KU_DIGITAL_SIGNATURE});
    EXPECT_NE(X509_get0_authority_key_id(leaf), nullptr);
    int days = 0;
    int seconds = 0;
    ASSERT_TRUE(
        ASN1_TIME_diff(&days, &seconds, X509_get0_notBefore(leaf), X509_get0_notAfter(leaf)));
    EXPECT_LE(days * 86400 + seconds, 45 * 86400);
    EXPECT_EQ(EVP_PKEY_get_bits(credentials.key.get()), 256);
    serials.insert(SerialOf(credentials));
  }
  EXPECT_EQ(serials.size(), 3u);
  EXPECT_EQ(serials.begin()->size(), 16u);
  for (std::string_view bad :
       {""sv, "a b.com"sv, "a..b"sv, "evil.com,DNS:bank.com"sv, "x\0y"sv, "1.2.3.4\0.com"sv})
    EXPECT_EQ(leaves.GetFor(bad).certificate, nullptr) << bad;
}

TEST_F(LeafCertificates, CacheDropsTheLeastRecentlyUsedHostUnderLoad) {
  CLeafCertificates leaves(m_authority, 3);
  const std::string a = SerialOf(leaves.GetFor("a.test"));
  const std::string b = SerialOf(leaves.GetFor("b.test"));
  leaves.GetFor("c.test");
  EXPECT_EQ(SerialOf(leaves.GetFor("a.test")), a);
  leaves.GetFor("d.test");
  EXPECT_EQ(leaves.GetCachedCount(), 3u);
  EXPECT_EQ(SerialOf(leaves.GetFor("a.test")), a);
  EXPECT_NE(SerialOf(leaves.GetFor("b.test")), b);

  std::atomic<int> failures{0};
  const auto useMany = [&] {
    for (int i = 0; i < 200; ++i) {
      const std::string host = "h" + std::to_string(i % 7) + ".test";
      const CLeafCredentials credentials = leaves.GetFor(host);
      X509* leaf = credentials.certificate.get();
      failures += !leaf || X509_check_host(leaf, host.c_str(), 0, 0, nullptr) != 1;
    }
  };
  { std::jthread first(useMany), second(useMany), third(useMany); }
  EXPECT_EQ(failures, 0);
  EXPECT_EQ(leaves.GetCachedCount(), 3u);
}

}  // namespace
