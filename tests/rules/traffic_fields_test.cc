#include "rules/traffic_fields.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rule_document.h"

namespace {

TEST(HeaderValueReader, GivesFindHeaderValuesAnswersUntilTheTextIsWrittenTo) {
  const std::string_view bytes =
      "HTTP/1.1 200 OK\r\nContent-Type: Text/HTML\r\nX-Empty:\r\n\r\n<p>content-type</p>";
  const auto buffer = rules_test::MakeBuffer(bytes);
  CTrafficText text(buffer.get(), bytes.size());
  CHeaderValueReader reader;
  for (int round = 0; round < 2; ++round) {
    for (const char* name : {"content-type", "x-empty", "server", "http/1.1"}) {
      const CSearchNeedle needle(name, true);
      ASSERT_EQ(reader.Read(text, needle), FindHeaderValue(text, needle)) << name;
    }
  }
  const CSearchNeedle contentType("content-type", true);
  EXPECT_EQ(reader.Read(text, contentType), "Text/HTML");
  // A rule that rewrites the piece changes what the next lookup must see.
  text.Blank(17, 31);
  EXPECT_EQ(reader.Read(text, contentType), "</p>");
  text.Write(17, "Content-Type: image/png ");
  EXPECT_EQ(reader.Read(text, contentType), "image/png");
}

}  // namespace
