#include "rules/traffic_fields.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rule_document.h"

namespace {

using rules_test::CTrafficBuffer;

TEST(HeaderValueReader, GivesFindHeaderValuesAnswersUntilTheTextIsWrittenTo) {
  CTrafficBuffer buffer(
      "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML\r\nX-Empty:\r\n\r\n<p>content-type</p>");
  CTrafficText text(buffer.Data(), buffer.Length());
  CHeaderValueReader reader;
  for (int round = 0; round < 2; ++round) {
    for (const char* name : {"content-type", "CONTENT-TYPE", "x-empty", "server", "http/1.1"}) {
      std::string expected = "unchanged";
      std::string value = "unchanged";
      const bool found = FindHeaderValue(text, name, expected);
      ASSERT_EQ(reader.Read(text, name, value), found) << name;
      EXPECT_EQ(value, expected) << name;
    }
  }
  std::string value;
  ASSERT_TRUE(reader.Read(text, "content-type", value));
  EXPECT_EQ(value, "text/html");
  // A rule that rewrites the piece changes what the next lookup must see.
  text.Blank(17, 31);
  EXPECT_TRUE(reader.Read(text, "content-type", value));
  EXPECT_EQ(value, "</p>");
  text.Write(17, "Content-Type: image/png ");
  EXPECT_TRUE(reader.Read(text, "content-type", value));
  EXPECT_EQ(value, "image/png");
}

}  // namespace
