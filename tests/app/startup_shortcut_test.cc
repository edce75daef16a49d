// Tests of the "Run Lumbra" autostart entry; the choice of folder and the entry's
// format are the autostart entry's own (tests/platform).
#include "app/startup_shortcut.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/program_path.h"
#include "support/scoped_xdg_folders.h"

namespace {

class StartupShortcutTest : public testing::Test {
 protected:
  std::string Entry() const { return m_xdg.GetConfigHome() + "/autostart/Run Lumbra.desktop"; }

  CScopedXdgFolders m_xdg;
  CScopedEnvironmentVariable m_dirs{"XDG_CONFIG_DIRS", (m_xdg.GetBase() + "/no/xdg").c_str()};
  CStartupShortcut m_shortcut;
};

TEST_F(StartupShortcutTest, FailuresAreReported) {
  // The configuration home lies under a file: no folder can be made there.
  const std::string file = m_xdg.GetBase() + "/plain-file";
  std::ofstream(file) << "x";
  {
    CScopedEnvironmentVariable home("XDG_CONFIG_HOME", (file + "/config").c_str());
    EXPECT_FALSE(m_shortcut.Create());
  }
  // Something that is not a file under the entry's name cannot be removed.
  mkdir((m_xdg.GetConfigHome() + "/autostart").c_str(), 0755);
  mkdir(Entry().c_str(), 0755);
  std::ofstream(Entry() + "/inside") << "x";
  EXPECT_FALSE(m_shortcut.Remove());
}

}  // namespace
