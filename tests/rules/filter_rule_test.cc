#include "rules/filter_rule.h"

#include <gtest/gtest.h>

#include "rules/rule_document.h"

namespace {

// The first filterrule of a document built from `rule`.
CXmlNode* FirstRule(const std::unique_ptr<CXmlNode>& document) {
  return document->FindChild("lumbra")->FindChild("filterrules")->GetChild(0);
}

TEST(FilterRule, EnabledOnlyWhenTheEnabledChildSaysYes) {
  for (const char* rule :
       {"<filterrule name=\"a\"/>", "<filterrule><enabled></enabled></filterrule>",
        "<filterrule><enabled>yess</enabled></filterrule>"})
    EXPECT_FALSE(CFilterRule(FirstRule(rules_test::MakeDocument(rule))).IsEnabled()) << rule;
  EXPECT_TRUE(CFilterRule(FirstRule(rules_test::MakeDocument(
                              "<filterrule name=\"a\"><ENABLED>Yes</ENABLED></filterrule>")))
                  .IsEnabled());
  EXPECT_FALSE(CFilterRule(nullptr).IsEnabled());
  EXPECT_TRUE(CFilterRule(nullptr).GetName().IsEmpty());
  CFilterRule(nullptr).SetEnabled(true);  // changes nothing and does not crash
}

TEST(FilterRule, SetEnabledChangesOrAppendsTheEnabledChild) {
  const auto document =
      rules_test::MakeDocument("<filterrule name=\"Ads\"><request contains=\"x\"/></filterrule>");
  CXmlNode* node = FirstRule(document);
  CFilterRule rule(node);
  EXPECT_EQ(rule.GetName().View(), "Ads");
  rule.SetEnabled(true);
  ASSERT_EQ(node->GetChildCount(), 2);
  EXPECT_EQ(node->GetChild(1)->GetName().View(), "enabled");
  EXPECT_TRUE(rule.IsEnabled());
  rule.SetEnabled(false);
  EXPECT_EQ(node->GetChildCount(), 2);
  EXPECT_EQ(node->GetChild(1)->GetText().View(), "no");
  EXPECT_FALSE(rule.IsEnabled());
}

}  // namespace
