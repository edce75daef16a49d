#include "rules/traffic_text.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rule_document.h"

namespace {

using rules_test::CTrafficBuffer;

TEST(TrafficText, SearchesStopAtTheFirstZeroByte) {
  CTrafficBuffer buffer(std::string("GET /A HTTP\0/a hidden", 21));
  CTrafficText text(buffer.Data(), buffer.Length());
  EXPECT_EQ(text.GetTextEnd(), 11u);
  EXPECT_EQ(text.FindNoCase("/a", 0), 4u);
  EXPECT_EQ(text.FindNoCase("/a", 5), CTrafficText::npos);
  EXPECT_EQ(text.FindNoCase("hidden", 0), CTrafficText::npos);
  EXPECT_EQ(text.FindNoCase("", 3), 3u);
  EXPECT_EQ(text.FindNoCase("x", 99), CTrafficText::npos);
  EXPECT_EQ(text.FindByte('T', 0, 99), 2u);
  EXPECT_EQ(text.FindByte('T', 3, 8), CTrafficText::npos);
  EXPECT_EQ(text.FindByte('d', 0, 99), CTrafficText::npos);
}

TEST(TrafficText, WritesStayInsideTheBufferAndOverZeroBytesLengthenTheText) {
  CTrafficBuffer buffer(std::string("ab\0cd\0ef", 8));
  CTrafficText text(buffer.Data(), buffer.Length());
  EXPECT_EQ(text.GetTextEnd(), 2u);
  text.Blank(4, 5);  // beyond the text end: the text stays as it was
  EXPECT_EQ(text.GetTextEnd(), 2u);
  text.Blank(1, 3);
  EXPECT_EQ(text.GetTextEnd(), 5u);
  text.Write(6, "XYZW");
  text.Blank(7, 100);
  EXPECT_EQ(buffer.Text(), std::string("a  c \0X ", 8));
  EXPECT_EQ(buffer.Terminator(), '\0');
  text.Write(5, "!");
  EXPECT_EQ(text.GetTextEnd(), 8u);
  EXPECT_EQ(text.GetText(), "a  c !X ");
}

}  // namespace
