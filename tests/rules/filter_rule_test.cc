#include "rules/filter_rule.h"

#include <gtest/gtest.h>

#include "rules/rule_document.h"

namespace {

TEST(FilterRule, EnabledOnlyWhenTheEnabledChildSaysYesAndSetEnabledChangesOrAppendsIt) {
  for (const char* children : {"", "<enabled></enabled>", "<enabled>yess</enabled>"}) {
    const auto document =
        rules_test::MakeDocument(std::string("<filterrule name=\"Ads\"><request contains=\"x\"/>") +
                                 children + "</filterrule>");
    CXmlNode* node = document->FindChild("lumbra")->FindChild("filterrules")->GetChild(0);
    CFilterRule rule(node);
    EXPECT_EQ(rule.GetName().View(), "Ads");
    EXPECT_FALSE(rule.IsEnabled()) << children;
    rule.SetEnabled(true);
    ASSERT_EQ(node->GetChildCount(), 2);
    EXPECT_EQ(node->GetChild(1)->GetText().View(), "yes");
    node->GetChild(1)->SetText("YeS");
    EXPECT_TRUE(rule.IsEnabled());
    rule.SetEnabled(false);
    EXPECT_EQ(node->GetChildCount(), 2);
    EXPECT_FALSE(rule.IsEnabled());
  }
  CFilterRule(nullptr).SetEnabled(true);  // changes nothing and does not crash
  EXPECT_FALSE(CFilterRule(nullptr).IsEnabled());
}

}  // namespace
