// The certificate stores of the user's own browsers, all NSS databases changed
// with certutil: the shared store Chromium reads (~/.pki/nssdb), the newer shared
// location (~/.local/share/pki/nssdb) and each Firefox profile's cert9.db.
#pragma once

#include <string>
#include <vector>

struct CBrowserStore {
  std::string name;    // for people: "Chromium (~/.pki/nssdb)", "Firefox profile abc.default"
  std::string folder;  // the NSS database folder
};

// The stores found: Chromium's shared store always (it is made when a
// certificate is added and it does not exist yet), the others when they exist.
std::vector<CBrowserStore> FindBrowserStores();

// What changing one store came to, checked afterwards with certutil itself.
struct CStoreChange {
  std::string store;
  bool done = false;
  std::string detail;  // certutil's own words when it failed
};

// Whether certutil (Debian package libnss3-tools) can be run at all.
bool IsCertutilAvailable();

// Adds the PEM certificate at `certificatePath` under `nickname` to every store,
// trusted to identify web sites.
std::vector<CStoreChange> AddToBrowserStores(const std::string& certificatePath,
                                             const std::string& nickname);
// Removes every certificate named `nickname` from every store.
std::vector<CStoreChange> RemoveFromBrowserStores(const std::string& nickname);
// The stores that hold a certificate named `nickname`.
bool StoreHolds(const CBrowserStore& store, const std::string& nickname);
