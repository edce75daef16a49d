#include "platform/autostart_entry.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "support/scoped_xdg_folders.h"

namespace {

const AutostartEntry kEntry{"Run Lumbra", "Starts it", "/usr/bin/lumbra"};

TEST(AutostartEntry, WritableSharedFolderIsChosen) {
  CScopedXdgFolders xdg;
  std::string shared = xdg.GetBase() + "/xdg";
  mkdir(shared.c_str(), 0755);
  // Missing, but its folder may be written: it may be created.
  EXPECT_TRUE(MayWriteAutostartFolder(shared + "/autostart"));
  EXPECT_TRUE(MayWriteAutostartFolder(shared));
  EXPECT_FALSE(MayWriteAutostartFolder(xdg.GetBase() + "/missing/autostart"));
  std::ofstream(xdg.GetBase() + "/file") << "x";
  EXPECT_FALSE(MayWriteAutostartFolder(xdg.GetBase() + "/file"));
  EXPECT_FALSE(MayWriteAutostartFolder(xdg.GetBase() + "/file/autostart"));

  {
    CScopedEnvironmentVariable dirs("XDG_CONFIG_DIRS", shared.c_str());
    EXPECT_EQ(ChooseAutostartFolder(), shared + "/autostart");
  }
  CScopedEnvironmentVariable dirs("XDG_CONFIG_DIRS", (xdg.GetBase() + "/missing").c_str());
  EXPECT_EQ(ChooseAutostartFolder(), xdg.GetConfigHome() + "/autostart");
}

TEST(AutostartEntry, TextIsADesktopEntryWithAQuotedProgram) {
  EXPECT_EQ(FormatAutostartEntry(kEntry),
            "[Desktop Entry]\n"
            "Type=Application\n"
            "Name=Run Lumbra\n"
            "Comment=Starts it\n"
            "Exec=/usr/bin/lumbra\n");
  AutostartEntry spaced = kEntry;
  spaced.program = "/opt/My Apps/lumbra";
  EXPECT_NE(FormatAutostartEntry(spaced).find("\nExec=\"/opt/My Apps/lumbra\"\n"),
            std::string::npos);
  // Inside quotes $ " ` \ take a backslash, then every backslash is doubled as
  // in any string value; "%" is doubled so it starts no field code.
  spaced.program = "/opt/a$b\\c\"d%e";
  EXPECT_NE(FormatAutostartEntry(spaced).find("\nExec=\"/opt/a\\\\$b\\\\\\\\c\\\\\"d%%e\"\n"),
            std::string::npos)
      << FormatAutostartEntry(spaced);
  spaced.program = "/opt/100%/lumbra";
  EXPECT_NE(FormatAutostartEntry(spaced).find("\nExec=/opt/100%%/lumbra\n"), std::string::npos);
}

}  // namespace
