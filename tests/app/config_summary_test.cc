#include "app/config_summary.h"

#include <gtest/gtest.h>

#include "xml/xml_node.h"

namespace {

TEST(ConfigSummary, ListsSettingsAndEveryRuleWithItsState) {
  CXmlNode document(CPooledString("__root__"));
  CXmlNode* root = document.AddChild(CPooledString("lumbra"));
  root->AddChild(CPooledString("enabled"))->SetText(CPooledString("no"));
  root->AddChild(CPooledString("proxyport"))->SetText(CPooledString("8010"));
  CXmlNode* proxy = root->AddChild(CPooledString("corporateproxy"));
  proxy->AddAttribute(CPooledString("url"), CPooledString("proxy.example.net"));
  proxy->AddChild(CPooledString("enabled"))->SetText(CPooledString("YES"));
  CXmlNode* rules = root->AddChild(CPooledString("filterrules"));
  CXmlNode* named = rules->AddChild(CPooledString("filterrule"));
  named->AddAttribute(CPooledString("name"), CPooledString("ad banners"));
  named->AddChild(CPooledString("enabled"))->SetText(CPooledString("yes"));
  rules->AddChild(CPooledString("filterrule"));

  EXPECT_EQ(DescribeConfig("/home/u/.config/Lumbra_Corvane/lumbra.xml", document),
            "Configuration: /home/u/.config/Lumbra_Corvane/lumbra.xml\n"
            "Filtering: off\n"
            "Proxy port: 8010\n"
            "Corporate proxy: on (proxy.example.net:(none))\n"
            "Filter rules: 2\n"
            "  ad banners: enabled\n"
            "  (unnamed): disabled\n");
}

}  // namespace
