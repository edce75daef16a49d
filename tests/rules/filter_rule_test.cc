#include "rules/filter_rule.h"

#include <gtest/gtest.h>

#include "rules/rule_document.h"
#include "xml/xml_node.h"

namespace {

// The first filterrule of a document built from `rules`.
struct RuleFixture {
  explicit RuleFixture(std::string_view rules) : document(rules_test::MakeConfig(rules)) {
    rule = CFilterRule(document->FindChild("lumbra")->FindChild("filterrules")->GetChild(0));
  }
  std::unique_ptr<CXmlNode> document;
  CFilterRule rule;
};

TEST(FilterRule, EnabledOnlyWhenTheEnabledChildSaysYes) {
  EXPECT_FALSE(RuleFixture("<filterrule name=\"a\"/>").rule.IsEnabled());
  EXPECT_FALSE(RuleFixture("<filterrule><enabled></enabled></filterrule>").rule.IsEnabled());
  EXPECT_FALSE(RuleFixture("<filterrule><enabled>no</enabled></filterrule>").rule.IsEnabled());
  EXPECT_FALSE(RuleFixture("<filterrule><enabled>yess</enabled></filterrule>").rule.IsEnabled());
  EXPECT_TRUE(RuleFixture("<filterrule><enabled>Yes</enabled></filterrule>").rule.IsEnabled());
  EXPECT_TRUE(RuleFixture("<filterrule><ENABLED>YES</ENABLED></filterrule>").rule.IsEnabled());

  const CFilterRule empty;
  EXPECT_FALSE(empty.IsEnabled());
  EXPECT_TRUE(empty.GetName().IsEmpty());
  EXPECT_FALSE(empty.HasConditions(ConditionKind::kRequest));
  EXPECT_EQ(empty.CountConditions(ConditionKind::kContent), 0);
  EXPECT_TRUE(empty.ReadContent(0).reportsMatch);
  EXPECT_EQ(empty.GetOpenDepth(0), 0);
}

TEST(FilterRule, SetEnabledChangesOrAppendsTheEnabledChild) {
  RuleFixture missing("<filterrule name=\"a\"><request contains=\"x\"/></filterrule>");
  missing.rule.SetEnabled(true);
  CXmlNode* node = missing.rule.GetNode();
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
  EXPECT_EQ(emptyChild.rule.GetNode()->GetChildCount(), 2);
  EXPECT_TRUE(emptyChild.rule.IsEnabled());

  CFilterRule().SetEnabled(true);  // an empty handle changes nothing and does not crash
}

TEST(FilterRule, ConditionsAreCountedByKindIgnoringTheCaseOfElementNames) {
  RuleFixture fixture(
      "<filterrule name=\"Ads\"><enabled>yes</enabled><request contains=\"a\"/>"
      "<ALLOW contains=\"b\"/><other/><Request contains=\"c\"><enabled>yes</enabled></Request>"
      "<content contains=\"d\"/></filterrule>");
  const CFilterRule& rule = fixture.rule;
  EXPECT_EQ(rule.GetName().View(), "Ads");
  EXPECT_EQ(rule.CountConditions(ConditionKind::kRequest), 2);
  EXPECT_EQ(rule.CountConditions(ConditionKind::kAllow), 1);
  EXPECT_EQ(rule.CountConditions(ConditionKind::kContent), 1);
  EXPECT_FALSE(rule.HasConditions(ConditionKind::kResponse));
  EXPECT_EQ(rule.GetCondition(ConditionKind::kRequest, 1)->GetAttribute("contains").View(), "c");
  EXPECT_EQ(rule.GetCondition(ConditionKind::kRequest, 2), nullptr);
  EXPECT_EQ(rule.GetCondition(ConditionKind::kRequest, -1), nullptr);

  // A child whose only child is "enabled" still carries a nested rule, with no conditions.
  EXPECT_FALSE(rule.HasNestedRule(ConditionKind::kRequest, 0));
  EXPECT_TRUE(rule.HasNestedRule(ConditionKind::kRequest, 1));
  EXPECT_FALSE(rule.HasNestedRule(ConditionKind::kRequest, 2));
  const CFilterRule nested = rule.GetNestedRule(ConditionKind::kRequest, 1);
  EXPECT_EQ(nested.GetNode(), rule.GetCondition(ConditionKind::kRequest, 1));
  EXPECT_FALSE(nested.HasConditions(ConditionKind::kRequest));
  EXPECT_TRUE(rule.GetNestedRule(ConditionKind::kAllow, 5).IsEmpty());
}

TEST(FilterRule, AttributesReadLowerCasedWithTheRawActionKept) {
  RuleFixture fixture(
      "<filterrule><response HEADER=\"Content-Type\" Prefix=\"Text/\" suffix=\"HTML\" "
      "contains=\"X\" fromrequest=\"Example.COM\" contains=\"second\"/>"
      "<request header=\"Host\" fromrequest=\"ignored\"/>"
      "<content action=\"Replace:B\" contains=\"Accept\" tag=\"&lt;DIV\" attribname=\"ID\" "
      "attribvalue=\"Ads*\" alternatetag=\"A\" return=\"0\"/>"
      "<content return=\"1\"/><content return=\"no\"/><content/></filterrule>");
  const CFilterRule& rule = fixture.rule;
  const ConditionRecord response = rule.ReadCondition(ConditionKind::kResponse, 0);
  EXPECT_EQ(response.header.View(), "content-type");
  EXPECT_EQ(response.prefix.View(), "text/");
  EXPECT_EQ(response.suffix.View(), "html");
  EXPECT_EQ(response.contains.View(), "x");  // the first attribute of a name counts
  EXPECT_EQ(response.fromRequest.View(), "example.com");
  const ConditionRecord request = rule.ReadCondition(ConditionKind::kRequest, 0);
  EXPECT_EQ(request.header.View(), "host");
  EXPECT_TRUE(request.fromRequest.empty());
  EXPECT_TRUE(rule.ReadCondition(ConditionKind::kRequest, 1).header.empty());

  const ContentRecord content = rule.ReadContent(0);
  EXPECT_EQ(content.action.View(), "replace:b");
  EXPECT_EQ(content.rawAction, "Replace:B");
  EXPECT_EQ(content.contains.View(), "accept");
  EXPECT_EQ(content.tag.View(), "<div");
  EXPECT_EQ(content.attribName.View(), "id");
  EXPECT_EQ(content.attribValue.View(), "ads*");
  EXPECT_EQ(content.alternateTag.View(), "a");
  EXPECT_FALSE(content.reportsMatch);
  EXPECT_TRUE(rule.ReadContent(1).reportsMatch);
  EXPECT_TRUE(rule.ReadContent(2).reportsMatch);
  EXPECT_TRUE(rule.ReadContent(3).reportsMatch);
  EXPECT_TRUE(rule.ReadContent(9).reportsMatch);
  EXPECT_TRUE(rule.ReadContent(9).contains.empty());

  // A lower-cased copy stays valid when the record is copied.
  const ContentRecord copy = content;
  EXPECT_EQ(copy.action.View(), "replace:b");
}

TEST(FilterRule, OpenDepthLivesOnTheContentNodeAndIsNotCopied) {
  RuleFixture fixture("<filterrule><content tag=\"div\"/><content tag=\"p\"/></filterrule>");
  fixture.rule.SetOpenDepth(1, 3);
  fixture.rule.SetOpenDepth(7, 9);  // no such child: nothing happens
  EXPECT_EQ(fixture.rule.GetOpenDepth(0), 0);
  EXPECT_EQ(fixture.rule.GetOpenDepth(1), 3);
  EXPECT_EQ(fixture.rule.GetOpenDepth(7), 0);

  CXmlNode copy;
  copy.CopyFrom(fixture.document.get());
  CXmlNode* copiedRule = copy.FindChild("lumbra")->FindChild("filterrules")->GetChild(0);
  EXPECT_EQ(CFilterRule(copiedRule).GetOpenDepth(1), 0);
}

}  // namespace
