#include "tls/certificate_authority.h"

#include <gtest/gtest.h>
#include <openssl/x509v3.h>
#include <sys/stat.h>

#include <regex>

#include "support/temp_folder.h"

namespace {

unsigned ModeOf(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

bool IsCritical(X509* certificate, int nid) {
  return X509_EXTENSION_get_critical(
             X509_get_ext(certificate, X509_get_ext_by_NID(certificate, nid, -1))) == 1;
}

TEST(CertificateAuthority, MadePrivateAsAnAuthorityAndReusedAfterwards) {
  CTempFolder config;
  CCertificateAuthority authority(config.Path());
  EXPECT_EQ(authority.Inspect().state, AuthorityState::kAbsent);
  ASSERT_EQ(authority.CreateOrLoad().state, AuthorityState::kReady);
  EXPECT_EQ(ModeOf(authority.GetFolderPath()), 0700u);
  EXPECT_EQ(ModeOf(authority.GetKeyPath()), 0600u);

  X509* certificate = authority.GetCertificate();
  EXPECT_EQ(X509_check_ca(certificate), 1);
  EXPECT_EQ(X509_get_pathlen(certificate), 0);
  EXPECT_EQ(X509_get_key_usage(certificate), uint32_t{KU_KEY_CERT_SIGN | KU_CRL_SIGN});
  EXPECT_TRUE(IsCritical(certificate, NID_basic_constraints));
  EXPECT_TRUE(IsCritical(certificate, NID_key_usage));
  EXPECT_NE(X509_get0_subject_key_id(certificate), nullptr);
  EXPECT_EQ(X509_get_signature_nid(certificate), NID_ecdsa_with_SHA256);
  char subject[256];
  X509_NAME_oneline(X509_get_subject_name(certificate), subject, sizeof subject);
  EXPECT_TRUE(std::string(subject).starts_with("/O=Lumbra/CN=Lumbra local authority (")) << subject;
  int days = 0;
  int seconds = 0;
  ASSERT_TRUE(ASN1_TIME_diff(&days, &seconds, nullptr, X509_get0_notAfter(certificate)));
  EXPECT_GE(days, 3650);
  EXPECT_TRUE(
      std::regex_match(authority.GetFingerprint(), std::regex("([0-9A-F]{2}:){31}[0-9A-F]{2}")));
  EXPECT_EQ(authority.GetCertificatePem(), ReadWholeFile(authority.GetCertificatePath()));
  EXPECT_EQ(authority.GetCertificatePem().find("PRIVATE"), std::string::npos);

  CCertificateAuthority again(config.Path());
  ASSERT_EQ(again.CreateOrLoad().state, AuthorityState::kReady);
  EXPECT_EQ(again.GetFingerprint(), authority.GetFingerprint());

  std::string error;
  ASSERT_TRUE(again.Remove(error)) << error;
  EXPECT_NE(access(again.GetFolderPath().c_str(), F_OK), 0);
}

TEST(CertificateAuthority, DamagedOneIsReportedAndLeftAlone) {
  CTempFolder config;
  CTempFolder otherConfig;
  CCertificateAuthority authority(config.Path());
  CCertificateAuthority other(otherConfig.Path());
  ASSERT_EQ(authority.CreateOrLoad().state, AuthorityState::kReady);
  ASSERT_EQ(other.CreateOrLoad().state, AuthorityState::kReady);
  const std::string keyPath = authority.GetKeyPath();
  const std::string key = ReadWholeFile(keyPath);

  const auto expectDamaged = [&](std::string_view reasonPart) {
    const std::string before = ReadWholeFile(keyPath);
    CCertificateAuthority reader(config.Path());
    const CAuthorityStatus status = reader.CreateOrLoad();
    EXPECT_EQ(status.state, AuthorityState::kDamaged);
    EXPECT_NE(status.reason.find(reasonPart), std::string::npos) << status.reason;
    EXPECT_FALSE(reader.IsLoaded());
    EXPECT_EQ(ReadWholeFile(keyPath), before);
  };
  ASSERT_TRUE(WriteWholeFile(keyPath, key.substr(0, key.size() / 2)));
  expectDamaged("no readable PEM private key");
  ASSERT_TRUE(WriteWholeFile(keyPath, ReadWholeFile(other.GetKeyPath())));
  expectDamaged("do not belong together");
  ASSERT_TRUE(WriteWholeFile(keyPath, key));
  ASSERT_EQ(chmod(keyPath.c_str(), 0640), 0);
  expectDamaged("open to other users");
  ASSERT_EQ(chmod(keyPath.c_str(), 0600), 0);
  ASSERT_EQ(unlink(authority.GetCertificatePath().c_str()), 0);
  expectDamaged("lumbra-ca.pem is missing");
}

}  // namespace
