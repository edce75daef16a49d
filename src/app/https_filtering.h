// HTTPS filtering while the program runs: the local certificate authority made
// on first need, the inspection setup handed to the proxy, and the authority's
// certificate in the user's browser stores.
#pragma once

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "app/action_result.h"
#include "config/https_filtering_config.h"
#include "tls/certificate_authority.h"

class CLeafCertificates;

// The name Lumbra's certificate carries in the browser stores.
inline constexpr char kBrowserStoreNickname[] = "Lumbra local authority";

struct CBrowserStoreState {
  std::string name;
  bool holdsCertificate = false;
};

// What the panel shows of HTTPS filtering.
struct CHttpsFilteringStatus {
  CHttpsFilteringSettings settings;
  CAuthorityStatus authority;
  std::string fingerprint;      // SHA-256 of the loaded authority's certificate
  std::string certificatePath;  // for the steps that need root, which the user runs
  // Known once certutil has been asked (after start, and again after each change).
  std::optional<bool> certutilAvailable;
  std::optional<std::vector<CBrowserStoreState>> stores;
};

// Every method may be called from any thread. The browser stores are asked with
// certutil only when their state is unknown (first look, after a change), never
// on every look.
class CHttpsFiltering {
 public:
  CHttpsFiltering() = default;
  CHttpsFiltering(const CHttpsFiltering&) = delete;
  CHttpsFiltering& operator=(const CHttpsFiltering&) = delete;

  // Takes the settings of a configuration just loaded or changed. Switched on, the
  // authority is made when none exists (a damaged one is reported, never
  // replaced) and the proxy gets a setup for the chosen sites; otherwise, or
  // without a usable authority, inspection is off.
  void Configure(const CHttpsFilteringSettings& settings);
  CHttpsFilteringStatus GetStatus() const;
  // The authority's state alone, which never asks certutil.
  CAuthorityStatus GetAuthorityStatus() const;
  // The certificate as PEM (never the key); empty while no authority is loaded.
  std::string GetCertificatePem() const;

  // Adds the authority's certificate to every browser store of the user, in
  // place of any earlier certificate of Lumbra's.
  CActionResult InstallInBrowsers();
  CActionResult RemoveFromBrowsers();
  // Takes the certificate out of the browser stores, then deletes the authority's
  // files; inspection stays off until an authority is made again.
  CActionResult RemoveAuthority();

 private:
  bool HasAuthorityLocked();
  void LoadAuthorityLocked(bool create);
  void InstallSetupLocked();
  bool StoresUnknown() const;
  // Asks certutil what every store holds; called with m_storeWork held.
  void RefreshStores() const;

  mutable std::mutex m_lock;
  // Held while certutil changes or reads the stores, so that two changes never
  // overlap and a look at the state never waits for one.
  mutable std::mutex m_storeWork;
  CHttpsFilteringSettings m_settings;
  std::unique_ptr<CCertificateAuthority> m_authority;
  CAuthorityStatus m_authorityStatus;
  std::shared_ptr<CLeafCertificates> m_leaves;
  std::string m_authorityDer;
  // What certutil last said: a cache, filled by a look at the state too.
  mutable std::optional<bool> m_certutilAvailable;
  mutable std::optional<std::vector<CBrowserStoreState>> m_stores;
};
