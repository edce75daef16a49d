#include "config/block_list_config.h"

#include <gtest/gtest.h>

#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

TEST(BlockListConfig, ListsCountedAmongOtherChildrenAddedRemovedAndSwitched) {
  CXmlNode document;
  ASSERT_TRUE(LoadXmlText(
      "<lumbra><blocklists><!-- mine --><note/><list name=\"A\" url=\"http://a/\" enabled=\"YES\"/>"
      "<list name=\"B\" url=\"file:///b\"/></blocklists></lumbra>",
      false, document));
  std::vector<CBlockListEntry> lists = GetBlockLists(document);
  ASSERT_EQ(lists.size(), 2u);
  EXPECT_TRUE(lists[0].enabled);
  EXPECT_EQ(lists[1].url, "file:///b");
  EXPECT_FALSE(lists[1].enabled);

  // Indices skip the foreign child: index 1 is B, index 2 does not exist.
  EXPECT_TRUE(SetBlockListEnabled(document, 1, true));
  EXPECT_FALSE(SetBlockListEnabled(document, 2, true));
  EXPECT_FALSE(RemoveBlockList(document, -1));
  EXPECT_TRUE(RemoveBlockList(document, 0));
  lists = GetBlockLists(document);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0].name, "B");
  EXPECT_TRUE(lists[0].enabled);

  // A file without the element gets it on the first list added.
  CXmlNode bare;
  ASSERT_TRUE(LoadXmlText("<lumbra><enabled>yes</enabled></lumbra>", false, bare));
  EXPECT_TRUE(GetBlockLists(bare).empty());
  EXPECT_TRUE(AddBlockList(bare, {"Ads", "https://lists.example/x", true}));
  lists = GetBlockLists(bare);
  ASSERT_EQ(lists.size(), 1u);
  EXPECT_EQ(lists[0].url, "https://lists.example/x");
  EXPECT_TRUE(lists[0].enabled);
  CXmlNode empty;
  EXPECT_FALSE(AddBlockList(empty, {"x", "http://x/", true}));
}

}  // namespace
