#include "platform/file_copy.h"

#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "support/scoped_xdg_folders.h"

namespace {

TEST(FileCopy, CopiesEveryByteAndReplacesTheDestination) {
  CScopedXdgFolders xdg;
  std::string from = xdg.GetBase() + "/from";
  std::string to = xdg.GetBase() + "/to";
  std::string content;
  for (int index = 0; index < 200000; ++index) content.push_back(static_cast<char>(index * 7));
  std::ofstream(from, std::ios::binary) << content;
  std::ofstream(to, std::ios::binary) << "old destination";
  ASSERT_TRUE(CopyFile(from, to));
  EXPECT_EQ(ReadWholeFile(to), content);
  EXPECT_EQ(ReadWholeFile(from), content);
}

}  // namespace
