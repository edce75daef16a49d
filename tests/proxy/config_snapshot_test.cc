#include "proxy/config_snapshot.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/request_matching.h"
#include "rules/rule_document.h"

namespace {

std::string Filter(std::string piece, const CConfigSnapshot& snapshot, CFilterState& state) {
  FilterTraffic(piece.data(), piece.size(), {.startsMessage = true}, "http://x/",
                snapshot.GetRules(), state);
  return piece;
}

TEST(CConfigSnapshot, EachWorkerKeepsItsOwnOpenElements) {
  const auto document = rules_test::MakeDocument(
      "<filterrule><enabled>yes</enabled>"
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>"
      "<response contains=\"never\"><content contains=\"x\"/></response></filterrule>");
  const CConfigSnapshot snapshot(*document);
  CFilterState first;
  CFilterState second;
  // The first worker's piece ends inside an element being removed...
  EXPECT_EQ(Filter("<div id=\"ad\">open", snapshot, first), std::string(17, ' '));
  EXPECT_EQ(first.OpenDepth(0), 1);
  // ...which blanks that worker's next piece up to the closing tag, and no other's.
  EXPECT_EQ(Filter("<p>other worker</p>", snapshot, second), "<p>other worker</p>");
  EXPECT_EQ(Filter("rest</div><p>kept</p>", snapshot, first), "          <p>kept</p>");
  EXPECT_EQ(first.OpenDepth(0), 0);
}

}  // namespace
