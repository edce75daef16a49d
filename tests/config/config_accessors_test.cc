#include <gtest/gtest.h>

#include <utility>

#include "config/config_store.h"
#include "xml/xml_node.h"

namespace {

CXmlNode* AddText(CXmlNode& parent, const char* name, const char* text) {
  CXmlNode* child = parent.AddChild(CPooledString(name));
  child->SetText(CPooledString(text));
  return child;
}

// A document shaped like the built-in configuration, small enough to read.
struct TestConfig {
  CXmlNode document{CPooledString("__root__")};
  CXmlNode* root = document.AddChild(CPooledString("lumbra"));

  TestConfig() {
    AddText(*root, "enabled", "yes");
    AddText(*root, "version", "7");
    AddText(*root, "proxyport", "8010");
    CXmlNode* proxy = root->AddChild(CPooledString("corporateproxy"));
    proxy->AddAttribute(CPooledString("url"), CPooledString("proxy.example.net"));
    proxy->AddAttribute(CPooledString("port"), CPooledString("8080"));
    AddText(*proxy, "enabled", "no");
    CXmlNode* rules = root->AddChild(CPooledString("filterrules"));
    for (const char* state : {"no", "no", "yes"}) {
      CXmlNode* rule = rules->AddChild(CPooledString("filterrule"));
      AddText(*rule, "enabled", state);
    }
  }
  CXmlNode* Rules() { return root->FindChild("filterrules"); }
};

TEST(ConfigAccessors, ReadTheSettingsOfACompleteDocument) {
  TestConfig config;
  EXPECT_TRUE(IsFilterEnabled(config.document));
  EXPECT_EQ(GetProxyPort(config.document), "8010");
  EXPECT_FALSE(IsCorporateProxyEnabled(config.document));
  EXPECT_EQ(GetCorporateProxyUrl(config.document), "proxy.example.net");
  EXPECT_EQ(GetCorporateProxyPort(config.document), "8080");
  EXPECT_EQ(GetRuleCount(config.document), 3);
  EXPECT_EQ(GetConfigVersion(config.document), 7);
  // Only the third rule is enabled, and it is found.
  EXPECT_TRUE(HasEnabledRule(config.document));
  config.Rules()->GetChild(2)->FindChild("enabled")->SetText(CPooledString("no"));
  EXPECT_FALSE(HasEnabledRule(config.document));
}

TEST(ConfigAccessors, EveryAccessorAnswersItsMissingValueWithoutRootElement) {
  CXmlNode empty(CPooledString("__root__"));
  CXmlNode other(CPooledString("__root__"));
  AddText(*other.AddChild(CPooledString("notlumbra")), "enabled", "yes");
  for (CXmlNode* document : {&empty, &other}) {
    EXPECT_FALSE(IsFilterEnabled(*document));
    EXPECT_EQ(GetProxyPort(*document), "");
    EXPECT_FALSE(IsCorporateProxyEnabled(*document));
    EXPECT_EQ(GetCorporateProxyUrl(*document), "");
    EXPECT_EQ(GetCorporateProxyPort(*document), "");
    EXPECT_EQ(GetRuleCount(*document), 0);
    EXPECT_FALSE(HasEnabledRule(*document));
    EXPECT_EQ(GetConfigVersion(*document), 1);
    CXmlNode marker;
    CXmlNode* rule = &marker;
    GetRule(*document, 0, rule);
    EXPECT_EQ(rule, &marker);
    // Setters change nothing when there is no root element.
    int before = document->GetChildCount();
    EnableFilter(*document);
    DisableFilter(*document);
    SetProxyPort(*document, "9000");
    EnableCorporateProxy(*document);
    SetCorporateProxy(*document, "h", "1");
    EXPECT_EQ(document->GetChildCount(), before);
  }
  EXPECT_EQ(other.GetChild(0)->GetChildCount(), 1);
}

TEST(ConfigAccessors, EveryAccessorAnswersItsMissingValueWithoutTheElement) {
  CXmlNode document(CPooledString("__root__"));
  CXmlNode* root = document.AddChild(CPooledString("LUMBRA"));  // found ignoring case
  AddText(*root, "comment", "nothing else here");
  EXPECT_FALSE(IsFilterEnabled(document));
  EXPECT_EQ(GetProxyPort(document), "");
  EXPECT_FALSE(IsCorporateProxyEnabled(document));
  EXPECT_EQ(GetCorporateProxyUrl(document), "");
  EXPECT_EQ(GetCorporateProxyPort(document), "");
  EXPECT_EQ(GetRuleCount(document), 0);
  EXPECT_FALSE(HasEnabledRule(document));
  EXPECT_EQ(GetConfigVersion(document), 1);

  SetProxyPort(document, "9000");
  EnableCorporateProxy(document);
  DisableCorporateProxy(document);
  SetCorporateProxy(document, "proxy.example.net", "3128");
  EXPECT_EQ(root->GetChildCount(), 1) << "only EnableFilter/DisableFilter add an element";
  EXPECT_EQ(GetProxyPort(document), "");
}

TEST(ConfigAccessors, FilterSwitchSetsOrAppendsEnabled) {
  TestConfig config;
  DisableFilter(config.document);
  EXPECT_EQ(config.root->FindChild("enabled")->GetText().View(), "no");
  EXPECT_EQ(config.root->GetChildCount(), 5);

  CXmlNode document(CPooledString("__root__"));
  CXmlNode* root = document.AddChild(CPooledString("lumbra"));
  AddText(*root, "proxyport", "8010");
  DisableFilter(document);
  ASSERT_EQ(root->GetChildCount(), 2);
  EXPECT_EQ(root->GetChild(1)->GetName().View(), "enabled");
  EXPECT_EQ(root->GetChild(1)->GetText().View(), "no");
  EnableFilter(document);
  EXPECT_EQ(root->GetChildCount(), 2);
  EXPECT_TRUE(IsFilterEnabled(document));
}

TEST(ConfigAccessors, CorporateProxySwitchAndAddress) {
  TestConfig config;
  CXmlNode* proxy = config.root->FindChild("corporateproxy");
  proxy->RemoveAll();  // no attributes, no enabled child
  EnableCorporateProxy(config.document);
  ASSERT_EQ(proxy->GetChildCount(), 1);
  EXPECT_EQ(proxy->GetChild(0)->GetName().View(), "enabled");
  EXPECT_TRUE(IsCorporateProxyEnabled(config.document));
  DisableCorporateProxy(config.document);
  EXPECT_FALSE(IsCorporateProxyEnabled(config.document));
  EXPECT_EQ(proxy->GetChildCount(), 1);

  SetCorporateProxy(config.document, "proxy.example.net", "3128");
  EXPECT_EQ(GetCorporateProxyUrl(config.document), "proxy.example.net");
  EXPECT_EQ(GetCorporateProxyPort(config.document), "3128");
  // An empty text empties the value; the attribute stays, in its place.
  SetCorporateProxy(config.document, "", "8080");
  ASSERT_EQ(proxy->GetAttributeCount(), 2);
  EXPECT_EQ(proxy->GetAttributeName(0).View(), "url");
  EXPECT_TRUE(proxy->GetAttributeValue(0).IsEmpty());
  EXPECT_EQ(GetCorporateProxyPort(config.document), "8080");
}

TEST(ConfigAccessors, EnabledTextIsYesIgnoringCaseAndNeverWhenEmpty) {
  TestConfig config;
  CXmlNode* enabled = config.root->FindChild("enabled");
  enabled->SetText(CPooledString("YES"));
  EXPECT_TRUE(IsFilterEnabled(config.document));
  enabled->SetText(CPooledString(""));
  EXPECT_FALSE(IsFilterEnabled(config.document));
  enabled->SetText(CPooledString("yes "));
  EXPECT_FALSE(IsFilterEnabled(config.document));
  CXmlNode* proxyEnabled = config.root->FindChild("corporateproxy")->FindChild("enabled");
  proxyEnabled->SetText(CPooledString("Yes"));
  EXPECT_TRUE(IsCorporateProxyEnabled(config.document));
  proxyEnabled->SetText(CPooledString(""));
  EXPECT_FALSE(IsCorporateProxyEnabled(config.document));
  CXmlNode* ruleEnabled = config.Rules()->GetChild(2)->FindChild("enabled");
  ruleEnabled->SetText(CPooledString(""));
  EXPECT_FALSE(HasEnabledRule(config.document));
  ruleEnabled->SetText(CPooledString("yEs"));
  EXPECT_TRUE(HasEnabledRule(config.document));
}

TEST(ConfigAccessors, GetRuleSelectsByPositionWithinTheCount) {
  TestConfig config;
  CXmlNode marker;
  CXmlNode* rule = &marker;
  GetRule(config.document, 3, rule);
  EXPECT_EQ(rule, &marker);
  GetRule(config.document, -1, rule);
  EXPECT_EQ(rule, &marker);
  GetRule(config.document, 2, rule);
  EXPECT_EQ(rule, config.Rules()->GetChild(2));

  // A foreign child counts for the position but not for the count: the last
  // rule is then out of reach, and the scan for an enabled rule stops before it.
  CXmlNode* rules = config.Rules();
  rules->RemoveAll();
  rules->AddChild(CPooledString("note"));
  for (const char* state : {"no", "no", "yes"})
    AddText(*rules->AddChild(CPooledString("filterrule")), "enabled", state);
  EXPECT_EQ(GetRuleCount(config.document), 3);
  EXPECT_FALSE(HasEnabledRule(config.document));
  GetRule(config.document, 0, rule);
  EXPECT_EQ(rule->GetName().View(), "note");
}

TEST(ConfigAccessors, VersionReadsLeadingDigitsLikeAtol) {
  TestConfig config;
  CXmlNode* version = config.root->FindChild("version");
  const std::pair<const char*, long> cases[] = {{"2abc", 2}, {"abc", 0}, {"-3", -3},
                                                {"+4", 4},   {" 5", 5},  {"", 1}};
  for (const auto& [text, expected] : cases) {
    version->SetText(CPooledString(text));
    EXPECT_EQ(GetConfigVersion(config.document), expected) << "text '" << text << "'";
  }
  config.root->RemoveAll();
  EXPECT_EQ(GetConfigVersion(config.document), 1);
}

}  // namespace

TEST(ConfigAccessors, LocalNetworkSwitchIsOffUnlessYesAndAddedOnlyWhenSwitchedOn) {
  TestConfig config;
  EXPECT_FALSE(IsLocalNetworkAllowed(config.document));
  // Switching off a file without the element leaves it as it was.
  SetLocalNetworkAllowed(config.document, false);
  EXPECT_EQ(config.root->GetChildCount(), 5);
  SetLocalNetworkAllowed(config.document, true);
  ASSERT_EQ(config.root->GetChildCount(), 6);
  EXPECT_EQ(config.root->GetChild(5)->GetName().View(), "allowlan");
  EXPECT_TRUE(IsLocalNetworkAllowed(config.document));
  SetLocalNetworkAllowed(config.document, false);
  EXPECT_EQ(config.root->GetChild(5)->GetText().View(), "no");
  EXPECT_EQ(config.root->GetChildCount(), 6);

  CXmlNode* allowLan = config.root->GetChild(5);
  for (const char* text : {"", "no", "yes ", "1", "true", "on"}) {
    allowLan->SetText(CPooledString(text));
    EXPECT_FALSE(IsLocalNetworkAllowed(config.document)) << "text '" << text << "'";
  }
  allowLan->SetText(CPooledString("YES"));
  EXPECT_TRUE(IsLocalNetworkAllowed(config.document));

  CXmlNode empty(CPooledString("__root__"));
  SetLocalNetworkAllowed(empty, true);
  EXPECT_EQ(empty.GetChildCount(), 0);
  EXPECT_FALSE(IsLocalNetworkAllowed(empty));
}
