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

TEST(XmlNode, RemoveAllKeepsNameAndTextCopyFromAppends) {
  CXmlNode source("source");
  source.SetText("text");
  source.AddAttribute("k", "v");
  CXmlNode* child = source.AddChild("child");
  child->AddChild("grandchild")->SetText("g");

  CXmlNode target("target");
  target.AddAttribute("old", "1");
  target.AddChild("old");
  target.CopyFrom(&source);
  EXPECT_EQ(target.GetName().View(), "source");
  EXPECT_EQ(target.GetText().View(), "text");
  ASSERT_EQ(target.GetAttributeCount(), 2);
  EXPECT_EQ(target.GetAttributeName(1).View(), "k");
  ASSERT_EQ(target.GetChildCount(), 2);
  EXPECT_EQ(target.GetChild(0)->GetName().View(), "old");
  CXmlNode* copied = target.GetChild(1);
  EXPECT_NE(copied, child);
  EXPECT_EQ(copied->GetParent(), &target);
  EXPECT_EQ(copied->FindChild("grandchild")->GetText().View(), "g");
  EXPECT_EQ(copied->FindChild("grandchild")->GetParent(), copied);
  target.CopyFrom(nullptr);
  EXPECT_EQ(target.GetChildCount(), 2);

  target.RemoveAll();
  EXPECT_EQ(target.GetAttributeCount(), 0);
  EXPECT_EQ(target.GetChildCount(), 0);
  EXPECT_EQ(target.GetName().View(), "source");
  EXPECT_EQ(target.GetText().View(), "text");
  // The source is untouched by the copy and its removal.
  EXPECT_EQ(source.GetChild(0)->GetChild(0)->GetText().View(), "g");
}

TEST(XmlNode, DeepTreesAreCopiedAndDestroyedWithoutRecursion) {
  const int depth = 100000;
  auto root = std::make_unique<CXmlNode>("root");
  CXmlNode* node = root.get();
  for (int i = 0; i < depth; ++i) node = node->AddChild("level");
  node->SetText("bottom");

  CXmlNode copy;
  copy.CopyFrom(root.get());
  int levels = 0;
  const CXmlNode* walk = &copy;
  for (; walk->GetChildCount() == 1; walk = walk->GetChild(0)) ++levels;
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(walk->GetText().View(), "bottom");
  root.reset();
  copy.RemoveAll();
  EXPECT_EQ(copy.GetChildCount(), 0);
}

}  // namespace
