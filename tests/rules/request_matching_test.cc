#include "rules/request_matching.h"

#include <gtest/gtest.h>
#include <pthread.h>

#include <string>

#include "rules/rule_document.h"

namespace {

using rules_test::Filter;
using rules_test::IsAllowed;
using rules_test::MakeConfig;
using rules_test::MakeRule;
using rules_test::Outcome;

const char kRequest[] =
    "GET http://www.example.com/A/x.JS HTTP/1.1\r\nHost: www.example.com\r\n"
    "Referer: http://friend.org/page\r\nAccept-Encoding: gzip,deflate\r\n\r\n";
const char kResponse[] =
    "HTTP/1.1 200 OK\r\nContent-Type: text/html; charset=utf-8\r\n\r\n<html>body</html>";
constexpr PieceFlags kRequestStart{.startsMessage = true, .isRequest = true};
constexpr PieceFlags kResponsePiece{.startsMessage = true};

bool Blocks(std::string_view conditions, std::string_view traffic,
            const PieceFlags& flags = kRequestStart,
            std::string_view url = "http://www.example.com/a/x.js") {
  return Filter(*MakeRule(conditions), traffic, flags, url).verdict.blocked == 1;
}

TEST(RequestMatching, NothingHappensWithFilteringOffNoEnabledRuleOrAnAllowedRequest) {
  const std::string rule =
      "<filterrule><enabled>yes</enabled><allow contains=\"friend\"/>"
      "<request contains=\"example\"/><content contains=\"referer\"/></filterrule>";
  const std::string disabled =
      "<filterrule><enabled>no</enabled><request contains=\"example\"/>"
      "<content contains=\"referer\"/></filterrule>";
  const PieceFlags allowed{.startsMessage = true, .isRequest = true, .allowed = true};
  std::pair<std::unique_ptr<rules_test::CCompiledConfig>, PieceFlags> cases[] = {
      {MakeConfig(rule, false), kRequestStart},
      {MakeConfig(""), kRequestStart},
      {MakeConfig(disabled), kRequestStart},
      {MakeConfig(rule), allowed},
      {MakeConfig(rule), PieceFlags{.allowed = true}}};
  for (auto& [config, flags] : cases) {
    EXPECT_EQ(IsAllowed(*config, kRequest, ""), flags.allowed);
    const Outcome outcome = Filter(*config, kRequest, flags, "");
    EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
    EXPECT_EQ(outcome.text, kRequest);
  }
  rules_test::CCompiledConfig& on = *cases[3].first;
  EXPECT_EQ(FilterTraffic(nullptr, 5, kRequestStart, "", on.rules, on.state).blocked, 0);
  EXPECT_FALSE(IsAllowed(on, "", ""));
}

TEST(RequestMatching, AllowSearchesTheWholePieceOrAHeaderValue) {
  // The whole request text is searched, so a Referer naming the site matches too.
  // Without a header, prefix and suffix are plain substrings, contains taken first;
  // with one, the tests are those on a URL, made on the header's value.
  const std::pair<const char*, bool> cases[] = {
      {"<allow contains=\"FRIEND.org\"/>", true},
      {"<ALLOW prefix=\"host: www\"/>", true},
      {"<allow suffix=\"x.js\"/>", true},
      {"<allow contains=\"nowhere\" prefix=\"GET\"/>", false},
      {"<allow/>", false},
      {"<allow header=\"host\" prefix=\"www.\"/>", true},
      {"<allow header=\"host\" suffix=\".COM\"/>", true},
      {"<allow header=\"host\" contains=\"www.example.com\"/>", true},
      {"<allow header=\"x-missing\" contains=\"w\"/>", false}};
  for (const auto& [conditions, allowed] : cases)
    EXPECT_EQ(IsAllowed(*MakeRule(conditions), kRequest, ""), allowed) << conditions;

  // The allow of a later rule exempts the request from an earlier rule's block.
  auto config = MakeConfig(
      "<filterrule><enabled>yes</enabled><request contains=\"example\"/></filterrule>"
      "<filterrule><enabled>yes</enabled><allow contains=\"friend.org\"/></filterrule>");
  EXPECT_EQ(Filter(*config, kRequest, kRequestStart).verdict.blocked, 0);
  EXPECT_EQ(Filter(*config, "GET /example HTTP/1.0\r\n\r\n", kRequestStart).verdict.blocked, 1);
  // An allow never exempts a later piece of a request, whose content still rewrites.
  auto rewrite = MakeRule("<allow contains=\"friend\"/><content contains=\"example\"/>");
  EXPECT_EQ(Filter(*rewrite, "GET /example HTTP/1.0\r\nfriend", {.isRequest = true}).text,
            "GET /        HTTP/1.0\r\nfriend");
}

TEST(RequestMatching, RequestTestsTheUrlToken) {
  EXPECT_FALSE(Blocks("<request prefix=\"/a/\"/>", "GET /a/ HTTP/1.1\r\n"));  // strictly shorter
  EXPECT_TRUE(Blocks("<REQUEST Prefix=\"/A/\"/>", "GET /a/x HTTP/1.1\r\n"));
  EXPECT_TRUE(Blocks("<request contains=\"/a/\"/>", "GET /a/ HTTP/1.1\r\n"));
  EXPECT_TRUE(Blocks("<request suffix=\".js\"/>", kRequest));  // the URL ends in .JS
  EXPECT_FALSE(Blocks("<request suffix=\".js\"/>", "GET /x.js?v=1 HTTP/1.1\r\n"));
  EXPECT_FALSE(Blocks("<request suffix=\"/x.js\"/>", "GET /x.js HTTP/1.1\r\n"));
  // Only the URL is tested, never the headers; the header attribute has no effect.
  EXPECT_FALSE(Blocks("<request contains=\"friend\"/>", kRequest));
  EXPECT_TRUE(Blocks("<request header=\"nothing\" contains=\"example\"/>", kRequest));
  // No LF in the piece, no URL token, or a later piece of the request: no match.
  EXPECT_FALSE(Blocks("<request contains=\"/a\"/>", "GET /a HTTP/1.1"));
  EXPECT_FALSE(Blocks("<request contains=\"get\"/>", "GET    \n"));
  EXPECT_FALSE(Blocks("<request contains=\"/a\"/>", "GET /a/x HTTP/1.1\r\n", {.isRequest = true}));
  // Spaces end the token; CR and LF do not.
  EXPECT_TRUE(Blocks("<request contains=\"/a\r\nhost\"/>", "GET   /a\r\nHost: x\r\n"));
  // Responses are never tested against request conditions, nor requests against response
  // ones; an allow exempts requests only, and a piece not marked as a message start
  // matches no condition.
  EXPECT_FALSE(Blocks("<request contains=\"/\"/>", kResponse, kResponsePiece));
  EXPECT_FALSE(Blocks("<response contains=\"get\"/>", kRequest));
  EXPECT_TRUE(
      Blocks("<allow contains=\"body\"/><response contains=\"body\"/>", kResponse, kResponsePiece));
  EXPECT_FALSE(Blocks("<response contains=\"body\"/>", kResponse, {}));
}

TEST(RequestMatching, ResponseTestsHeaderValuesTheWholePieceOrTheRequestUrl) {
  // The value stops at its first space, so it is "text/html;".
  EXPECT_TRUE(
      Blocks("<Response HEADER=\"Content-Type\" suffix=\"HTML;\"/>", kResponse, kResponsePiece));
  EXPECT_FALSE(
      Blocks("<response header=\"content-type\" contains=\"utf-8\"/>", kResponse, kResponsePiece));
  // The header name is found anywhere, also inside the body and without a colon.
  EXPECT_TRUE(Blocks("<response header=\"x-kind\" prefix=\"ad\"/>",
                     "HTTP/1.1 200 OK\r\n\r\nsee X-KIND :: :ADVERT here", kResponsePiece));
  // The first attribute of a name counts.
  EXPECT_TRUE(
      Blocks("<response contains=\"BODY\" contains=\"absent\"/>", kResponse, kResponsePiece));
  // fromrequest is tested on the request URL, on every piece, but not with a
  // header, and an allow never reads it.
  EXPECT_TRUE(Blocks("<response fromrequest=\"Example.com/a\"/>", "later", kResponsePiece));
  EXPECT_FALSE(Blocks("<response fromrequest=\"example.com/a\"/>", "later", kResponsePiece, ""));
  EXPECT_FALSE(Blocks("<response header=\"content-type\" fromrequest=\"example\"/>", kResponse,
                      kResponsePiece));
  EXPECT_TRUE(Blocks("<allow fromrequest=\"example\"/><request contains=\"x\"/>", kRequest));
}

TEST(RequestMatching, TheFirstMatchingRuleBlocksAndLaterContentIsNotApplied) {
  // Rule i is child i of filterrules while i is below the number of filterrule
  // children, whatever its own name: "other" is rule 1, the last rule none.
  auto config = MakeConfig(
      "<filterrule><enabled>yes</enabled><content contains=\"accept\"/></filterrule>"
      "<other><enabled>yes</enabled><request contains=\"example\"/>"
      "<content contains=\"host\"/></other>"
      "<filterrule><enabled>yes</enabled><content contains=\"referer\"/></filterrule>"
      "<filterrule><enabled>yes</enabled><content contains=\"get\"/></filterrule>");
  Outcome outcome = Filter(*config, kRequest, kRequestStart);
  EXPECT_EQ(outcome.verdict.blocked, 1);
  EXPECT_EQ(outcome.verdict.modified, 1);  // set by the first rule before the block
  EXPECT_NE(outcome.text.find("      -Encoding"), std::string::npos);
  EXPECT_NE(outcome.text.find("Host:"), std::string::npos);
  EXPECT_NE(outcome.text.find("Referer:"), std::string::npos);

  // On a later piece no condition matches, and every rule's content rewrites.
  outcome = Filter(*config, kRequest, {.isRequest = true});
  EXPECT_EQ(outcome.verdict.blocked, 0);
  EXPECT_EQ(outcome.text.find("Host:"), std::string::npos);  // rule 1 is "other"
  EXPECT_EQ(outcome.text.find("GET"), 0u);                   // there is no rule 3

  // A later rule reads the URL as an earlier rule's content left it: here "/".
  config = MakeConfig(
      "<filterrule><enabled>yes</enabled><request contains=\"zz\"/>"
      "<content contains=\"/ad\" action=\"replace:/ x\"/></filterrule>"
      "<filterrule><enabled>yes</enabled><request contains=\"x\"/></filterrule>");
  EXPECT_EQ(Filter(*config, "GET /ad HTTP/1.1\r\n", kRequestStart).verdict.blocked, 0);
}

TEST(RequestMatching, NestedRulesMustHoldTooAndRunOncePerPassingTest) {
  // A nested rule with no conditions holds; every kind of one must hold.
  EXPECT_TRUE(Blocks("<request contains=\"x.js\"><enabled>no</enabled></request>", kRequest));
  EXPECT_FALSE(
      Blocks("<request contains=\"x.js\"><allow contains=\"absent\"/>"
             "<request contains=\"x\"/></request>",
             kRequest));
  EXPECT_FALSE(
      Blocks("<request contains=\"x.js\"><response contains=\"absent\"/></request>", kRequest));

  // The nested check runs after each passing test: prefix, suffix and contains all
  // pass here, and the nested content (which never reports) runs three times, each
  // run moving the "y" one place to the left.
  const Outcome outcome =
      Filter(*MakeRule("<request prefix=\"/a\" suffix=\"b\" contains=\"/\">"
                       "<content contains=\"xy\" action=\"replace:yx\" return=\"0\"/></request>"),
             "GET /ab HTTP/1.1\r\nxxxy\r\n", kRequestStart);
  EXPECT_EQ(outcome.verdict.blocked + outcome.verdict.modified, 0);
  EXPECT_EQ(outcome.text, "GET /ab HTTP/1.1\r\nyxxx\r\n");

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
             "HTTP/1.1 200 OK\r\nX-Kind: ad\r\n\r\n", kResponsePiece));
}

TEST(RequestMatching, NestingStopsAtTheLimitAndTheDeepestFitsAWorkerThreadStack) {
  auto nestedRequests = [](int depth) {
    std::string xml;
    for (int i = 0; i < depth; ++i) xml += "<request contains=\"/a\">";
    xml += "<enabled>yes</enabled>";
    for (int i = 0; i < depth; ++i) xml += "</request>";
    return xml;
  };
  EXPECT_TRUE(Blocks(nestedRequests(kMaxNestingLevel), "GET /a/b HTTP/1.1\r\n"));
  EXPECT_FALSE(Blocks(nestedRequests(kMaxNestingLevel + 1), "GET /a/b HTTP/1.1\r\n"));

  // Every kind at every level, the deepest level rewriting, on a thread with the
  // proxy workers' 256 KiB stack.
  std::string xml;
  for (int i = 0; i < kMaxNestingLevel; ++i)
    xml +=
        "<content contains=\"/a\" action=\"replace:/a\"><allow contains=\"get\"/>"
        "<request contains=\"/a\"/><response contains=\"http\"/>";
  xml += "<content contains=\"zz\"/>";
  for (int i = 0; i < kMaxNestingLevel; ++i) xml += "</content>";
  struct Run {
    std::unique_ptr<rules_test::CCompiledConfig> config;
    Outcome outcome;
  } run{MakeRule(xml), {}};
  pthread_attr_t attributes;
  pthread_attr_init(&attributes);
  pthread_attr_setstacksize(&attributes, 256 * 1024);
  pthread_t thread;
  auto body = [](void* argument) -> void* {
    auto* run = static_cast<Run*>(argument);
    run->outcome = Filter(*run->config, "GET /a/b HTTP/1.1\r\nzz\r\n", kRequestStart);
    return nullptr;
  };
  ASSERT_EQ(pthread_create(&thread, &attributes, body, &run), 0);
  pthread_join(thread, nullptr);
  pthread_attr_destroy(&attributes);
  EXPECT_EQ(run.outcome.text, "GET /a/b HTTP/1.1\r\n  \r\n");
  EXPECT_EQ(run.outcome.verdict.modified, 1);
}

}  // namespace
