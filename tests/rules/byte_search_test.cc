#include "rules/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "core/ascii.h"

namespace {

constexpr CSearchNeedle::Blocks kEveryWay[] = {
    CSearchNeedle::Blocks::kFastest, CSearchNeedle::Blocks::kAvx512, CSearchNeedle::Blocks::kAvx2,
    CSearchNeedle::Blocks::kPortable};

// Every way of searching gives what a plain search gives.
void ExpectPlainResult(std::string_view haystack, std::string_view needle, std::size_t from) {
  for (const bool noCase : {true, false}) {
    const std::size_t expected = FindBytes(haystack, needle, from, noCase);
    const CSearchNeedle prepared(needle, noCase);
    for (const CSearchNeedle::Blocks way : kEveryWay)
      ASSERT_EQ(prepared.FindIn(haystack, from, way), expected)
          << haystack << " / " << needle << " from " << from << " way " << int(way);
  }
}

TEST(ByteSearch, EveryWayAgreesWithAPlainSearchAroundEveryBlockBoundary) {
  // Bytes that differ from a letter only in bit 0x20 ("@" and "`", "[" and "{"),
  // high bytes, common and rare bytes (the searches test the needle's rarer
  // bytes first), and lengths around the blocks of sixteen and sixty-four.
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
    for (int start = 0; start < 3; ++start)
      ExpectPlainResult(haystack, needle, random() % (haystack.size() + 2));
  }
  // Every offset inside and across the blocks, in both letter cases, for needles
  // whose rarest bytes sit at the start, the middle and the end.
  for (const std::string needle : {"window.open", "<div ", "Content-Type", "e", "ee.ze"}) {
    for (std::size_t at = 0; at + needle.size() <= 200; ++at) {
      std::string text(200, 'e');
      text.replace(at, needle.size(), needle);
      ExpectPlainResult(text, needle, 0);
      for (char& c : text) c = c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c;
      ExpectPlainResult(text, needle, 0);
    }
  }
}

}  // namespace
