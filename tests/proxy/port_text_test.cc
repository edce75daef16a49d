// Tests of reading port numbers from text.
#include "proxy/port_text.h"

#include <gtest/gtest.h>

namespace {

TEST(PortText, DigitsOnlyFromOneTo65535) {
  EXPECT_EQ(ParsePort("8010"), 8010);
  EXPECT_EQ(ParsePort("65535"), 65535);
  EXPECT_EQ(ParsePort("1"), 1);
  EXPECT_EQ(ParsePort("0008010"), 8010);
  for (const char* text : {"", "0", "00000", "65536", "165535", "99999999999999999999", "80a",
                           " 80", "80 ", "-80", "+80", "8.0"})
    EXPECT_EQ(ParsePort(text), 0) << text;
}

TEST(PortText, SettingsAreReadAsAtolReadsThem) {
  EXPECT_EQ(ParsePortText("8010"), 8010);
  EXPECT_EQ(ParsePortText(" \t+8010 and more"), 8010);
  EXPECT_EQ(ParsePortText("08010"), 8010);
  for (const char* text : {"", "abc", "-80", "- 80", "+-80", "65536", "99999999999999999999"})
    EXPECT_EQ(ParsePortText(text), 0) << text;
}

}  // namespace
