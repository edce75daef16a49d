#include "config/https_filtering_config.h"

#include <gtest/gtest.h>

#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

TEST(HttpsFilteringConfig, SitesNormalizedAndBadOnesDropped) {
  EXPECT_EQ(NormalizeHttpsSite(" Google.COM. "), "google.com");
  EXPECT_EQ(NormalizeHttpsSite("search.yahoo.com"), "search.yahoo.com");
  EXPECT_EQ(NormalizeHttpsSite("10.0.0.255"), "10.0.0.255");
  EXPECT_EQ(NormalizeHttpsSite("[2001:DB8::1]"), "2001:db8::1");
  for (const std::string_view bad :
       {"", ".", "a..b", "exa mple.com", "https://x.com/", "x.com:443", "*.x.com", "a/b",
        "1.2.3.256"})
    EXPECT_FALSE(NormalizeHttpsSite(bad).has_value()) << bad;
}

TEST(HttpsFilteringConfig, ReadSwitchedAndRewrittenKeepingForeignChildren) {
  CXmlNode bare;
  ASSERT_TRUE(LoadXmlText("<lumbra><enabled>yes</enabled></lumbra>", false, bare));
  EXPECT_FALSE(GetHttpsFiltering(bare).enabled);
  EXPECT_TRUE(GetHttpsFiltering(bare).sites.empty());

  CXmlNode document;
  ASSERT_TRUE(LoadXmlText(
      "<lumbra><httpsfiltering enabled=\"YES\"><!-- mine --><site>Bing.com</site><note/>"
      "<site>bing.com.</site><site>not a site</site><site>127.0.0.1</site></httpsfiltering>"
      "</lumbra>",
      false, document));
  CHttpsFilteringSettings settings = GetHttpsFiltering(document);
  EXPECT_TRUE(settings.enabled);
  EXPECT_EQ(settings.sites, (std::vector<std::string>{"bing.com", "127.0.0.1"}));

  settings.enabled = false;
  settings.sites = {"google.com"};
  ASSERT_TRUE(SetHttpsFiltering(document, settings));
  settings = GetHttpsFiltering(document);
  EXPECT_FALSE(settings.enabled);
  EXPECT_EQ(settings.sites, std::vector<std::string>{"google.com"});
  const CXmlNode* element = document.FindChild("lumbra")->FindChild("httpsfiltering");
  EXPECT_NE(element->FindChild("note"), nullptr);

  CXmlNode empty;
  EXPECT_FALSE(SetHttpsFiltering(empty, settings));
}

}  // namespace
