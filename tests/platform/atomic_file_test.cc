#include "platform/atomic_file.h"

#include <dirent.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <fstream>

#include "support/scoped_xdg_folders.h"

namespace {

int CountEntries(const std::string& folder) {
  int count = 0;
  DIR* directory = opendir(folder.c_str());
  while (dirent* entry = readdir(directory)) count += entry->d_name[0] != '.';
  closedir(directory);
  return count;
}

TEST(AtomicFile, ReplacesContentAndKeepsTheFileMode) {
  CScopedXdgFolders xdg;
  std::string path = xdg.GetBase() + "/file.txt";
  ASSERT_TRUE(ReplaceFileAtomically(path, "first"));
  EXPECT_EQ(ReadWholeFile(path), "first");
  chmod(path.c_str(), 0640);
  ASSERT_TRUE(ReplaceFileAtomically(path, std::string("second\0with nul", 15)));
  EXPECT_EQ(ReadWholeFile(path), std::string("second\0with nul", 15));
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0640u);
  EXPECT_EQ(CountEntries(xdg.GetBase()), 3);  // config, runtime, file.txt
}

TEST(AtomicFile, UncommittedTempFileIsRemovedAndTargetUntouched) {
  CScopedXdgFolders xdg;
  std::string path = xdg.GetBase() + "/file.txt";
  ASSERT_TRUE(ReplaceFileAtomically(path, "old"));
  std::string tempPath;
  {
    CTempFile temp(path);
    ASSERT_TRUE(temp.IsCreated());
    tempPath = temp.GetPath();
    EXPECT_EQ(tempPath.rfind(path, 0), 0u) << "beside the target";
    ASSERT_TRUE(temp.Append("new"));
  }
  EXPECT_NE(access(tempPath.c_str(), F_OK), 0);
  EXPECT_EQ(ReadWholeFile(path), "old");
}

}  // namespace
