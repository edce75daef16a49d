#include "rules/filter_rule.h"

#include <gtest/gtest.h>

#include "rules/rule_document.h"
#include "xml/xml_node.h"

namespace {

// The first filterrule of a document built from `rules`.
struct RuleFixture {
  explicit RuleFixture(std::string_view rules)
      : document(rules_test::MakeDocument(rules)),
        node(document->FindChild("lumbra")->FindChild("filterrules")->GetChild(0)),
        rule(node) {}
  std::unique_ptr<CXmlNode> document;
  CXmlNode* node;
  CFilterRule rule;
};

TEST(FilterRule, EnabledOnlyWhenTheEnabledChildSaysYes) {
  EXPECT_FALSE(RuleFixture("<filterrule name=\"a\"/>").rule.IsEnabled());
  EXPECT_FALSE(RuleFixture("<filterrule><enabled></enabled></filterrule>").rule.IsEnabled());
  EXPECT_FALSE(RuleFixture("<filterrule><enabled>no</enabled></filterrule>").rule.IsEnabled());
  EXPECT_FALSE(RuleFixture("<filterrule><enabled>yess</enabled></filterrule>").rule.IsEnabled());
  EXPECT_TRUE(RuleFixture("<filterrule><enabled>Yes</enabled></filterrule>").rule.IsEnabled());
  EXPECT_TRUE(RuleFixture("<filterrule><ENABLED>YES</ENABLED></filterrule>").rule.IsEnabled());

  const CFilterRule none(nullptr);
  EXPECT_FALSE(none.IsEnabled());
  EXPECT_TRUE(none.GetName().IsEmpty());
}

TEST(FilterRule, SetEnabledChangesOrAppendsTheEnabledChild) {
  RuleFixture missing("<filterrule name=\"a\"><request contains=\"x\"/></filterrule>");
  missing.rule.SetEnabled(true);
  CXmlNode* node = missing.node;
  ASSERT_EQ(node->GetChildCount(), 2);
  EXPECT_EQ(node->GetChild(1)->GetName().View(), "enabled");
  EXPECT_EQ(node->GetChild(1)->GetText().View(), "yes");
  EXPECT_TRUE(missing.rule.IsEnabled());
  missing.rule.SetEnabled(false);
  EXPECT_EQ(node->GetChildCount(), 2);
  EXPECT_EQ(node->GetChild(1)->GetText().View(), "no");
  EXPECT_FALSE(missing.rule.IsEnabled());

  RuleFixture emptyChild("<filterrule><enabled></enabled><allow contains=\"x\"/></filterrule>");
  emptyChild.rule.SetEnabled(true);
  EXPECT_EQ(emptyChild.node->GetChildCount(), 2);
  EXPECT_TRUE(emptyChild.rule.IsEnabled());

  CFilterRule(nullptr).SetEnabled(true);  // an empty handle changes nothing and does not crash
}

}  // namespace
