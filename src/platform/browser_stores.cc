// The certificate stores of the user's own browsers, changed with certutil.
#include "platform/browser_stores.h"

#include <dirent.h>

#include <algorithm>
#include <memory>

#include "platform/directory.h"
#include "platform/file_status.h"
#include "platform/paths.h"
#include "platform/process_start.h"

namespace {

constexpr char kCertutil[] = "certutil";
constexpr int kCertutilTimeoutMs = 15'000;
// A store holds at most a few copies of one name; the bound keeps a store that
// will not let go from looping forever.
constexpr int kMaxRemovals = 8;

std::string Database(const CBrowserStore& store) { return "sql:" + store.folder; }

CProgramRun Certutil(const std::vector<std::string>& arguments) {
  return RunProgram(kCertutil, arguments, kCertutilTimeoutMs);
}

std::string Trimmed(std::string text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.pop_back();
  return text.empty() ? "certutil failed" : text;
}

// Firefox profiles: the folders below `profiles` that hold a cert9.db.
void AddFirefoxProfiles(const std::string& profiles, std::vector<CBrowserStore>& stores) {
  const std::unique_ptr<DIR, int (*)(DIR*)> folder(::opendir(profiles.c_str()), ::closedir);
  if (!folder) return;
  std::vector<std::string> names;
  while (const dirent* entry = ::readdir(folder.get())) {
    const std::string name = entry->d_name;
    if (name != "." && name != ".." && PathExists(JoinPath(JoinPath(profiles, name), "cert9.db")))
      names.push_back(name);
  }
  std::sort(names.begin(), names.end());
  for (const std::string& name : names)
    stores.push_back({"Firefox profile " + name, JoinPath(profiles, name)});
}

}  // namespace

std::vector<CBrowserStore> FindBrowserStores() {
  std::vector<CBrowserStore> stores;
  const std::string home = GetHomeFolder();
  if (home.empty()) return stores;
  stores.push_back({"Chromium (~/.pki/nssdb)", JoinPath(home, ".pki/nssdb")});
  const std::string shared = JoinPath(GetUserDataHome(), "pki/nssdb");
  if (PathExists(shared)) stores.push_back({"Shared NSS store (" + shared + ")", shared});
  AddFirefoxProfiles(JoinPath(home, ".mozilla/firefox"), stores);
  AddFirefoxProfiles(JoinPath(home, "snap/firefox/common/.mozilla/firefox"), stores);
  return stores;
}

bool IsCertutilAvailable() { return Certutil({"-H"}).started; }

bool StoreHolds(const CBrowserStore& store, const std::string& nickname) {
  return Certutil({"-L", "-d", Database(store), "-n", nickname}).exitStatus == 0;
}

std::vector<CStoreChange> AddToBrowserStores(const std::string& certificatePath,
                                             const std::string& nickname) {
  std::vector<CStoreChange> changes;
  for (const CBrowserStore& store : FindBrowserStores()) {
    CStoreChange change{store.name, false, {}};
    // Chromium makes its store on first start; a browser not yet started gets an
    // empty one, as Chromium would make it.
    if (!PathExists(JoinPath(store.folder, "cert9.db")) &&
        (!CreateDirectories(store.folder) ||
         Certutil({"-N", "-d", Database(store), "--empty-password"}).exitStatus != 0)) {
      change.detail = "The store could not be created.";
      changes.push_back(change);
      continue;
    }
    const CProgramRun added = Certutil(
        {"-A", "-d", Database(store), "-n", nickname, "-t", "C,,", "-i", certificatePath});
    change.done = added.exitStatus == 0 && StoreHolds(store, nickname);
    if (!change.done) change.detail = Trimmed(added.output);
    changes.push_back(change);
  }
  return changes;
}

std::vector<CStoreChange> RemoveFromBrowserStores(const std::string& nickname) {
  std::vector<CStoreChange> changes;
  for (const CBrowserStore& store : FindBrowserStores()) {
    CStoreChange change{store.name, false, {}};
    if (!PathExists(JoinPath(store.folder, "cert9.db"))) {
      change.done = true;
      changes.push_back(change);
      continue;
    }
    std::string output;
    for (int i = 0; i < kMaxRemovals && StoreHolds(store, nickname); ++i)
      output = Certutil({"-D", "-d", Database(store), "-n", nickname}).output;
    change.done = !StoreHolds(store, nickname);
    if (!change.done) change.detail = Trimmed(output);
    changes.push_back(change);
  }
  return changes;
}
