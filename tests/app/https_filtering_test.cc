// Tests of HTTPS filtering in the options controller: the authority made once and
// reused, a damaged one reported and left alone, sites checked, the proxy's setup.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <memory>
#include <string>

#include "app/https_site_suggestions.h"
#include "app/options_controller.h"
#include "config/config_store.h"
#include "config/page_recorder.h"
#include "inspection/https_inspection.h"
#include "support/message_capture.h"
#include "support/scoped_xdg_folders.h"
#include "support/temp_folder.h"
#include "xml/xml_node.h"

namespace {

class HttpsFilteringTest : public ::testing::Test {
 protected:
  void SetUp() override { Start(); }
  void TearDown() override { GetHttpsInspection().Replace(nullptr); }

  // A new controller on the file as it is, as at the program's start.
  COptionsController& Start() {
    m_controller = std::make_unique<COptionsController>(CShellServices{}, m_recorder);
    CXmlNode document;
    EXPECT_TRUE(LoadConfig(document));
    m_controller->TakeConfig(document);
    return *m_controller;
  }

  std::string CaFile(const char* name) const { return GetConfigFolder() + "/ca/" + name; }
  CHttpsFilteringStatus Status() const { return m_controller->GetView().httpsFiltering; }
  static bool Inspected(const char* host) { return GetHttpsInspection().SetupFor(host) != nullptr; }

  CScopedXdgFolders m_folders;
  // certutil looks at the stores of this home only.
  CScopedEnvironmentVariable m_home{"HOME", m_folders.GetBase().c_str()};
  CMessageCapture m_messages;
  CPageRecorder m_recorder;
  std::unique_ptr<COptionsController> m_controller;
};

TEST_F(HttpsFilteringTest, SwitchingOnMakesTheAuthorityOnceAndReusesIt) {
  EXPECT_EQ(Status().authority.state, AuthorityState::kAbsent);
  ASSERT_TRUE(m_controller->SetHttpsSites({"Google.COM.", "10.0.0.1"}).ok);
  EXPECT_FALSE(Inspected("www.google.com")) << "off: nothing is inspected";
  ASSERT_TRUE(m_controller->SetHttpsFilteringEnabled(true).ok);
  const std::string fingerprint = Status().fingerprint;
  ASSERT_EQ(fingerprint.size(), 95u);
  struct stat key {};
  ASSERT_EQ(stat(CaFile("lumbra-ca.key").c_str(), &key), 0);
  EXPECT_EQ(key.st_mode & 0777, 0600u);
  EXPECT_TRUE(Inspected("www.google.com"));
  EXPECT_TRUE(Inspected("10.0.0.1"));
  EXPECT_FALSE(Inspected("bing.com"));
  EXPECT_TRUE(m_controller->GetHttpsCertificatePem().starts_with("-----BEGIN CERTIFICATE-----"));

  // Off and on, a reload and a new run all use the same authority.
  ASSERT_TRUE(m_controller->SetHttpsFilteringEnabled(false).ok);
  EXPECT_FALSE(Inspected("www.google.com"));
  ASSERT_TRUE(m_controller->SetHttpsFilteringEnabled(true).ok);
  m_controller->Reload();
  EXPECT_TRUE(Inspected("www.google.com"));
  Start();
  EXPECT_EQ(Status().fingerprint, fingerprint);
  EXPECT_EQ(Status().settings.sites, (std::vector<std::string>{"google.com", "10.0.0.1"}));

  // Removing it switches the feature off and deletes the files.
  EXPECT_TRUE(m_controller->RemoveHttpsAuthority().ok);
  EXPECT_FALSE(Inspected("www.google.com"));
  EXPECT_EQ(stat(CaFile("lumbra-ca.key").c_str(), &key), -1);
  EXPECT_FALSE(Status().settings.enabled);
  EXPECT_TRUE(m_controller->GetHttpsCertificatePem().empty());
}

TEST_F(HttpsFilteringTest, DamagedAuthorityIsReportedAndNeverReplaced) {
  ASSERT_TRUE(m_controller->SetHttpsSites({"example.com"}).ok);
  ASSERT_EQ(mkdir((GetConfigFolder() + "/ca").c_str(), 0700), 0);
  ASSERT_TRUE(WriteWholeFile(CaFile("lumbra-ca.pem"), "not a certificate"));
  ASSERT_TRUE(WriteWholeFile(CaFile("lumbra-ca.key"), "not a key"));
  ASSERT_EQ(chmod(CaFile("lumbra-ca.key").c_str(), 0600), 0);

  const CActionResult switched = m_controller->SetHttpsFilteringEnabled(true);
  EXPECT_FALSE(switched.ok);
  EXPECT_NE(switched.message.find("lumbra-ca.pem holds no readable PEM certificate"),
            std::string::npos)
      << switched.message;
  EXPECT_EQ(Status().authority.state, AuthorityState::kDamaged);
  EXPECT_FALSE(Inspected("example.com"));
  Start();
  EXPECT_EQ(ReadWholeFile(CaFile("lumbra-ca.pem")), "not a certificate");
  EXPECT_EQ(ReadWholeFile(CaFile("lumbra-ca.key")), "not a key");
  EXPECT_FALSE(m_controller->InstallHttpsCertificate().ok);
}

TEST_F(HttpsFilteringTest, BadSitesAreRefusedWithTheEntryNamed) {
  ASSERT_TRUE(m_controller->SetHttpsSites({"bing.com"}).ok);
  const std::string before = ReadWholeFile(GetConfigPath());
  for (const char* bad : {"bad site", "http://example.com/", "*.example.com", "300.1.2.3", ""}) {
    const CActionResult refused = m_controller->SetHttpsSites({"google.com", bad});
    EXPECT_FALSE(refused.ok) << bad;
    EXPECT_NE(refused.message.find(std::string("\"") + bad + "\" is not a site"), std::string::npos)
        << refused.message;
  }
  EXPECT_EQ(ReadWholeFile(GetConfigPath()), before);
}

TEST(HttpsSiteSuggestions, TheBuiltInSiteRulesGiveTheSearchEngines) {
  CXmlNode document;
  CMessageCapture messages;
  CScopedXdgFolders folders;
  ASSERT_TRUE(LoadConfig(document));
  EXPECT_EQ(SuggestHttpsSites(document),
            (std::vector<std::string>{"google.com", "bing.com", "search.yahoo.com"}));
}

}  // namespace
