#include "xml/xml_node.h"

#include <gtest/gtest.h>

#include <memory>

namespace {

TEST(XmlNode, LookupsIgnoreCaseAndCountFromZero) {
  CXmlNode root("__root__");
  EXPECT_EQ(root.GetParent(), nullptr);
  CXmlNode* first = root.AddChild("Rule");
  CXmlNode* other = root.AddChild("enabled");
  CXmlNode* second = root.AddChild("RULE");
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(first->GetParent(), &root);
  EXPECT_EQ(root.GetChildCount(), 3);
  EXPECT_EQ(root.GetChild(1), other);
  EXPECT_EQ(root.GetChild(3), nullptr);
  EXPECT_EQ(root.GetChild(-1), nullptr);
  EXPECT_EQ(root.FindChild("ENABLED"), other);
  EXPECT_EQ(root.FindChild("rule"), first);
  EXPECT_EQ(root.FindChild("rule", 1), second);
  EXPECT_EQ(root.FindChild("rule", 2), nullptr);
  EXPECT_EQ(root.FindChild("rule", -1), nullptr);
  EXPECT_EQ(root.FindChild("rul"), nullptr);
  EXPECT_EQ(root.CountChildren("rUlE"), 2);
  EXPECT_EQ(root.CountChildren("none"), 0);

  first->AddAttribute("Name", "a");
  first->AddAttribute("name", "b");
  EXPECT_EQ(first->GetAttribute("NAME").View(), "a");
  EXPECT_TRUE(first->GetAttribute("missing").IsEmpty());
  EXPECT_EQ(first->GetAttributeName(1).View(), "name");
  EXPECT_TRUE(first->GetAttributeName(2).IsEmpty());
  EXPECT_TRUE(first->GetAttributeValue(-1).IsEmpty());
}

}  // namespace
