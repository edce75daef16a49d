// The effects of the built-in configuration's rules on typical traffic.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "config/default_config.h"
#include "rules/rule_document.h"

namespace {

using rules_test::Outcome;

class DefaultRules : public ::testing::Test {
 protected:
  void SetUp() override {
    auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
    ASSERT_TRUE(LoadXmlText(kDefaultConfigXml(), false, *document));
    m_config = std::make_unique<rules_test::CCompiledConfig>(std::move(document));
  }

  // A request head as the proxy filters it: the allow decision, then the filter.
  Outcome Request(const std::string& url, const std::string& headers = "") {
    const std::string request = "GET " + url + " HTTP/1.1\r\n" + headers + "\r\n";
    m_allowed = rules_test::IsAllowed(*m_config, request, url);
    return rules_test::Filter(
        *m_config, request, {.startsMessage = true, .isRequest = true, .allowed = m_allowed}, url);
  }
  Outcome Response(const std::string& piece, const std::string& requestUrl) {
    return rules_test::Filter(*m_config, piece, {.startsMessage = true}, requestUrl);
  }
  bool Blocked(const std::string& url) { return Request(url).verdict.blocked == 1; }

  std::unique_ptr<rules_test::CCompiledConfig> m_config;
  bool m_allowed = false;
};

TEST_F(DefaultRules, RequestsForScriptsFlashAndAdServersAreBlockedAndHeadersRewritten) {
  EXPECT_TRUE(Blocked("http://www.example.com/lib/APP.JS"));
  EXPECT_TRUE(Blocked("http://www.example.com/banner.swf"));
  EXPECT_TRUE(Blocked("http://ad.doubleclick.net/x?y=1"));
  // Personal rules: a nested request, both URL tests must hold.
  EXPECT_TRUE(Blocked("http://mail.google.com/mail/?ui=2&view=ad&th=1"));
  EXPECT_FALSE(Blocked("http://mail.google.com/mail/?ui=2&view=cv&th=1"));
  // The whole request is searched: a Referer naming an allowed site exempts another site.
  Outcome outcome = Request("http://ads.example/app.js", "Referer: http://en.wikipedia.org/\r\n");
  EXPECT_TRUE(m_allowed);
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_NE(outcome.text.find("Referer:"), std::string::npos);

  // Elsewhere the word "referer" is blanked.
  outcome = Request("http://www.example.com/", "Referer: http://www.example.com/\r\n");
  EXPECT_EQ(outcome.verdict.modified, 1);
  EXPECT_NE(outcome.text.find("\r\n       : http://www.example.com/\r\n"), std::string::npos);

  // The search-site rules rewrite the Accept-Encoding list through a nested content
  // element with return "0": the request is neither blocked nor counted as modified.
  outcome = Request("http://www.google.com/search?q=x", "Accept-Encoding: gzip,deflate\r\n");
  EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
  EXPECT_NE(outcome.text.find("\r\naccept-encoding:" + std::string(13, ' ') + "\r\n"),
            std::string::npos);
  outcome = Request("http://www.bing.com/search?q=x", "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_NE(outcome.text.find("\r\naccept-encoding:" + std::string(14, ' ') + "\r\n"),
            std::string::npos);
  outcome = Request("http://www.example.com/", "Accept-Encoding: gzip,deflate\r\n");
  EXPECT_NE(outcome.text.find("Accept-Encoding: gzip,deflate"), std::string::npos);
}

TEST_F(DefaultRules, ResponsesAreBlockedByContentTypeAndPagesRewritten) {
  for (const char* type : {"application/x-javascript", "application/x-shockwave-flash"})
    EXPECT_EQ(Response("HTTP/1.1 200 OK\r\nContent-Type: " + std::string(type) + "\r\n\r\nx",
                       "http://www.example.com/x")
                  .verdict.blocked,
              1);
  const Outcome page = Response(
      "HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n<a onclick=\"window.open(u)\" "
      "ping=\"/t\">x</a><object data=x></object>",
      "http://www.example.com/");
  EXPECT_EQ(page.verdict.blocked, 0);
  EXPECT_EQ(page.verdict.modified, 1);
  EXPECT_NE(page.text.find("onclick=\"//ndow.open(u)\" //ng=\"/t\""), std::string::npos);
}

TEST_F(DefaultRules, SearchSiteAdvertisingIsRemovedFromEveryPieceOfTheResponse) {
  const std::string url = "http://www.google.com/search?q=x";
  const std::string ad = "<div id=\"tads\"><div class=c><a href=x>Ad</a></div></div>";
  const std::string sponsored = "<font size=-1>\n <a id=pa1 href=y>ad</a></font>";
  const std::string result = "<div id=\"res\"><div>result</div></div>";
  const Outcome outcome = Response("<p>" + ad + result + sponsored + "</p>", url);
  EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
  EXPECT_EQ(outcome.text, "<p>" + std::string(ad.size(), ' ') + result +
                              std::string(sponsored.size(), ' ') + "</p>");
  // An advertising element spanning two pieces.
  EXPECT_EQ(Response("x<div id=bottomads1><div>a", url).text, "x" + std::string(25, ' '));
  EXPECT_EQ(Response("b</div>c</div>" + result, url).text, std::string(14, ' ') + result);
}

}  // namespace
