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
#include <string>
#include <vector>

#include "support/message_capture.h"
#include "support/scoped_xdg_folders.h"
#include "xml/xml_node.h"

namespace {

const char kCannotWrite[] =
    "Lumbra cannot save its state in this environment. Configuration resources cannot be "
    "written. (";

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
  for (const std::string& name : leftovers) WriteWholeFile(Folder() + "/" + name, "<lumbra>");
  for (const std::string& name : kept) WriteWholeFile(Folder() + "/" + name, "kept");
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
  WriteWholeFile(Path(), broken);
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

TEST_F(ConfigStoreTest, UnbalancedFileFailsToLoadAndIsBackedUpOnSave) {
  ASSERT_EQ(GetConfigPath(), Path());
  const std::string unbalanced =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n <lumbra>\r\n  "
      "<proxyport>8010</proxyport>\r\n </lumbra>\r\n</extra>\r\n";
  WriteWholeFile(Path(), unbalanced);
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
  WriteWholeFile(blocker, "x");
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

}  // namespace
