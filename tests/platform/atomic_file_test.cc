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

TEST(AtomicFile, LeftoverRemovalSparesTempFilesInUse) {
  CScopedXdgFolders xdg;
  const std::string path = xdg.GetBase() + "/file.txt";
  CTempFile mine(path);
  ASSERT_TRUE(mine.IsCreated());
  // The parent of this process is running: its file may be a save in progress.
  const std::string parents = path + ".tmp." + std::to_string(getppid()) + ".0";
  const std::string ownEarlier = path + ".tmp." + std::to_string(getpid()) + ".999999";
  std::ofstream(parents) << "x";
  std::ofstream(ownEarlier) << "x";
  RemoveLeftoverTempFiles(path);
  EXPECT_EQ(access(mine.GetPath().c_str(), F_OK), 0);
  EXPECT_EQ(access(parents.c_str(), F_OK), 0);
  EXPECT_NE(access(ownEarlier.c_str(), F_OK), 0);
  ASSERT_TRUE(mine.Append("new"));
  EXPECT_TRUE(mine.Commit());
}

TEST(AtomicFile, ContentWrittenByNameIsCommittedWhole) {
  CScopedXdgFolders xdg;
  std::string path = xdg.GetBase() + "/file.txt";
  CTempFile temp(path);
  ASSERT_TRUE(temp.IsCreated());
  std::ofstream(temp.GetPath(), std::ios::binary) << "written by another writer";
  ASSERT_TRUE(temp.Append("+"));
  ASSERT_TRUE(temp.Commit());
  EXPECT_FALSE(temp.Commit());
  EXPECT_EQ(ReadWholeFile(path), "written by another writer+");
}

TEST(AtomicFile, MissingFolderFailsWithTheSystemError) {
  CTempFile temp("/nonexistent-folder-for-lumbra/file.txt");
  EXPECT_FALSE(temp.IsCreated());
  EXPECT_EQ(errno, ENOENT);
  EXPECT_FALSE(temp.Append("x"));
  EXPECT_FALSE(ReplaceFileAtomically("/nonexistent-folder-for-lumbra/file.txt", "x"));
  EXPECT_EQ(errno, ENOENT);
}

}  // namespace
