#include "platform/browser_stores.h"

#include <gtest/gtest.h>


#include "platform/process_start.h"
#include "support/scoped_xdg_folders.h"
#include "support/temp_folder.h"

namespace {

TEST(RunProgram, ReportsStatusOutputAndEndsAProgramThatTakesTooLong) {
  const CProgramRun echoed = RunProgram("sh", {"-c", "echo out; echo err >&2; exit 3"}, 5000);
  EXPECT_TRUE(echoed.started);
  EXPECT_EQ(echoed.exitStatus, 3);
  EXPECT_EQ(echoed.output, "out\nerr\n");
  EXPECT_FALSE(RunProgram("no-such-program-here", {}, 5000).started);
  const CProgramRun slow = RunProgram("sleep", {"30"}, 200);
  EXPECT_TRUE(slow.started);
  EXPECT_EQ(slow.exitStatus, -1);
}

// Adding makes Chromium's store when it is missing, finds Firefox profiles, and
// removing takes the certificate out again, each checked with certutil.
TEST(BrowserStores, CertificateAddedToEveryStoreAndRemovedAgain) {
  if (!IsCertutilAvailable()) GTEST_SKIP() << "certutil (libnss3-tools) is not installed";
  const CTempFolder home;
  const std::string firefox = home.Path() + "/.mozilla/firefox/abc.default";
  ASSERT_EQ(RunProgram("mkdir", {"-p", firefox}, 5000).exitStatus, 0);
  ASSERT_EQ(RunProgram("certutil", {"-N", "-d", "sql:" + firefox, "--empty-password"}, 15000)
                .exitStatus,
            0);
  const std::string pem = home.Path() + "/ca.pem";
  ASSERT_EQ(RunProgram("openssl", {"req", "-x509", "-newkey", "ec", "-pkeyopt",
                                   "ec_paramgen_curve:P-256", "-nodes", "-keyout",
                                   home.Path() + "/ca.key", "-out", pem, "-subj", "/CN=Test CA",
                                   "-days", "2"},
                       15000)
                .exitStatus,
            0);
  const CScopedEnvironmentVariable homeVariable("HOME", home.Path().c_str());
  const CScopedEnvironmentVariable dataHome("XDG_DATA_HOME", nullptr);
  const std::vector<CBrowserStore> stores = FindBrowserStores();
  ASSERT_EQ(stores.size(), 2u);
  EXPECT_EQ(stores[1].name, "Firefox profile abc.default");
  for (const CStoreChange& change : AddToBrowserStores(pem, "Lumbra test"))
    EXPECT_TRUE(change.done) << change.store << ": " << change.detail;
  for (const CBrowserStore& store : stores) EXPECT_TRUE(StoreHolds(store, "Lumbra test"));
  for (const CStoreChange& change : RemoveFromBrowserStores("Lumbra test"))
    EXPECT_TRUE(change.done) << change.store << ": " << change.detail;
  for (const CBrowserStore& store : stores) EXPECT_FALSE(StoreHolds(store, "Lumbra test"));
}

}  // namespace
