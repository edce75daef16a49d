// HTTPS filtering while the program runs: authority, inspection setup, browser stores.
#include "app/https_filtering.h"

#include <openssl/x509.h>

#include "config/config_store.h"
#include "inspection/https_inspection.h"
#include "platform/browser_stores.h"
#include "tls/leaf_certificates.h"

namespace {

constexpr char kNoFolder[] = "the configuration folder cannot be used";
constexpr char kNoAuthority[] =
    "There is no usable certificate authority: switch HTTPS filtering on first.";
constexpr char kNoCertutil[] =
    "certutil was not found. Install it with \"sudo apt install libnss3-tools\", then try again.";
constexpr char kRemovedReason[] = "removed; switching HTTPS filtering on makes a new one";

std::string CertificateDer(X509* certificate) {
  unsigned char* bytes = nullptr;
  const int size = i2d_X509(certificate, &bytes);
  if (size <= 0) return {};
  std::string der(reinterpret_cast<const char*>(bytes), static_cast<std::size_t>(size));
  OPENSSL_free(bytes);
  return der;
}

// Names the stores a change did not reach, with certutil's words.
CActionResult Summarize(const std::vector<CStoreChange>& changes, const std::string& failure) {
  std::string failed;
  for (const CStoreChange& change : changes) {
    if (change.done) continue;
    failed += (failed.empty() ? "" : "; ") + change.store;
    if (!change.detail.empty()) failed += " (" + change.detail + ")";
  }
  if (failed.empty()) return {};
  return {false, failure + ": " + failed + "."};
}

}  // namespace

void CHttpsFiltering::Configure(const CHttpsFilteringSettings& settings) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_settings = settings;
  LoadAuthorityLocked(settings.enabled);
  InstallSetupLocked();
}

bool CHttpsFiltering::HasAuthorityLocked() {
  if (m_authority) return true;
  std::string folder = GetConfigFolder();
  if (folder.empty()) {
    m_authorityStatus = {AuthorityState::kAbsent, kNoFolder};
    return false;
  }
  m_authority = std::make_unique<CCertificateAuthority>(std::move(folder));
  return true;
}

void CHttpsFiltering::LoadAuthorityLocked(bool create) {
  if (!HasAuthorityLocked() || m_authority->IsLoaded()) return;
  // Switched off, an existing authority is still read, so the panel can show
  // its fingerprint and remove it; only switching on makes one.
  m_authorityStatus = create ? m_authority->CreateOrLoad() : m_authority->Load();
  if (!m_authority->IsLoaded()) return;
  m_leaves = std::make_shared<CLeafCertificates>(*m_authority);
  m_authorityDer = CertificateDer(m_authority->GetCertificate());
  // A new authority: what the stores hold must be looked at again.
  m_stores.reset();
}

void CHttpsFiltering::InstallSetupLocked() {
  if (!m_settings.enabled || !m_leaves) {
    GetHttpsInspection().Replace(nullptr);
    return;
  }
  auto setup = std::make_shared<CInspectionSetup>();
  setup->sites = CChosenSites(m_settings.sites);
  // The same leaves while the authority stays: their cache and the run's key live on.
  setup->leaves = m_leaves;
  setup->authorityDer = m_authorityDer;
  GetHttpsInspection().Replace(std::move(setup));
}

CHttpsFilteringStatus CHttpsFiltering::GetStatus() const {
  if (StoresUnknown()) {
    std::unique_lock<std::mutex> work(m_storeWork, std::try_to_lock);
    if (work.owns_lock() && StoresUnknown()) RefreshStores();
  }
  std::lock_guard<std::mutex> guard(m_lock);
  CHttpsFilteringStatus status;
  status.settings = m_settings;
  status.authority = m_authorityStatus;
  if (m_authority) {
    status.fingerprint = m_authority->GetFingerprint();
    status.certificatePath = m_authority->GetCertificatePath();
  }
  status.certutilAvailable = m_certutilAvailable;
  status.stores = m_stores;
  return status;
}

CAuthorityStatus CHttpsFiltering::GetAuthorityStatus() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_authorityStatus;
}

std::string CHttpsFiltering::GetCertificatePem() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_authority ? m_authority->GetCertificatePem() : std::string();
}

bool CHttpsFiltering::StoresUnknown() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return !m_stores.has_value();
}

void CHttpsFiltering::RefreshStores() const {
  const bool available = IsCertutilAvailable();
  std::vector<CBrowserStoreState> states;
  for (const CBrowserStore& store : FindBrowserStores())
    states.push_back({store.name, available && StoreHolds(store, kBrowserStoreNickname)});
  std::lock_guard<std::mutex> guard(m_lock);
  m_certutilAvailable = available;
  m_stores = std::move(states);
}

CActionResult CHttpsFiltering::InstallInBrowsers() {
  std::lock_guard<std::mutex> work(m_storeWork);
  std::string certificatePath;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_authority || !m_authority->IsLoaded()) return {false, kNoAuthority};
    certificatePath = m_authority->GetCertificatePath();
  }
  if (!IsCertutilAvailable()) return {false, kNoCertutil};
  // An earlier authority's certificate under the same name would stay trusted.
  RemoveFromBrowserStores(kBrowserStoreNickname);
  const std::vector<CStoreChange> changes =
      AddToBrowserStores(certificatePath, kBrowserStoreNickname);
  RefreshStores();
  return Summarize(changes, "The certificate could not be added to");
}

CActionResult CHttpsFiltering::RemoveFromBrowsers() {
  std::lock_guard<std::mutex> work(m_storeWork);
  if (!IsCertutilAvailable()) return {false, kNoCertutil};
  const std::vector<CStoreChange> changes = RemoveFromBrowserStores(kBrowserStoreNickname);
  RefreshStores();
  return Summarize(changes, "The certificate could not be removed from");
}

CActionResult CHttpsFiltering::RemoveAuthority() {
  std::lock_guard<std::mutex> work(m_storeWork);
  // Without certutil nothing can have been added to the stores by Lumbra.
  const std::vector<CStoreChange> changes = IsCertutilAvailable()
                                                ? RemoveFromBrowserStores(kBrowserStoreNickname)
                                                : std::vector<CStoreChange>{};
  std::string error;
  {
    std::lock_guard<std::mutex> guard(m_lock);
    m_leaves.reset();
    m_authorityDer.clear();
    InstallSetupLocked();
    // The key goes whatever the stores said: a certificate left trusted in a
    // store is harmless once nothing can sign with it.
    if (HasAuthorityLocked() && m_authority->Remove(error)) {
      m_authorityStatus = {AuthorityState::kAbsent, kRemovedReason};
    } else if (m_authority) {
      m_authorityStatus = m_authority->Inspect();
    }
  }
  RefreshStores();
  if (!error.empty()) return {false, "The certificate authority could not be removed: " + error};
  return Summarize(changes, "The authority was removed, but its certificate stays in");
}
