#include "rules/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/ascii.h"

namespace {

TEST(ByteSearch, FindsTheLeftmostOccurrence) {
  EXPECT_EQ(FindNoCase("xxWinDOW.Open(", "window.open", 0), 2u);
  EXPECT_EQ(FindNoCase("aaaaAAAAb", "AAb", 0), 6u);
  EXPECT_EQ(FindNoCase("ab", "abc", 0), std::string::npos);
  EXPECT_EQ(FindNoCase("\xC4\xE4<DIV>", "<div>", 0), 2u);
  // Only A to Z fold: bytes above 127 and "@" against "`" are compared as they are.
  EXPECT_EQ(FindNoCase("\xC4", "\xE4", 0), std::string::npos);
  EXPECT_EQ(FindNoCase("@", "`", 0), std::string::npos);
  EXPECT_EQ(FindExact("xxWinDOW.Open(", "window.open", 0), std::string::npos);
  EXPECT_EQ(FindExact(std::string(40, 'a') + "ab", "ab", 3), 40u);
  EXPECT_EQ(FindNoCase("abc", "", 2), 2u);
  EXPECT_EQ(FindNoCase("abc", "", 4), std::string::npos);
}

constexpr CSearchNeedle::Blocks kEveryWay[] = {
    CSearchNeedle::Blocks::kFastest, CSearchNeedle::Blocks::kAvx512, CSearchNeedle::Blocks::kAvx2,
    CSearchNeedle::Blocks::kPortable};

TEST(ByteSearch, EveryWayAgreesWithAPlainSearchAroundEveryBlockBoundary) {
  // Bytes that differ from a letter only in bit 0x20 ("@" and "`", "[" and "{"),
  // high bytes, common and rare bytes (the searches test the needle's rarer
  // bytes first), and lengths around the blocks of sixteen and sixty-four. A
  // prepared needle is reused from several starting points, as the rewriting does.
  const std::string alphabet = "aAbB@`[{\xC1\xE1<> eEzZ.-0";
  std::mt19937 random(7);
  auto randomText = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 8000; ++round) {
    const std::string haystack = randomText(random() % (round % 2 ? 70 : 300));
    const std::string needle = randomText(1 + random() % (round % 3 ? 4 : 12));
    const CSearchNeedle noCase(needle, true);
    const CSearchNeedle exact(needle, false);
    for (int start = 0; start < 3; ++start) {
      const std::size_t from = random() % (haystack.size() + 2);
      const std::size_t expectedNoCase = FindBytes(haystack, needle, from, true);
      const std::size_t expectedExact = FindBytes(haystack, needle, from, false);
      ASSERT_EQ(FindNoCase(haystack, needle, from), expectedNoCase);
      ASSERT_EQ(FindExact(haystack, needle, from), expectedExact);
      for (const CSearchNeedle::Blocks way : kEveryWay) {
        ASSERT_EQ(noCase.FindIn(haystack, from, way), expectedNoCase)
            << haystack << " / " << needle << " from " << from << " way " << int(way);
        ASSERT_EQ(exact.FindIn(haystack, from, way), expectedExact)
            << haystack << " / " << needle << " from " << from << " way " << int(way);
      }
    }
  }
}

TEST(ByteSearch, FindsANeedleAtEveryPositionOfALongText) {
  // Every offset inside and across the blocks, for needles whose rarest bytes sit
  // at the start, the middle and the end.
  for (const std::string needle : {"window.open", "<div ", "Content-Type", "e", "ee.ze"}) {
    for (std::size_t at = 0; at + needle.size() <= 200; ++at) {
      std::string text(200, 'e');
      text.replace(at, needle.size(), needle);
      const std::size_t expected = FindBytes(text, needle, 0, true);
      ASSERT_EQ(FindNoCase(text, needle, 0), expected) << needle << " at " << at;
      ASSERT_EQ(FindExact(text, needle, 0), FindBytes(text, needle, 0, false)) << needle;
      std::string upper = text;
      for (char& c : upper) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      ASSERT_EQ(FindNoCase(upper, needle, 0), expected) << needle << " at " << at;
      for (const CSearchNeedle::Blocks way : kEveryWay)
        ASSERT_EQ(CSearchNeedle(needle, true).FindIn(upper, 0, way), expected) << int(way);
    }
  }
}

TEST(ByteSearch, CapitalLettersAreAToZOnly) {
  EXPECT_FALSE(HasCapitalLetter(""));
  EXPECT_FALSE(HasCapitalLetter("lower-case.example/path?x=1@[`{\xC4\xE4"));
  EXPECT_FALSE(HasCapitalLetter(std::string(40, 'z') + "@["));
  for (std::size_t at : {0u, 7u, 15u, 16u, 31u, 39u}) {
    std::string text(40, 'a');
    text[at] = at % 2 ? 'Z' : 'A';
    EXPECT_TRUE(HasCapitalLetter(text)) << at;
  }
}

}  // namespace
