// The effects of the built-in configuration's rules on typical traffic.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "rules/request_matching.h"
#include "rules/rule_document.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

using rules_test::CTrafficBuffer;

std::filesystem::path DefaultConfigPath() {
  const char* sourceDir = std::getenv("LUMBRA_SOURCE_DIR");
  const std::filesystem::path root = sourceDir != nullptr
                                         ? std::filesystem::path(sourceDir)
                                         : std::filesystem::path(__FILE__).parent_path() / "../..";
  return root / "resources" / "default-config.xml";
}

class DefaultRules : public ::testing::Test {
 protected:
  void SetUp() override {
    auto document = std::make_unique<CXmlNode>(CPooledString("__root__"));
    ASSERT_TRUE(LoadXmlFile(DefaultConfigPath().c_str(), false, *document));
    m_config = std::make_unique<rules_test::CCompiledConfig>(std::move(document));
  }

  struct Outcome {
    bool allowed = false;
    FilterVerdict verdict;
    std::string text;
  };

  Outcome Request(const std::string& url, const std::string& headers = "") {
    const std::string request = "GET " + url + " HTTP/1.1\r\n" + headers + "\r\n";
    CTrafficBuffer buffer(request);
    Outcome outcome;
    outcome.allowed =
        IsRequestAllowed(buffer.Data(), buffer.Length(), url, m_config->rules, m_config->state);
    const PieceFlags flags{.startsMessage = true, .isRequest = true, .allowed = outcome.allowed};
    outcome.verdict =
        FilterTraffic(buffer.Data(), buffer.Length(), flags, url, m_config->rules, m_config->state);
    outcome.text = buffer.Text();
    return outcome;
  }

  Outcome Response(const std::string& piece, const std::string& requestUrl) {
    CTrafficBuffer buffer(piece);
    Outcome outcome;
    outcome.verdict = FilterTraffic(buffer.Data(), buffer.Length(), {.startsMessage = true},
                                    requestUrl, m_config->rules, m_config->state);
    outcome.text = buffer.Text();
    return outcome;
  }

  std::unique_ptr<rules_test::CCompiledConfig> m_config;
};

TEST_F(DefaultRules, RequestsForScriptsFlashAndAdServersAreBlocked) {
  EXPECT_EQ(Request("http://www.example.com/lib/app.js").verdict.blocked, 1);
  EXPECT_EQ(Request("http://www.example.com/lib/APP.JS").verdict.blocked, 1);
  EXPECT_EQ(Request("http://www.example.com/lib/app.js?v=2").verdict.blocked, 0);
  EXPECT_EQ(Request("http://www.example.com/banner.swf").verdict.blocked, 1);
  EXPECT_EQ(Request("http://ad.doubleclick.net/x?y=1").verdict.blocked, 1);
  EXPECT_EQ(Request("http://www.example.com/index.html").verdict.blocked, 0);
  // Personal rules: a nested request, both URL tests must hold.
  EXPECT_EQ(Request("http://mail.google.com/mail/?ui=2&view=ad&th=1").verdict.blocked, 1);
  EXPECT_EQ(Request("http://mail.google.com/mail/?ui=2&view=cv&th=1").verdict.blocked, 0);
}

TEST_F(DefaultRules, AllowedSitesAreNeitherBlockedNorRewritten) {
  const std::string headers = "Host: www.paypal.com\r\nReferer: http://www.paypal.com/\r\n";
  Outcome outcome = Request("http://www.paypal.com/checkout/app.js", headers);
  EXPECT_TRUE(outcome.allowed);
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_NE(outcome.text.find("Referer:"), std::string::npos);
  // The whole request is searched: a Referer naming an allowed site exempts another site.
  outcome = Request("http://ads.example/app.js", "Referer: http://en.wikipedia.org/\r\n");
  EXPECT_TRUE(outcome.allowed);
  EXPECT_EQ(outcome.verdict.blocked, 0);
}

TEST_F(DefaultRules, RequestHeadersLoseTheRefererWordAndSearchSitesTheEncodings) {
  Outcome outcome = Request("http://www.example.com/", "Referer: http://www.example.com/\r\n");
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(outcome.verdict.modified, 1);
  EXPECT_NE(outcome.text.find("\r\n       : http://www.example.com/\r\n"), std::string::npos);

  // The search-site rules rewrite the Accept-Encoding list through a nested content
  // element with return "0": the request is neither blocked nor counted as modified.
  outcome = Request("http://www.google.com/search?q=x", "Accept-Encoding: gzip,deflate\r\n");
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(outcome.verdict.modified, 0);
  EXPECT_NE(outcome.text.find("\r\naccept-encoding:" + std::string(13, ' ') + "\r\n"),
            std::string::npos);
  outcome = Request("http://www.bing.com/search?q=x", "Accept-Encoding: gzip, deflate\r\n");
  EXPECT_NE(outcome.text.find("\r\naccept-encoding:" + std::string(14, ' ') + "\r\n"),
            std::string::npos);
  outcome = Request("http://www.example.com/", "Accept-Encoding: gzip,deflate\r\n");
  EXPECT_NE(outcome.text.find("Accept-Encoding: gzip,deflate"), std::string::npos);
}

TEST_F(DefaultRules, ResponsesAreBlockedByContentTypeAndPagesRewritten) {
  EXPECT_EQ(Response("HTTP/1.1 200 OK\r\nContent-Type: application/x-javascript\r\n\r\nx=1;",
                     "http://www.example.com/x")
                .verdict.blocked,
            1);
  EXPECT_EQ(Response("HTTP/1.1 200 OK\r\nContent-Type: application/x-shockwave-flash\r\n\r\n",
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
  EXPECT_NE(page.text.find("<object data=x>"), std::string::npos);  // ActiveX is disabled
}

TEST_F(DefaultRules, SearchSiteAdvertisingIsRemovedFromEveryPieceOfTheResponse) {
  const std::string url = "http://www.google.com/search?q=x";
  const std::string ad = "<div id=\"tads\"><div class=c><a href=x>Ad</a></div></div>";
  const std::string sponsored = "<font size=-1>\n <a id=pa1 href=y>ad</a></font>";
  const std::string result = "<div id=\"res\"><div>result</div></div>";
  Outcome outcome = Response("<p>" + ad + result + sponsored + "</p>", url);
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(outcome.verdict.modified, 0);
  EXPECT_EQ(outcome.text, "<p>" + std::string(ad.size(), ' ') + result +
                              std::string(sponsored.size(), ' ') + "</p>");
  // The same page from another site is untouched.
  EXPECT_EQ(Response(ad, "http://www.example.com/").text, ad);
  // An advertising element spanning two pieces.
  EXPECT_EQ(Response("x<div id=bottomads1><div>a", url).text, "x" + std::string(25, ' '));
  EXPECT_EQ(Response("b</div>c</div>" + result, url).text, std::string(14, ' ') + result);
  outcome = Response("<div id=b_topads>x</div><div class=\"searchCenterTopAds\">y</div>",
                     "http://www.bing.com/search?q=x");
  EXPECT_EQ(outcome.text, std::string(24, ' ') + "<div class=\"searchCenterTopAds\">y</div>");
  outcome = Response("<div class=\"searchCenterTopAds\">y</div>", "http://search.yahoo.com/?p=1");
  EXPECT_EQ(outcome.text, std::string(39, ' '));
}

}  // namespace
