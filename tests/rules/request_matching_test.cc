#include "rules/request_matching.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "core/string_pool.h"
#include "rules/rule_document.h"
#include "xml/xml_node.h"

namespace {

using rules_test::CCompiledConfig;
using rules_test::CTrafficBuffer;
using rules_test::MakeConfig;
using rules_test::MakeRule;

const char kRequest[] =
    "GET http://www.example.com/A/x.JS HTTP/1.1\r\nHost: www.example.com\r\n"
    "Referer: http://friend.org/page\r\nAccept-Encoding: gzip,deflate\r\n\r\n";
const char kResponse[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html>body</html>";

struct Outcome {
  FilterVerdict verdict;
  std::string text;
};

Outcome Filter(CCompiledConfig& config, std::string_view traffic, bool isRequest,
               bool firstChunk = true, std::string_view url = "http://www.example.com/a/x.js",
               bool allowed = false) {
  CTrafficBuffer buffer(traffic);
  Outcome outcome;
  const PieceFlags flags{.startsMessage = firstChunk, .isRequest = isRequest, .allowed = allowed};
  outcome.verdict =
      FilterTraffic(buffer.Data(), buffer.Length(), flags, url, config.rules, config.state);
  outcome.text = buffer.Text();
  EXPECT_EQ(buffer.Terminator(), '\0');
  return outcome;
}

bool Blocks(std::string_view conditions, std::string_view traffic, bool isRequest = true,
            bool firstChunk = true, std::string_view url = "http://www.example.com/a/x.js") {
  auto document = MakeRule(conditions);
  return Filter(*document, traffic, isRequest, firstChunk, url).verdict.blocked == 1;
}

bool Allows(std::string_view conditions, std::string_view traffic) {
  auto document = MakeRule(conditions);
  CTrafficBuffer buffer(traffic);
  return IsRequestAllowed(buffer.Data(), buffer.Length(), "", document->rules, document->state);
}

TEST(RequestMatching, NothingHappensWithFilteringOffNoRulesOrAnAllowedRequest) {
  const std::string rules =
      "<filterrule><enabled>yes</enabled><allow contains=\"example\"/>"
      "<request contains=\"example\"/><content contains=\"referer\"/></filterrule>";
  auto off = MakeConfig(rules, false);
  CTrafficBuffer buffer(kRequest);
  EXPECT_FALSE(IsRequestAllowed(buffer.Data(), buffer.Length(), "", off->rules, off->state));
  Outcome outcome = Filter(*off, kRequest, true);
  EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
  EXPECT_EQ(outcome.text, kRequest);

  auto bare = MakeConfig("<filterrule name=\"bare\"><enabled>yes</enabled></filterrule>");
  EXPECT_FALSE(IsRequestAllowed(buffer.Data(), buffer.Length(), "", bare->rules, bare->state));
  outcome = Filter(*bare, kRequest, true);
  EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
  EXPECT_EQ(Filter(*bare, kResponse, false).text, kResponse);

  auto none = MakeConfig("");
  EXPECT_FALSE(IsRequestAllowed(buffer.Data(), buffer.Length(), "", none->rules, none->state));
  EXPECT_EQ(Filter(*none, kRequest, true).text, kRequest);

  auto on = MakeConfig(
      "<filterrule><enabled>yes</enabled><request contains=\"example\"/>"
      "<content contains=\"referer\"/></filterrule>");
  for (bool isRequest : {true, false}) {
    outcome = Filter(*on, kRequest, isRequest, true, "", true);
    EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
    EXPECT_EQ(outcome.text, kRequest);
  }
  EXPECT_EQ(FilterTraffic(nullptr, 5, {.startsMessage = true, .isRequest = true}, "", on->rules,
                          on->state)
                .blocked,
            0);
  EXPECT_FALSE(IsRequestAllowed(buffer.Data(), 0, "", on->rules, on->state));
  EXPECT_FALSE(IsRequestAllowed(nullptr, 4, "", on->rules, on->state));
}

TEST(RequestMatching, AllowSearchesTheWholePieceOrAHeaderValue) {
  // The whole request text is searched, so a Referer naming the site matches too.
  EXPECT_TRUE(Allows("<allow contains=\"FRIEND.org\"/>", kRequest));
  // Without a header, prefix and suffix are plain substrings; contains is taken first.
  EXPECT_TRUE(Allows("<allow prefix=\"host: www\"/>", kRequest));
  EXPECT_TRUE(Allows("<allow suffix=\"x.js\"/>", kRequest));
  EXPECT_FALSE(Allows("<allow contains=\"nowhere\" prefix=\"GET\"/>", kRequest));
  EXPECT_FALSE(Allows("<allow/>", kRequest));
  // With a header: prefix and suffix must be strictly shorter than the value.
  EXPECT_TRUE(Allows("<allow header=\"host\" prefix=\"www.\"/>", kRequest));
  EXPECT_FALSE(Allows("<allow header=\"host\" prefix=\"www.example.com\"/>", kRequest));
  EXPECT_TRUE(Allows("<allow header=\"host\" suffix=\".COM\"/>", kRequest));
  EXPECT_TRUE(Allows("<allow header=\"host\" contains=\"www.example.com\"/>", kRequest));
  EXPECT_FALSE(Allows("<allow header=\"x-missing\" contains=\"w\"/>", kRequest));
  EXPECT_FALSE(Allows("<allow contains=\"friend\"/>", "GET / HTTP/1.0\r\n\r\n"));

  // A disabled rule exempts nothing; an allow on a later piece of a request does nothing.
  auto disabled = MakeConfig(
      "<filterrule><enabled>no</enabled><allow contains=\"get\"/>"
      "</filterrule>");
  CTrafficBuffer buffer(kRequest);
  EXPECT_FALSE(
      IsRequestAllowed(buffer.Data(), buffer.Length(), "", disabled->rules, disabled->state));
  auto allowAndBlock = MakeRule("<allow contains=\"friend\"/><request contains=\"example\"/>");
  EXPECT_EQ(Filter(*allowAndBlock, kRequest, true).verdict.blocked, 0);
  auto allowAndRewrite = MakeRule("<allow contains=\"friend\"/><content contains=\"example\"/>");
  EXPECT_EQ(Filter(*allowAndRewrite, "GET /example HTTP/1.0\r\nfriend", true, false).text,
            "GET /        HTTP/1.0\r\nfriend");
}

TEST(RequestMatching, RequestTestsTheLowerCasedUrlToken) {
  const char get[] = "GET /a/ HTTP/1.1\r\n\r\n";
  const char getLonger[] = "GET /a/x HTTP/1.1\r\n\r\n";
  EXPECT_FALSE(Blocks("<request prefix=\"/a/\"/>", get));  // strictly shorter only
  EXPECT_TRUE(Blocks("<request prefix=\"/a/\"/>", getLonger));
  EXPECT_TRUE(Blocks("<request contains=\"/a/\"/>", get));
  EXPECT_TRUE(Blocks("<request contains=\"/a/\"/>", getLonger));
  EXPECT_TRUE(Blocks("<request suffix=\".js\"/>", kRequest));  // the URL ends in .JS
  EXPECT_FALSE(Blocks("<request suffix=\".js\"/>", "GET /x.js?v=1 HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(Blocks("<request suffix=\".JS\"/>", "GET /x.js HTTP/1.1\r\n\r\n"));
  // Only the URL is tested, never the headers; the header attribute has no effect.
  EXPECT_FALSE(Blocks("<request contains=\"friend\"/>", kRequest));
  EXPECT_TRUE(Blocks("<request header=\"nothing\" contains=\"example\"/>", kRequest));
  // No LF in the piece, no URL token, or a later piece of the request: no match.
  EXPECT_FALSE(Blocks("<request contains=\"/a\"/>", "GET /a HTTP/1.1"));
  EXPECT_FALSE(Blocks("<request contains=\"get\"/>", "GET\n"));
  EXPECT_FALSE(Blocks("<request contains=\"get\"/>", "GET    \n"));
  EXPECT_FALSE(Blocks("<request contains=\"/a\"/>", getLonger, true, false));
  // Spaces end the token; CR and LF do not.
  EXPECT_TRUE(Blocks("<request contains=\"/a\r\nhost\"/>", "GET   /a\r\nHost: x\r\n"));
}

TEST(RequestMatching, ResponseTestsHeaderValuesTheWholePieceOrTheRequestUrl) {
  EXPECT_TRUE(
      Blocks("<response header=\"content-type\" contains=\"text/html\"/>", kResponse, false));
  // The value stops at its first space, so it is "text/html;".
  EXPECT_TRUE(Blocks("<response header=\"content-type\" suffix=\"html;\"/>", kResponse, false));
  EXPECT_FALSE(Blocks("<response header=\"content-type\" contains=\"utf-8\"/>", kResponse, false));
  // The header name is found anywhere, also inside the body and without a colon.
  EXPECT_TRUE(Blocks("<response header=\"x-kind\" prefix=\"ad\"/>",
                     "HTTP/1.1 200 OK\r\n\r\nsee X-KIND :: :ADVERT here", false));
  EXPECT_FALSE(Blocks("<response header=\"x-kind\" prefix=\"ad\"/>",
                      "HTTP/1.1 200 OK\r\n\r\nsee X-KIND \r\nadvert", false));
  EXPECT_TRUE(Blocks("<response contains=\"BODY\"/>", kResponse, false));
  // fromrequest is tested on the request URL, on every piece of the response.
  EXPECT_TRUE(Blocks("<response fromrequest=\"Example.com/a\"/>", "a later piece", false));
  EXPECT_FALSE(
      Blocks("<response fromrequest=\"example.com/a\"/>", "a later piece", false, true, ""));
  EXPECT_FALSE(
      Blocks("<response header=\"content-type\" fromrequest=\"example\"/>", kResponse, false));
  EXPECT_FALSE(Blocks("<response contains=\"body\"/>", kResponse, false, false));
  // Responses are never tested against request conditions, nor requests against response ones.
  EXPECT_FALSE(Blocks("<request contains=\"/\"/>", kResponse, false));
  EXPECT_FALSE(Blocks("<response contains=\"get\"/>", kRequest, true));
}

TEST(RequestMatching, TheFirstMatchingRuleBlocksAndLaterContentIsNotApplied) {
  auto document = MakeConfig(
      "<filterrule><enabled>yes</enabled><content contains=\"accept\"/></filterrule>"
      "<filterrule><enabled>yes</enabled><request contains=\"example\"/>"
      "<content contains=\"host\"/></filterrule>"
      "<filterrule><enabled>yes</enabled><content contains=\"referer\"/></filterrule>");
  Outcome outcome = Filter(*document, kRequest, true);
  EXPECT_EQ(outcome.verdict.blocked, 1);
  EXPECT_EQ(outcome.verdict.modified, 1);  // set by the first rule before the block
  EXPECT_NE(outcome.text.find("      -Encoding"), std::string::npos);
  EXPECT_NE(outcome.text.find("Host:"), std::string::npos);
  EXPECT_NE(outcome.text.find("Referer:"), std::string::npos);

  // On a later piece of a request no condition matches, but content still rewrites.
  outcome = Filter(*document, kRequest, true, false);
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(outcome.verdict.modified, 1);
  EXPECT_EQ(outcome.text.find("Host:"), std::string::npos);
  EXPECT_EQ(outcome.text.find("Referer"), std::string::npos);
  EXPECT_EQ(outcome.text.size(), sizeof(kRequest) - 1);

  // An allow of any enabled rule exempts the request from every rule.
  auto allowed = MakeConfig(
      "<filterrule><enabled>yes</enabled><request contains=\"example\"/></filterrule>"
      "<filterrule><enabled>yes</enabled><allow contains=\"friend.org\"/></filterrule>");
  outcome = Filter(*allowed, kRequest, true);
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(Filter(*allowed, "GET /example HTTP/1.0\r\n\r\n", true).verdict.blocked, 1);
}

TEST(RequestMatching, NestedRulesMustHoldTooAndRunOncePerPassingTest) {
  const std::string nested =
      "<request contains=\"example.com\"><request contains=\"&amp;view=ad&amp;\"/></request>";
  EXPECT_TRUE(Blocks(nested, "GET /mail.example.com/?a=1&view=ad&b HTTP/1.1\r\n\r\n"));
  EXPECT_FALSE(Blocks(nested, "GET /mail.example.com/?a=1&view=inbox HTTP/1.1\r\n\r\n"));
  // A nested rule with no conditions holds.
  EXPECT_TRUE(Blocks("<request contains=\"x.js\"><enabled>no</enabled></request>", kRequest));
  // Every kind of a nested rule must hold: here its allow fails.
  EXPECT_FALSE(
      Blocks("<request contains=\"x.js\"><allow contains=\"absent\"/>"
             "<request contains=\"x\"/></request>",
             kRequest));

  // The nested check runs after each passing test: prefix, suffix and contains all
  // pass here, and the nested content (which never reports) runs three times, each
  // run moving the "y" one place to the left.
  auto document = MakeRule(
      "<request prefix=\"/a\" suffix=\"b\" contains=\"/\">"
      "<content contains=\"xy\" action=\"replace:yx\" return=\"0\"/></request>");
  Outcome outcome = Filter(*document, "GET /ab HTTP/1.1\r\nxxxy\r\n", true);
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(outcome.verdict.modified, 0);
  EXPECT_EQ(outcome.text, "GET /ab HTTP/1.1\r\nyxxx\r\n");
  document = MakeRule(
      "<request prefix=\"/a\"><content contains=\"xy\" action=\"replace:yx\" return=\"0\"/>"
      "</request>");
  EXPECT_EQ(Filter(*document, "GET /ab HTTP/1.1\r\nxxxy\r\n", true).text,
            "GET /ab HTTP/1.1\r\nxxyx\r\n");

  // Each test sees the URL or header value as first read, even after a nested run
  // rewrote it: the first run turns "/ad" into "/zz" and fails, the suffix test
  // still passes on "/ad", and the second run finds "/z" and holds.
  EXPECT_TRUE(
      Blocks("<request prefix=\"/a\" suffix=\"d\"><content contains=\"/z\"/>"
             "<content contains=\"/ad\" action=\"replace:/zz\" return=\"0\"/></request>",
             "GET /ad HTTP/1.1\r\n\r\n"));
  EXPECT_TRUE(
      Blocks("<response header=\"x-kind\" prefix=\"a\" suffix=\"d\"><content contains=\"zz\"/>"
             "<content contains=\"ad\" action=\"replace:zz\" return=\"0\"/></response>",
             "HTTP/1.1 200 OK\r\nX-Kind: ad\r\n\r\n", false));
}

TEST(RequestMatching, EvaluationAddsNothingToTheStringPool) {
  // Capitals in the rules make lower-cased copies; URLs and header values vary.
  auto document = MakeRule(
      "<allow header=\"X-Allow\" prefix=\"YES\"/><request contains=\"/BLOCKED/\"/>"
      "<response fromrequest=\"Example.COM\"><content tag=\"DIV\" attribname=\"ID\" "
      "attribvalue=\"Ad*\" return=\"0\"/></response><content contains=\"Referer\"/>");
  Filter(*document, kRequest, true);
  const std::size_t before = GetStringPool().GetCount();
  for (int i = 0; i < 200; ++i) {
    const std::string n = std::to_string(i);
    const std::string url = "http://www.example.com/page" + n;
    Filter(*document, "GET " + url + " HTTP/1.1\r\nX-Allow: no" + n + "\r\n\r\n", true);
    Filter(*document, "<div id=ad" + n + ">x</div><div id=keep" + n + ">", false, true, url);
  }
  EXPECT_EQ(GetStringPool().GetCount(), before);
}

TEST(RequestMatching, NestingDeeperThanTheLimitNeverHolds) {
  auto nestedRequests = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<request contains=\"/a\">";
    xml += "<enabled>yes</enabled>";
    for (int i = 0; i < depth; ++i) xml += "</request>";
    return xml;
  };
  const char get[] = "GET /a/b HTTP/1.1\r\n\r\n";
  EXPECT_TRUE(Blocks(nestedRequests(kMaxNestingLevel), get));
  EXPECT_FALSE(Blocks(nestedRequests(kMaxNestingLevel + 1), get));
  EXPECT_FALSE(Blocks(nestedRequests(5000), get));
}

TEST(RequestMatching, TheDeepestNestingFitsAWorkerThreadStack) {
  // Every kind at every level, the deepest level rewriting: the whole walk runs on
  // a thread with the proxy workers' 256 KiB stack.
  std::string xml;
  for (int i = 0; i < kMaxNestingLevel; ++i)
    xml +=
        "<content contains=\"/a\" action=\"replace:/a\"><allow contains=\"get\"/>"
        "<request contains=\"/a\"/><response contains=\"http\"/>";
  xml += "<content contains=\"zz\"/>";
  for (int i = 0; i < kMaxNestingLevel; ++i) xml += "</content>";
  struct Run {
    std::unique_ptr<CCompiledConfig> document;
    Outcome outcome;
  } run{MakeRule(xml), {}};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    auto* run = static_cast<Run*>(argument);
    run->outcome = Filter(*run->document, "GET /a/b HTTP/1.1\r\nzz\r\n", true);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(run.outcome.text, "GET /a/b HTTP/1.1\r\n  \r\n");
  EXPECT_EQ(run.outcome.verdict.modified, 1);
}

}  // namespace
