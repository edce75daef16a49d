#include "rules/open_elements.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "rules/filter_rule.h"
#include "rules/request_matching.h"
#include "rules/rule_document.h"

namespace {

using rules_test::MakeRule;

constexpr char kRemoveAd[] =
    "<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>"
    "<response fromrequest=\"x\"><content tag=\"div\" attribname=\"id\" attribvalue=\"ad\" "
    "return=\"0\"/></response>";

std::string Filter(std::string piece, CXmlNode& document) {
  FilterTraffic(piece.data(), piece.size(), true, false, false, "http://x/", document);
  return piece;
}

TEST(ResetOpenElements, ANewResponseStartsWithNoElementOpen) {
  auto document = MakeRule(kRemoveAd);
  // The first response ends inside the element being removed.
  const std::string first = Filter("HTTP/1.1 200 OK\r\n\r\n<div id=\"ad\">never closed", *document);
  EXPECT_EQ(first.find("never"), std::string::npos);
  // The nested content element (run first, by the response condition) removed it.
  CXmlNode* rule = document->FindChild("lumbra")->FindChild("filterrules")->GetChild(0);
  CXmlNode* nested = rule->FindChild("response")->FindChild("content");
  ASSERT_GT(nested->GetUserValue(), 0);
  CFilterRule(rule).SetOpenDepth(0, 2);

  ResetOpenElements(*document);
  EXPECT_EQ(CFilterRule(rule).GetOpenDepth(0), 0);
  EXPECT_EQ(nested->GetUserValue(), 0);
  const std::string next = Filter("HTTP/1.1 200 OK\r\n\r\n<p>kept</p>", *document);
  EXPECT_EQ(next, "HTTP/1.1 200 OK\r\n\r\n<p>kept</p>");
}

TEST(ResetOpenElements, LeavesOtherUserValuesAlone) {
  auto document = MakeRule(kRemoveAd);
  CXmlNode* rule = document->FindChild("lumbra")->FindChild("filterrules")->GetChild(0);
  rule->SetUserValue(7);
  rule->FindChild("content")->SetUserValue(3);
  ResetOpenElements(*document);
  EXPECT_EQ(rule->GetUserValue(), 7);
  EXPECT_EQ(rule->FindChild("content")->GetUserValue(), 0);
}

}  // namespace
