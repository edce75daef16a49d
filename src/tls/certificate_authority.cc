// The local certificate authority: made once, kept in two files, checked on every load.
#include "tls/certificate_authority.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/x509v3.h>

#include <cerrno>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <system_error>

#include "platform/account_names.h"
#include "platform/atomic_file.h"
#include "platform/directory.h"
#include "platform/file_status.h"
#include "platform/paths.h"
#include "tls/certificate_builder.h"

namespace {

// Ten years, leap days included.
constexpr std::chrono::seconds kLifetime = std::chrono::hours(24 * 3653);
// Backdated a little so that a clock running slightly behind still accepts it.
constexpr std::chrono::seconds kBackdating = std::chrono::hours(1);
// Both files are a few hundred bytes; anything far larger is not ours.
constexpr std::size_t kMaxFileSize = 64 * 1024;
constexpr std::string_view kCommonNameStart = "Lumbra local authority";
// X.509's upper bound for a common name (RFC 5280, ub-common-name).
constexpr std::size_t kMaxCommonName = 64;

struct CLoadedFiles {
  CCertificatePtr certificate;
  CKeyPtr key;
  std::string certificatePem;
};

CAuthorityStatus Damaged(std::string reason) {
  return {AuthorityState::kDamaged, std::move(reason)};
}

std::string ErrnoText() { return std::error_code(errno, std::generic_category()).message(); }

std::string DescribePrivacy(PrivacyCheck check, const std::string& path, bool folder) {
  switch (check) {
    case PrivacyCheck::kPrivate:
      return {};
    case PrivacyCheck::kMissing:
      return path + " is missing";
    case PrivacyCheck::kWrongKind:
      return path + (folder ? " is not a folder" : " is not a plain file");
    case PrivacyCheck::kOtherOwner:
      return path + " belongs to another user";
    case PrivacyCheck::kOpenToOthers:
      return path + " is open to other users; it must be readable by you alone";
  }
  return path + " cannot be checked";
}

// The whole file, or nothing when it cannot be read or is far too large for its kind.
std::optional<std::string> ReadSmallFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) return std::nullopt;
  std::string content(kMaxFileSize + 1, '\0');
  file.read(content.data(), static_cast<std::streamsize>(content.size()));
  if (file.bad() || static_cast<std::size_t>(file.gcount()) > kMaxFileSize) return std::nullopt;
  content.resize(static_cast<std::size_t>(file.gcount()));
  return content;
}

std::string TimeText(const ASN1_TIME* time) {
  CBioPtr bio(BIO_new(BIO_s_mem()));
  if (!bio || ASN1_TIME_print(bio.get(), time) != 1) return "an unknown date";
  char* data = nullptr;
  const long size = BIO_get_mem_data(bio.get(), &data);
  return std::string(data, static_cast<std::size_t>(size));
}

// Why a certificate and key read from the files cannot serve as the authority; empty when they can.
std::string FindFault(X509* certificate, EVP_PKEY* key, const std::string& certificatePath) {
  if (X509_check_private_key(certificate, key) != 1)
    return "the private key and the certificate " + certificatePath + " do not belong together";
  if (X509_check_ca(certificate) != 1)
    return certificatePath + " is not a certificate authority's certificate";
  if (X509_check_issued(certificate, certificate) != X509_V_OK ||
      X509_verify(certificate, key) != 1)
    return certificatePath + " is not signed by its own key";
  if (X509_cmp_current_time(X509_get0_notAfter(certificate)) <= 0)
    return certificatePath + " expired on " + TimeText(X509_get0_notAfter(certificate));
  if (X509_cmp_current_time(X509_get0_notBefore(certificate)) >= 0)
    return certificatePath + " is not valid before " + TimeText(X509_get0_notBefore(certificate)) +
           " (is the clock right?)";
  return {};
}

// "Lumbra local authority (user@host)", cut to X.509's bound at a UTF-8 character boundary.
std::string MakeCommonName() {
  std::string identity = GetUserName();
  const std::string machine = GetMachineName();
  if (!machine.empty()) identity += (identity.empty() ? "" : "@") + machine;
  std::string name(kCommonNameStart);
  if (identity.empty()) return name;
  const std::size_t room = kMaxCommonName - name.size() - 3;
  if (identity.size() > room) {
    std::size_t cut = room;
    while (cut > 0 && (static_cast<unsigned char>(identity[cut]) & 0xC0) == 0x80) --cut;
    identity.resize(cut);
  }
  return name + " (" + identity + ")";
}

bool AddNameEntry(X509_NAME* name, const char* field, const std::string& value) {
  return X509_NAME_add_entry_by_txt(name, field, MBSTRING_UTF8,
                                    reinterpret_cast<const unsigned char*>(value.c_str()), -1, -1,
                                    0) == 1;
}

// Subject and issuer alike, since the authority signs itself. A user or machine
// name that is not UTF-8 leaves the common name without them.
bool SetAuthorityName(X509* certificate) {
  X509_NAME* name = X509_get_subject_name(certificate);
  if (!AddNameEntry(name, "O", "Lumbra")) return false;
  if (!AddNameEntry(name, "CN", MakeCommonName())) {
    ERR_clear_error();
    if (!AddNameEntry(name, "CN", std::string(kCommonNameStart))) return false;
  }
  return X509_set_issuer_name(certificate, name) == 1;
}

CCertificatePtr MakeAuthorityCertificate(EVP_PKEY* key) {
  CCertificatePtr certificate = StartCertificate(key);
  X509* made = certificate.get();
  if (!made || !SetAuthorityName(made) || !SetValidity(made, kBackdating, kLifetime) ||
      !AddExtension(made, made, NID_basic_constraints, "critical,CA:TRUE,pathlen:0") ||
      !AddExtension(made, made, NID_key_usage, "critical,keyCertSign,cRLSign") ||
      !AddExtension(made, made, NID_subject_key_identifier, "hash") || !SignCertificate(made, key))
    return nullptr;
  return certificate;
}

}  // namespace

CCertificateAuthority::CCertificateAuthority(std::string configFolder)
    : m_configFolder(std::move(configFolder)) {}

std::string CCertificateAuthority::GetFolderPath() const {
  return JoinPath(m_configFolder, kFolderName);
}

std::string CCertificateAuthority::GetCertificatePath() const {
  return JoinPath(GetFolderPath(), kCertificateName);
}

std::string CCertificateAuthority::GetKeyPath() const {
  return JoinPath(GetFolderPath(), kKeyName);
}

namespace {

// Reads and checks both files; `files` holds them when the answer is kReady.
CAuthorityStatus ReadAuthority(const CCertificateAuthority& authority, CLoadedFiles& files) {
  const std::string folderPath = authority.GetFolderPath();
  const std::string certificatePath = authority.GetCertificatePath();
  const std::string keyPath = authority.GetKeyPath();
  const PrivacyCheck keyCheck = CheckPrivacy(keyPath, false);
  const bool hasCertificate = PathExists(certificatePath);
  if (keyCheck == PrivacyCheck::kMissing && !hasCertificate) return {};
  if (!hasCertificate) return Damaged(certificatePath + " is missing");
  if (std::string fault = DescribePrivacy(CheckPrivacy(folderPath, true), folderPath, true);
      !fault.empty())
    return Damaged(fault);
  if (std::string fault = DescribePrivacy(keyCheck, keyPath, false); !fault.empty())
    return Damaged(fault);

  std::optional<std::string> certificatePem = ReadSmallFile(certificatePath);
  if (!certificatePem) return Damaged(certificatePath + " cannot be read");
  std::optional<std::string> keyPem = ReadSmallFile(keyPath);
  if (!keyPem) return Damaged(keyPath + " cannot be read");
  files.certificate = CertificateFromPem(*certificatePem);
  files.key = PrivateKeyFromPem(*keyPem);
  OPENSSL_cleanse(keyPem->data(), keyPem->size());
  ERR_clear_error();
  if (!files.certificate) return Damaged(certificatePath + " holds no readable PEM certificate");
  if (!files.key)
    return Damaged(keyPath + " holds no readable PEM private key (or one locked by a passphrase)");
  if (std::string fault = FindFault(files.certificate.get(), files.key.get(), certificatePath);
      !fault.empty())
    return Damaged(fault);
  // Kept as read, so that what the user downloads is byte for byte the file.
  files.certificatePem = std::move(*certificatePem);
  return {AuthorityState::kReady, {}};
}

}  // namespace

CAuthorityStatus CCertificateAuthority::Inspect() const {
  CLoadedFiles ignored;
  return ReadAuthority(*this, ignored);
}

CAuthorityStatus CCertificateAuthority::Load() {
  CLoadedFiles files;
  CAuthorityStatus status = ReadAuthority(*this, files);
  if (status.state == AuthorityState::kAbsent && status.reason.empty())
    status.reason = "no certificate authority has been made yet";
  if (status.state != AuthorityState::kReady) return status;
  m_certificate = std::move(files.certificate);
  m_key = std::move(files.key);
  m_certificatePem = std::move(files.certificatePem);
  return status;
}

CAuthorityStatus CCertificateAuthority::CreateOrLoad() {
  const CAuthorityStatus found = Inspect();
  if (found.state != AuthorityState::kAbsent) return Load();
  return Create();
}

CAuthorityStatus CCertificateAuthority::Create() {
  const std::string folderPath = GetFolderPath();
  if (!CreateDirectories(folderPath))
    return {AuthorityState::kAbsent, "cannot create " + folderPath + ": " + ErrnoText()};
  if (std::string fault = DescribePrivacy(CheckPrivacy(folderPath, true), folderPath, true);
      !fault.empty())
    return {AuthorityState::kAbsent, fault};

  CKeyPtr key = MakeP256Key();
  CCertificatePtr certificate = key ? MakeAuthorityCertificate(key.get()) : nullptr;
  std::string keyPem = certificate ? PrivateKeyToPem(key.get()) : std::string();
  const std::string certificatePem = CertificateToPem(certificate.get());
  if (keyPem.empty() || certificatePem.empty())
    return {AuthorityState::kAbsent, "cannot make the certificate: " + TakeOpenSslError()};

  // The key first: a certificate without its key could never sign anything.
  const bool keyWritten = CreateFileAtomically(GetKeyPath(), keyPem, FileAccess::kOwnerOnly);
  OPENSSL_cleanse(keyPem.data(), keyPem.size());
  if (!keyWritten)
    return {AuthorityState::kAbsent, "cannot write " + GetKeyPath() + ": " + ErrnoText()};
  if (!CreateFileAtomically(GetCertificatePath(), certificatePem, FileAccess::kLikeTarget)) {
    std::string reason = "cannot write " + GetCertificatePath() + ": " + ErrnoText();
    std::error_code ignored;
    std::filesystem::remove(GetKeyPath(), ignored);
    return {AuthorityState::kAbsent, reason};
  }
  return Load();
}

bool CCertificateAuthority::Remove(std::string& error) {
  m_certificate.reset();
  m_key.reset();
  m_certificatePem.clear();
  std::error_code failure;
  for (const std::string& path : {GetKeyPath(), GetCertificatePath()}) {
    RemoveLeftoverTempFiles(path);
    if (!std::filesystem::remove(path, failure) && failure) {
      error = "cannot remove " + path + ": " + failure.message();
      return false;
    }
  }
  if (!std::filesystem::remove(GetFolderPath(), failure) && failure) {
    error = "cannot remove " + GetFolderPath() + ": " + failure.message();
    return false;
  }
  return true;
}

std::string CCertificateAuthority::GetFingerprint() const {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  if (!m_certificate || X509_digest(m_certificate.get(), EVP_sha256(), digest, &size) != 1)
    return {};
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int i = 0; i < size; ++i) {
    if (i > 0) text.push_back(':');
    text.push_back(kDigits[digest[i] >> 4]);
    text.push_back(kDigits[digest[i] & 15]);
  }
  return text;
}
