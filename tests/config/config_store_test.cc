#include "config/config_store.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/message_capture.h"
#include "support/scoped_xdg_folders.h"
#include "xml/xml_node.h"

namespace {

const char kCannotWrite[] =
    "Lumbra cannot save its state in this environment. Configuration resources cannot be "
    "written. (";

std::string SourceFile(const std::string& relative) {
  const char* sourceDir = std::getenv("LUMBRA_SOURCE_DIR");
  return std::string(sourceDir != nullptr ? sourceDir : ".") + "/" + relative;
}

void WriteFile(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

std::vector<std::string> ListFolder(const std::string& path) {
  std::vector<std::string> names;
  DIR* folder = opendir(path.c_str());
  if (folder == nullptr) return names;
  while (dirent* entry = readdir(folder)) {
    std::string name = entry->d_name;
    if (name != "." && name != "..") names.push_back(name);
  }
  closedir(folder);
  std::sort(names.begin(), names.end());
  return names;
}

// Makes every file write beyond `bytes` fail with EFBIG, as a full disk would.
class CScopedFileSizeLimit {
 public:
  explicit CScopedFileSizeLimit(rlim_t bytes) {
    getrlimit(RLIMIT_FSIZE, &m_old);
    m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit limit = m_old;
    limit.rlim_cur = bytes;
    setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~CScopedFileSizeLimit() {
    setrlimit(RLIMIT_FSIZE, &m_old);
    std::signal(SIGXFSZ, m_oldHandler);
  }

 private:
  rlimit m_old{};
  void (*m_oldHandler)(int) = nullptr;
};

class ConfigStoreTest : public ::testing::Test {
 protected:
  std::string Folder() const { return m_xdg.GetConfigHome() + "/Lumbra_Corvane"; }
  std::string Path() const { return Folder() + "/lumbra.xml"; }

  // Loads the configuration into a fresh document.
  bool Load(CXmlNode& document) { return LoadConfig(document); }

  CScopedXdgFolders m_xdg;
};

TEST_F(ConfigStoreTest, FirstStartWritesTheBuiltInDefault) {
  CMessageCapture messages;
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  EXPECT_TRUE(messages.GetMessages().empty());
  EXPECT_EQ(document.GetName().View(), "__root__");

  std::string written = ReadWholeFile(Path());
  EXPECT_EQ(written, GetDefaultConfigText());
  EXPECT_EQ(written, ReadWholeFile(SourceFile("resources/default-config.xml")));
  EXPECT_EQ(ListFolder(Folder()), std::vector<std::string>{"lumbra.xml"});

  EXPECT_TRUE(IsFilterEnabled(document));
  EXPECT_EQ(GetProxyPort(document), "8010");
  EXPECT_FALSE(IsCorporateProxyEnabled(document));
  EXPECT_EQ(GetCorporateProxyPort(document), "8080");
  EXPECT_FALSE(GetCorporateProxyUrl(document).empty());
  EXPECT_EQ(GetRuleCount(document), 10);
  EXPECT_TRUE(HasEnabledRule(document));
  EXPECT_EQ(GetConfigVersion(document), 1);
}

TEST_F(ConfigStoreTest, MissingParentFoldersAreCreated) {
  CScopedEnvironmentVariable configHome("XDG_CONFIG_HOME",
                                        (m_xdg.GetBase() + "/not/yet/there").c_str());
  EXPECT_EQ(GetConfigPath(), m_xdg.GetBase() + "/not/yet/there/Lumbra_Corvane/lumbra.xml");
  struct stat status {};
  ASSERT_EQ(stat((m_xdg.GetBase() + "/not/yet/there/Lumbra_Corvane").c_str(), &status), 0);
  EXPECT_TRUE(S_ISDIR(status.st_mode));
}

TEST_F(ConfigStoreTest, DefaultConfigurationHasTheDocumentedShape) {
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  const char* names[] = {"window.open",  "javascript", "ad banners",     "flash banners",
                         "no referrer",  "ActiveX",    "Personal rules", "Google AdWords",
                         "MSN AdCenter", "Yahoo! ads"};
  for (int index = 0; index < 10; ++index) {
    CXmlNode* rule = nullptr;
    GetRule(document, index, rule);
    ASSERT_NE(rule, nullptr);
    EXPECT_EQ(rule->GetAttribute("name").View(), names[index]);
    ASSERT_NE(rule->GetChild(0), nullptr);
    EXPECT_EQ(rule->GetChild(0)->GetName().View(), "enabled");
    EXPECT_EQ(rule->GetChild(0)->GetText().View(), index == 5 ? "no" : "yes");
  }
  CXmlNode* rule = nullptr;
  GetRule(document, 2, rule);
  EXPECT_EQ(rule->CountChildren("request"), 12);
  GetRule(document, 5, rule);
  EXPECT_EQ(rule->FindChild("content")->GetAttribute("contains").View(), "<object");
  GetRule(document, 6, rule);
  EXPECT_EQ(rule->CountChildren("allow"), 16);
  EXPECT_EQ(rule->CountChildren("request"), 10);
  CXmlNode* webmail = rule->FindChild("request", 9);
  ASSERT_NE(webmail->FindChild("request"), nullptr);
  EXPECT_EQ(webmail->FindChild("request")->GetAttribute("contains").View(), "&view=ad&");
  // Every replacement is padded with spaces to the length of what it replaces.
  for (int index = 7; index < 10; ++index) {
    GetRule(document, index, rule);
    CXmlNode* request = rule->FindChild("request");
    ASSERT_EQ(request->CountChildren("content"), 2);
    for (int content = 0; content < 2; ++content) {
      CXmlNode* replace = request->FindChild("content", content);
      std::string action = replace->GetAttribute("action").ToString();
      EXPECT_EQ(action.rfind("replace:accept-encoding:", 0), 0u);
      EXPECT_EQ(action.size() - 8, replace->GetAttribute("contains").View().size());
      EXPECT_EQ(replace->GetAttribute("return").View(), "0");
    }
    EXPECT_EQ(rule->FindChild("response")->GetAttribute("fromrequest").View(),
              request->GetAttribute("contains").View());
  }
}

TEST_F(ConfigStoreTest, SavingWhatWasLoadedReproducesTheFile) {
  CXmlNode first;
  ASSERT_TRUE(Load(first));
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  CMessageCapture messages;
  SaveConfig(document);
  EXPECT_TRUE(messages.GetMessages().empty());
  EXPECT_EQ(ReadWholeFile(Path()), GetDefaultConfigText());
  EXPECT_EQ(ListFolder(Folder()), std::vector<std::string>{"lumbra.xml"});
}

TEST_F(ConfigStoreTest, SavedChangesComeBackOnTheNextLoad) {
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  CXmlNode* root = document.FindChild("lumbra");
  root->RemoveAll();
  root->AddChild(CPooledString("proxyport"))->SetText(CPooledString("9090"));
  DisableFilter(document);
  SaveConfig(document);
  EXPECT_EQ(ReadWholeFile(Path()),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
            " <lumbra>\r\n"
            "  <proxyport>9090</proxyport>\r\n"
            "  <enabled>no</enabled>\r\n"
            " </lumbra>\r\n");
  CXmlNode reloaded;
  ASSERT_TRUE(Load(reloaded));
  EXPECT_EQ(GetProxyPort(reloaded), "9090");
  EXPECT_FALSE(IsFilterEnabled(reloaded));
}

TEST_F(ConfigStoreTest, LoadRemovesLeftoversOfInterruptedSavesOnly) {
  CXmlNode first;
  ASSERT_TRUE(Load(first));
  // A process id that no process has (above the kernel's largest), and this
  // process's own id, which an earlier process in another namespace may have had.
  const std::string leftovers[] = {"lumbra.xml.tmp.99999999.0",
                                   "lumbra.xml.tmp." + std::to_string(getpid()) + ".7"};
  const std::vector<std::string> kept = {"lumbra.xml.bak", "lumbra.xml.tmp.1.x",
                                         "lumbra.xml.tmp.99999999", "notes.tmp.99999999.0",
                                         "other.xml.tmp.99999999.0"};
  for (const std::string& name : leftovers) WriteFile(Folder() + "/" + name, "<lumbra>");
  for (const std::string& name : kept) WriteFile(Folder() + "/" + name, "kept");
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  std::vector<std::string> expected = kept;
  expected.push_back("lumbra.xml");
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(ListFolder(Folder()), expected);
  EXPECT_EQ(GetRuleCount(document), 10);
}

TEST_F(ConfigStoreTest, MalformedFileIsKeptAsBackupBeforeTheFirstSave) {
  ASSERT_EQ(GetConfigPath(), Path());
  const std::string broken =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
      " <lumbra>\r\n"
      "  <enabled>yes</enabled>\r\n"
      "  <proxyport>8123</proxyport>\r\n"
      "  <corporateproxy url=\"a\" port=\"1\"> <\r\n"
      "  <filterrules>\r\n"
      "   <filterrule name=\"lost without the backup\"><enabled>yes</enabled></filterrule>\r\n"
      "  </filterrules>\r\n"
      " </lumbra>\r\n";
  WriteFile(Path(), broken);
  CMessageCapture messages;
  CXmlNode document;
  EXPECT_TRUE(Load(document));
  ASSERT_EQ(messages.GetMessages().size(), 1u);
  EXPECT_EQ(messages.GetMessages()[0].caption, "xml parser error");
  EXPECT_EQ(messages.GetMessages()[0].text.rfind("Parse error in line 5 : (", 0), 0u);
  // The tree holds what came before the faulty line.
  EXPECT_TRUE(IsFilterEnabled(document));
  EXPECT_EQ(GetProxyPort(document), "8123");
  EXPECT_EQ(GetCorporateProxyUrl(document), "a");
  EXPECT_EQ(GetRuleCount(document), 0);
  EXPECT_FALSE(HasEnabledRule(document));
  EXPECT_NE(access((Path() + ".bak").c_str(), F_OK), 0);

  SaveConfig(document);
  EXPECT_EQ(ReadWholeFile(Path() + ".bak"), broken);
  EXPECT_NE(ReadWholeFile(Path()), broken);
  std::string firstSave = ReadWholeFile(Path());
  // Later saves leave the backup alone.
  SetProxyPort(document, "8124");
  SaveConfig(document);
  EXPECT_EQ(ReadWholeFile(Path() + ".bak"), broken);
  EXPECT_NE(ReadWholeFile(Path()), firstSave);
  EXPECT_EQ(messages.GetMessages().size(), 1u);
}

TEST_F(ConfigStoreTest, CleanLoadNeedsNoBackup) {
  CXmlNode first;
  ASSERT_TRUE(Load(first));
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  SaveConfig(document);
  EXPECT_EQ(ListFolder(Folder()), std::vector<std::string>{"lumbra.xml"});
}

TEST_F(ConfigStoreTest, UnbalancedFileFailsToLoadAndIsBackedUpOnSave) {
  ASSERT_EQ(GetConfigPath(), Path());
  const std::string unbalanced =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n <lumbra>\r\n  "
      "<proxyport>8010</proxyport>\r\n </lumbra>\r\n</extra>\r\n";
  WriteFile(Path(), unbalanced);
  CMessageCapture messages;
  CXmlNode document;
  EXPECT_FALSE(Load(document));
  ASSERT_EQ(messages.GetMessages().size(), 1u);
  EXPECT_EQ(messages.GetMessages()[0].caption, "xml dom reader");
  EXPECT_EQ(messages.GetMessages()[0].text, "unbalanced extra element tags");
  EXPECT_EQ(GetProxyPort(document), "8010");
  SaveConfig(document);
  EXPECT_EQ(ReadWholeFile(Path() + ".bak"), unbalanced);
}

TEST_F(ConfigStoreTest, FailedSaveLeavesTheOldFileWhole) {
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  SetProxyPort(document, "9999");
  CMessageCapture messages;
  {
    // Room for less than the file: every write past it fails, as on a full disk.
    CScopedFileSizeLimit limit(1000);
    SaveConfig(document);
  }
  EXPECT_EQ(ReadWholeFile(Path()), GetDefaultConfigText());
  EXPECT_EQ(ListFolder(Folder()), std::vector<std::string>{"lumbra.xml"});
  ASSERT_FALSE(messages.GetTexts().empty());
  EXPECT_EQ(messages.GetTexts().back(), kCannotWrite + Path() + ")");
}

TEST_F(ConfigStoreTest, FirstStartOnAFullDiskLeavesNoTruncatedFile) {
  CMessageCapture messages;
  CXmlNode document;
  {
    CScopedFileSizeLimit limit(1000);
    EXPECT_FALSE(Load(document));
  }
  EXPECT_EQ(messages.GetTexts(),
            std::vector<std::string>{"Lumbra cannot work in this environment. Configuration "
                                     "resources cannot be compiled."});
  EXPECT_TRUE(ListFolder(Folder()).empty());
  // With room again, the next start writes the default.
  EXPECT_TRUE(Load(document));
  EXPECT_EQ(ReadWholeFile(Path()), GetDefaultConfigText());
}

TEST_F(ConfigStoreTest, SaveIntoAReadOnlyFolderLeavesTheOldFile) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  SetProxyPort(document, "9999");
  chmod(Folder().c_str(), 0500);
  CMessageCapture messages;
  SaveConfig(document);
  chmod(Folder().c_str(), 0700);
  EXPECT_EQ(ReadWholeFile(Path()), GetDefaultConfigText());
  EXPECT_EQ(messages.GetTexts(), (std::vector<std::string>{"Access denied. (" + Path() + ")",
                                                           kCannotWrite + Path() + ")"}));
}

TEST_F(ConfigStoreTest, SaveWithoutRootElementShowsTheWriteMessage) {
  CXmlNode first;
  ASSERT_TRUE(Load(first));
  CXmlNode document(CPooledString("__root__"));
  document.AddChild(CPooledString("other"));
  CMessageCapture messages;
  SaveConfig(document);
  EXPECT_EQ(messages.GetTexts(), std::vector<std::string>{kCannotWrite + Path() + ")"});
  EXPECT_EQ(ReadWholeFile(Path()), GetDefaultConfigText());
}

TEST_F(ConfigStoreTest, SaveThroughASymbolicLinkReplacesItsTarget) {
  CXmlNode document;
  ASSERT_TRUE(Load(document));
  std::string target = m_xdg.GetBase() + "/dotfiles-lumbra.xml";
  ASSERT_EQ(rename(Path().c_str(), target.c_str()), 0);
  ASSERT_EQ(symlink(target.c_str(), Path().c_str()), 0);
  SetProxyPort(document, "9191");
  SaveConfig(document);
  struct stat status {};
  ASSERT_EQ(lstat(Path().c_str(), &status), 0);
  EXPECT_TRUE(S_ISLNK(status.st_mode));
  EXPECT_NE(ReadWholeFile(target).find("<proxyport>9191</proxyport>"), std::string::npos);
}

TEST_F(ConfigStoreTest, FolderThatCannotBeCreatedIsReported) {
  std::string blocker = m_xdg.GetBase() + "/a-file";
  WriteFile(blocker, "x");
  CScopedEnvironmentVariable configHome("XDG_CONFIG_HOME", blocker.c_str());
  std::string folder = blocker + "/Lumbra_Corvane";
  CMessageCapture messages;
  EXPECT_EQ(GetConfigFolder(), "");
  EXPECT_EQ(GetConfigPath(), "");
  EXPECT_EQ(messages.GetTexts(), (std::vector<std::string>{"Wrong file path. (" + folder + ")",
                                                           "Wrong file path. (" + folder + ")"}));
  messages.Clear();
  CXmlNode document;
  EXPECT_FALSE(LoadConfig(document));
  SaveConfig(document);
  EXPECT_EQ(messages.GetTexts(),
            (std::vector<std::string>{
                "Wrong file path. (" + folder + ")",
                "Lumbra cannot work in this environment. Configuration cannot be gathered.",
                "Wrong file path. (" + folder + ")",
                "Lumbra cannot save its state in this environment. Configuration resources "
                "cannot be compiled."}));
}

TEST_F(ConfigStoreTest, FolderInAReadOnlyHomeIsReportedAsAccessDenied) {
  if (geteuid() == 0) GTEST_SKIP() << "permissions do not bind the super-user";
  chmod(m_xdg.GetConfigHome().c_str(), 0500);
  CMessageCapture messages;
  EXPECT_EQ(GetConfigFolder(), "");
  chmod(m_xdg.GetConfigHome().c_str(), 0700);
  EXPECT_EQ(messages.GetTexts(), std::vector<std::string>{"Access denied. (" + Folder() + ")"});
}

TEST(ShowFileError, MapsTheSystemErrorToItsText) {
  const std::pair<int, const char*> cases[] = {{ENOENT, "Wrong file path."},
                                               {ENOTDIR, "Wrong file path."},
                                               {EACCES, "Access denied."},
                                               {EPERM, "Access denied."},
                                               {EROFS, "File write protected."},
                                               {EWOULDBLOCK, "File locked."},
                                               {EBUSY, "File locked."},
                                               {ETXTBSY, "File locked."},
                                               {ENOSPC, "Disk is full."},
                                               {EDQUOT, "Disk is full."},
                                               {EIO, "File Operation could not succeed."},
                                               {0, "File Operation could not succeed."}};
  for (const auto& [error, text] : cases) {
    CMessageCapture messages;
    errno = error;
    ShowFileError("/some/path");
    errno = error;
    ShowFileError("");
    ASSERT_EQ(messages.GetMessages().size(), 2u);
    EXPECT_EQ(messages.GetMessages()[0].caption, "Lumbra");
    EXPECT_EQ(messages.GetMessages()[0].text, std::string(text) + " (/some/path)");
    EXPECT_EQ(messages.GetMessages()[1].text, text);
  }
}

}  // namespace
