#include "rules/traffic_text.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rule_document.h"

namespace {

using rules_test::CTrafficBuffer;

TEST(TrafficText, SearchesStopAtTheFirstZeroByte) {
  CTrafficBuffer buffer(std::string("GET /A HTTP\0/a hidden", 21));
  const CTrafficText text(buffer.Data(), buffer.Length());
  EXPECT_EQ(text.GetTextEnd(), 11u);
  const CSearchNeedle slashA("/a", true);
  EXPECT_EQ(text.Find(slashA, 0), 4u);
  EXPECT_EQ(text.Find(slashA, 5), CTrafficText::npos);
  EXPECT_EQ(text.Find(CSearchNeedle("hidden", true), 0), CTrafficText::npos);
  EXPECT_EQ(text.FindByte('T', 3, 8), CTrafficText::npos);
  EXPECT_EQ(text.FindByte('d', 0, 99), CTrafficText::npos);
}

TEST(TrafficText, WritesStayInsideTheBufferAndOverZeroBytesLengthenTheText) {
  CTrafficBuffer buffer(std::string("ab\0cd\0ef", 8));
  CTrafficText text(buffer.Data(), buffer.Length());
  text.Blank(4, 5);  // beyond the text end: the text stays as it was
  EXPECT_EQ(text.GetTextEnd(), 2u);
  text.Blank(1, 3);
  EXPECT_EQ(text.GetTextEnd(), 5u);
  text.Write(6, "XYZW");
  text.Blank(7, 100);
  text.Move(0, 6, 9);
  EXPECT_EQ(buffer.Text(), std::string("X  c \0X ", 8));
  EXPECT_EQ(buffer.Terminator(), '\0');
  text.Write(5, "!");
  EXPECT_EQ(text.GetTextEnd(), 8u);
}

}  // namespace
