#include "proxy/config_snapshot.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/request_matching.h"
#include "rules/rule_document.h"

namespace {

using rules_test::MakeRule;

std::string Filter(std::string piece, CConfigSnapshot& snapshot, COpenDepths& depths) {
  CConfigSnapshot::CLease rules = snapshot.Borrow(depths);
  FilterTraffic(piece.data(), piece.size(), true, false, false, "http://x/", rules.GetDocument());
  return piece;
}

TEST(CConfigSnapshot, EachWorkerKeepsItsOwnOpenElements) {
  const auto document = MakeRule(
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>"
      "<response contains=\"never\"><content contains=\"x\"/></response>");
  CConfigSnapshot snapshot(*document);
  COpenDepths first;
  COpenDepths second;
  // The first worker's piece ends inside an element being removed...
  EXPECT_EQ(Filter("<div id=\"ad\">open", snapshot, first), std::string(17, ' '));
  EXPECT_EQ(first, (COpenDepths{1, 0}));
  // ...which blanks that worker's next piece up to the closing tag, and no other's.
  EXPECT_EQ(Filter("<p>other worker</p>", snapshot, second), "<p>other worker</p>");
  EXPECT_EQ(Filter("rest</div><p>kept</p>", snapshot, first), "          <p>kept</p>");
  EXPECT_EQ(first, (COpenDepths{0, 0}));
}

TEST(CConfigSnapshot, LendsSeparateCopiesAtOnceAndReusesThem) {
  const auto document = MakeRule("<content contains=\"a\"/>");
  CConfigSnapshot snapshot(*document);
  COpenDepths one;
  COpenDepths two;
  CXmlNode* returnedLast = nullptr;
  {
    CConfigSnapshot::CLease a = snapshot.Borrow(one);
    CConfigSnapshot::CLease b = snapshot.Borrow(two);
    EXPECT_NE(&a.GetDocument(), &b.GetDocument());
    EXPECT_NE(&a.GetDocument(), &snapshot.GetDocument());
    returnedLast = &a.GetDocument();  // leases end in reverse order
  }
  CConfigSnapshot::CLease again = snapshot.Borrow(one);
  EXPECT_EQ(&again.GetDocument(), returnedLast);
}

TEST(CConfigSnapshot, ReadsTheSettingsOnce) {
  const auto on = MakeRule("<content contains=\"a\"/>");
  EXPECT_TRUE(CConfigSnapshot(*on).GetSettings().filterActive);
  EXPECT_FALSE(CConfigSnapshot(*rules_test::MakeConfig("", true)).GetSettings().filterActive);
  EXPECT_FALSE(CConfigSnapshot(CXmlNode()).GetSettings().corporate);
}

}  // namespace
