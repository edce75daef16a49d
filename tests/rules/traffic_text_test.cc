#include "rules/traffic_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/ascii.h"
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
  EXPECT_EQ(text.Find("/a", 0), CTrafficText::npos);
  EXPECT_EQ(text.Find("/A", 0), 4u);
  EXPECT_EQ(text.FindNoCase("", 3), 3u);
  EXPECT_EQ(text.FindNoCase("x", 99), CTrafficText::npos);
  EXPECT_EQ(text.FindByte('T', 0, 99), 2u);
  EXPECT_EQ(text.FindByte('T', 3, 8), CTrafficText::npos);
  EXPECT_EQ(text.FindByte('d', 0, 99), CTrafficText::npos);
}

TEST(TrafficText, FindIgnoringCaseMatchesEitherCaseOfEveryLetter) {
  EXPECT_EQ(FindNoCase("xxWinDOW.Open(", "window.open", 0), 2u);
  EXPECT_EQ(FindNoCase("aaaaAAAAb", "AAb", 0), 6u);
  EXPECT_EQ(FindNoCase("ab", "abc", 0), std::string::npos);
  EXPECT_EQ(FindNoCase("\xC4\xE4<DIV>", "<div>", 0), 2u);
  // Only A to Z fold: bytes above 127 are compared as they are.
  EXPECT_EQ(FindNoCase("\xC4", "\xE4", 0), std::string::npos);
}

TEST(TrafficText, FindIgnoringCaseAgreesWithAPlainSearchEverywhere) {
  // Bytes that differ from a letter only in bit 0x20 ("@" and "`", "[" and "{"),
  // high bytes, and lengths around the sixteen-byte blocks.
  const std::string alphabet = "aAbB@`[{\xC1\xE1<> ";
  std::mt19937 random(7);
  auto randomText = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 20000; ++round) {
    const std::string haystack = randomText(random() % 70);
    const std::string needle = randomText(1 + random() % 4);
    const std::size_t from = random() % (haystack.size() + 2);
    ASSERT_EQ(FindNoCase(haystack, needle, from), FindBytes(haystack, needle, from, true))
        << haystack << " / " << needle << " from " << from;
  }
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
