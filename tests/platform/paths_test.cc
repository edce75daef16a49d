#include "platform/paths.h"

#include <gtest/gtest.h>

#include "support/scoped_xdg_folders.h"

namespace {

TEST(Paths, ConfigHomeFollowsXdgThenHome) {
  CScopedEnvironmentVariable home("HOME", "/home/someone");
  {
    CScopedEnvironmentVariable configHome("XDG_CONFIG_HOME", "/custom/config");
    EXPECT_EQ(GetUserConfigHome(), "/custom/config");
  }
  // Unset, empty and relative values are all ignored.
  for (const char* value : {static_cast<const char*>(nullptr), "", "relative/config"}) {
    CScopedEnvironmentVariable configHome("XDG_CONFIG_HOME", value);
    EXPECT_EQ(GetUserConfigHome(), "/home/someone/.config");
  }
  CScopedEnvironmentVariable configHome("XDG_CONFIG_HOME", nullptr);
  CScopedEnvironmentVariable trailingSlash("HOME", "/home/someone/");
  EXPECT_EQ(GetUserConfigHome(), "/home/someone/.config");
}

TEST(Paths, RuntimeFolderFallsBackToTmp) {
  {
    CScopedEnvironmentVariable runtime("XDG_RUNTIME_DIR", "/run/user/1000");
    EXPECT_EQ(GetRuntimeFolder(), "/run/user/1000");
  }
  for (const char* value : {static_cast<const char*>(nullptr), "", "run"}) {
    CScopedEnvironmentVariable runtime("XDG_RUNTIME_DIR", value);
    EXPECT_EQ(GetRuntimeFolder(), "/tmp");
  }
}

}  // namespace
