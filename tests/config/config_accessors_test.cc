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
  CXmlNode* rules = nullptr;

  TestConfig() {
    AddText(*root, "enabled", "yes");
    AddText(*root, "version", "7");
    AddText(*root, "proxyport", "8010");
    CXmlNode* proxy = root->AddChild(CPooledString("corporateproxy"));
    proxy->AddAttribute(CPooledString("url"), CPooledString("proxy.example.net"));
    proxy->AddAttribute(CPooledString("port"), CPooledString("8080"));
    AddText(*proxy, "enabled", "no");
    rules = root->AddChild(CPooledString("filterrules"));
    for (const char* state : {"no", "no", "yes"})
      AddText(*rules->AddChild(CPooledString("filterrule")), "enabled", state);
  }
};

TEST(ConfigAccessors, SwitchesReadYesInAnyCaseAndNothingElse) {
  TestConfig config;
  CXmlNode* enabled = config.root->FindChild("enabled");
  for (const char* text : {"", "yes ", "1", "on"}) {
    enabled->SetText(CPooledString(text));
    EXPECT_FALSE(IsFilterEnabled(config.document)) << "text '" << text << "'";
  }
  enabled->SetText(CPooledString("YES"));
  EXPECT_TRUE(IsFilterEnabled(config.document));

  EXPECT_FALSE(IsLocalNetworkAllowed(config.document));
  SetLocalNetworkAllowed(config.document, false);  // no element added to switch off
  EXPECT_EQ(config.root->GetChildCount(), 5);
  SetLocalNetworkAllowed(config.document, true);
  EXPECT_TRUE(IsLocalNetworkAllowed(config.document));
  SetLocalNetworkAllowed(config.document, false);
  EXPECT_FALSE(IsLocalNetworkAllowed(config.document));
  EXPECT_EQ(config.root->GetChildCount(), 6);
}

TEST(ConfigAccessors, RulesByPositionAndVersionLikeAtol) {
  TestConfig config;
  CXmlNode marker;
  CXmlNode* rule = &marker;
  GetRule(config.document, 3, rule);
  EXPECT_EQ(rule, &marker);
  GetRule(config.document, 2, rule);
  EXPECT_EQ(rule, config.rules->GetChild(2));

  // A foreign child counts for the position but not for the count: the last
  // rule is then out of reach, and the scan for an enabled rule stops before it.
  config.rules->RemoveAll();
  config.rules->AddChild(CPooledString("note"));
  for (const char* state : {"no", "no", "yes"})
    AddText(*config.rules->AddChild(CPooledString("filterrule")), "enabled", state);
  EXPECT_FALSE(HasEnabledRule(config.document));
  GetRule(config.document, 0, rule);
  EXPECT_EQ(rule->GetName().View(), "note");

  CXmlNode* version = config.root->FindChild("version");
  const std::pair<const char*, long> cases[] = {{"2abc", 2}, {"abc", 0}, {"-3", -3}, {"", 1}};
  for (const auto& [text, expected] : cases) {
    version->SetText(CPooledString(text));
    EXPECT_EQ(GetConfigVersion(config.document), expected) << "text '" << text << "'";
  }
}

}  // namespace
