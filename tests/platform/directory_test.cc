#include "platform/directory.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <fstream>

#include "platform/file_status.h"
#include "support/scoped_xdg_folders.h"

namespace {

bool IsFolder(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

TEST(Directory, CreatesMissingParentsAndAcceptsExistingFolders) {
  CScopedXdgFolders xdg;
  std::string nested = xdg.GetBase() + "/a//b/c/";
  ASSERT_TRUE(CreateDirectories(nested));
  EXPECT_TRUE(IsFolder(xdg.GetBase() + "/a/b/c"));
  EXPECT_TRUE(CreateDirectories(nested));
  EXPECT_TRUE(PathExists(xdg.GetBase() + "/a/b"));
  EXPECT_FALSE(PathExists(xdg.GetBase() + "/a/x"));
  EXPECT_FALSE(PathExists(""));
}

TEST(Directory, AFileInTheWayFailsWithNotADirectory) {
  CScopedXdgFolders xdg;
  std::string file = xdg.GetBase() + "/file";
  std::ofstream(file) << "x";
  EXPECT_FALSE(CreateDirectories(file));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_FALSE(CreateDirectories(file + "/below"));
  EXPECT_EQ(errno, ENOTDIR);
  EXPECT_TRUE(PathExists(file));
  EXPECT_FALSE(CreateDirectories(""));
}

}  // namespace
