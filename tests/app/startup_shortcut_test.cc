#include "app/startup_shortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/program_path.h"
#include "support/scoped_xdg_folders.h"

namespace {

constexpr char kProgram[] = "/opt/Lumbra Tools/lumbra";
constexpr char kEntryText[] =
    "[Desktop Entry]\n"
    "Type=Application\n"
    "Name=Run Lumbra\n"
    "Comment=Lumbra shortcun to run the tool when Windows starts\n"
    "Exec=\"/opt/Lumbra Tools/lumbra\"\n";

// Temporary XDG folders with no writable shared folder unless a test sets one.
class StartupShortcutTest : public testing::Test {
 protected:
  std::string UserEntry() const { return m_xdg.GetConfigHome() + "/autostart/Run Lumbra.desktop"; }

  CScopedXdgFolders m_xdg;
  CScopedEnvironmentVariable m_dirs{"XDG_CONFIG_DIRS", (m_xdg.GetBase() + "/no/xdg").c_str()};
  CStartupShortcut m_shortcut{kProgram};
};

TEST_F(StartupShortcutTest, CreateExistsRemoveInTheUsersFolder) {
  EXPECT_FALSE(m_shortcut.Exists());
  // Nothing to remove is success.
  EXPECT_TRUE(m_shortcut.Remove());

  ASSERT_TRUE(m_shortcut.Create());
  EXPECT_TRUE(m_shortcut.Exists());
  EXPECT_EQ(ReadWholeFile(UserEntry()), kEntryText);

  // Creating again leaves the entry as it is, even one made for another path.
  std::ofstream(UserEntry(), std::ios::binary) << "[Desktop Entry]\nExec=/old/place\n";
  EXPECT_TRUE(CStartupShortcut("/new/place").Create());
  EXPECT_EQ(ReadWholeFile(UserEntry()), "[Desktop Entry]\nExec=/old/place\n");

  EXPECT_TRUE(m_shortcut.Remove());
  EXPECT_FALSE(m_shortcut.Exists());
  EXPECT_TRUE(m_shortcut.Remove());
}

TEST_F(StartupShortcutTest, WritableSharedFolderTakesTheEntry) {
  std::string shared = m_xdg.GetBase() + "/xdg";
  mkdir(shared.c_str(), 0755);
  {
    CScopedEnvironmentVariable dirs("XDG_CONFIG_DIRS", (shared + ":/etc/xdg").c_str());
    ASSERT_TRUE(m_shortcut.Create());
    EXPECT_EQ(ReadWholeFile(shared + "/autostart/Run Lumbra.desktop"), kEntryText);
    EXPECT_EQ(ReadWholeFile(UserEntry()), "");
  }
  // A user who may not write the shared folder does not see that entry.
  EXPECT_FALSE(m_shortcut.Exists());
  ASSERT_TRUE(m_shortcut.Create());
  EXPECT_EQ(ReadWholeFile(UserEntry()), kEntryText);
  EXPECT_TRUE(m_shortcut.Remove());
  EXPECT_EQ(ReadWholeFile(shared + "/autostart/Run Lumbra.desktop"), kEntryText);

  CScopedEnvironmentVariable dirs("XDG_CONFIG_DIRS", shared.c_str());
  EXPECT_TRUE(m_shortcut.Exists());
  EXPECT_TRUE(m_shortcut.Remove());
  EXPECT_FALSE(m_shortcut.Exists());
}

TEST_F(StartupShortcutTest, FailuresAreReported) {
  // The configuration home lies under a file: no folder can be made there.
  std::string file = m_xdg.GetBase() + "/plain-file";
  std::ofstream(file) << "x";
  {
    CScopedEnvironmentVariable home("XDG_CONFIG_HOME", (file + "/config").c_str());
    EXPECT_FALSE(m_shortcut.Create());
    EXPECT_FALSE(m_shortcut.Exists());
  }
  // Something that is not a file under the entry's name cannot be removed.
  mkdir((m_xdg.GetConfigHome() + "/autostart").c_str(), 0755);
  mkdir(UserEntry().c_str(), 0755);
  std::ofstream(UserEntry() + "/inside") << "x";
  EXPECT_TRUE(m_shortcut.Exists());
  EXPECT_FALSE(m_shortcut.Remove());
}

TEST_F(StartupShortcutTest, DefaultEntryStartsTheRunningProgram) {
  CStartupShortcut running;
  ASSERT_TRUE(running.Create());
  std::string text = ReadWholeFile(UserEntry());
  EXPECT_NE(text.find("\nExec=" + GetProgramPath() + "\n"), std::string::npos) << text;
}

}  // namespace
