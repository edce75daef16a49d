#include "rules/traffic_text.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rule_document.h"

namespace {

TEST(TrafficText, SearchesStopAtTheFirstZeroByteAndWritesStayInsideTheBuffer) {
  const auto buffer = rules_test::MakeBuffer(std::string("GET /A HTTP\0/a hidden", 21));
  const CTrafficText searched(buffer.get(), 21);
  EXPECT_EQ(searched.GetTextEnd(), 11u);
  const CSearchNeedle slashA("/a", true);
  EXPECT_EQ(searched.Find(slashA, 0), 4u);
  EXPECT_EQ(searched.Find(slashA, 5), CTrafficText::npos);
  EXPECT_EQ(searched.FindByte('T', 3, 8), CTrafficText::npos);
  EXPECT_EQ(searched.FindByte('d', 0, 99), CTrafficText::npos);

  // A write over the first 0 byte lengthens the text up to the next one.
  const auto bytes = rules_test::MakeBuffer(std::string("ab\0cd\0ef", 8));
  CTrafficText written(bytes.get(), 8);
  written.Blank(4, 5);  // beyond the text end: the text stays as it was
  EXPECT_EQ(written.GetTextEnd(), 2u);
  written.Blank(1, 3);
  EXPECT_EQ(written.GetTextEnd(), 5u);
  written.Write(6, "XYZW");
  written.Blank(7, 100);
  written.Move(0, 6, 9);
  EXPECT_EQ(std::string(bytes.get(), 9), std::string("X  c \0X \0", 9));
  written.Write(5, "!");
  EXPECT_EQ(written.GetTextEnd(), 8u);
}

}  // namespace
