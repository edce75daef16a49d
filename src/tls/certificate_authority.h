// The local certificate authority that signs the certificates Lumbra shows the
// browser for inspected sites: its certificate and private key in the "ca"
// folder of the configuration folder.
#pragma once

#include <string>

#include "tls/openssl_objects.h"

enum class AuthorityState {
  kAbsent,   // neither file exists (a failed creation says why in the reason)
  kReady,    // both files exist and belong together
  kDamaged,  // something is there but cannot be used; never replaced on its own
};

struct CAuthorityStatus {
  AuthorityState state = AuthorityState::kAbsent;
  std::string reason;  // for the user; empty when ready
};

class CCertificateAuthority {
 public:
  static constexpr const char* kFolderName = "ca";
  static constexpr const char* kCertificateName = "lumbra-ca.pem";
  static constexpr const char* kKeyName = "lumbra-ca.key";

  explicit CCertificateAuthority(std::string configFolder);

  // What the files on disk hold, without loading or changing anything.
  CAuthorityStatus Inspect() const;
  // Loads an authority that is ready; otherwise reports what is wrong.
  CAuthorityStatus Load();
  // Makes a new authority when none exists, then loads it; an existing one is
  // loaded as it is, a damaged one reported and left alone.
  CAuthorityStatus CreateOrLoad();
  // Deletes both files and the folder, and forgets what was loaded. False, with
  // the reason in `error`, when something could not be removed.
  bool Remove(std::string& error);

  bool IsLoaded() const { return m_certificate != nullptr; }
  // The loaded certificate as PEM text, the one thing of the authority that
  // may be handed out (for the user to install in browsers).
  const std::string& GetCertificatePem() const { return m_certificatePem; }
  // SHA-256 of the loaded certificate's DER form, as "AB:CD:...".
  std::string GetFingerprint() const;
  // The loaded certificate and signing key; null while nothing is loaded.
  X509* GetCertificate() const { return m_certificate.get(); }
  EVP_PKEY* GetSigningKey() const { return m_key.get(); }

  std::string GetFolderPath() const;
  std::string GetCertificatePath() const;
  std::string GetKeyPath() const;

 private:
  std::string m_configFolder;
  CCertificatePtr m_certificate;
  CKeyPtr m_key;
  std::string m_certificatePem;

  CAuthorityStatus Create();
};
