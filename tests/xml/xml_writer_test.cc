// Tests of the XML writer: tag layout, sinks, escaping and tree output.
#include "xml/xml_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "core/code_page.h"
#include "support/temp_folder.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

using namespace std::string_view_literals;

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

// Writes `node` into a file the way the configuration is saved and returns the bytes.
std::string SaveToFile(const CXmlNode& node) {
  CTempFolder folder;
  const std::string path = folder.File("out.xml");
  CXmlFileWriter writer(CPooledString(path.c_str()));
  EXPECT_TRUE(WriteXmlNode(writer, node));
  EXPECT_TRUE(writer.Close());
  return ReadWholeFile(path);
}

// Restores the UTF-8 narrow set however a test ends.
class NarrowCharsetGuard {
 public:
  ~NarrowCharsetGuard() { SetNarrowCharset("UTF-8"); }
};

TEST(XmlWriter, EscapesWhatWouldEndAValueOrTextAndNoForbiddenCharacterGoesOut) {
  CXmlNode node("item");
  node.AddAttribute("a&b", "say \"x\" < y > z 'q' & more");
  EXPECT_EQ(SaveToFile(node), std::string(kDeclaration) +
                                  " <item a&amp;b=\"say &quot;x&quot; &lt; y &gt; z &apos;q&apos; "
                                  "&amp; more\"/>\r\n");

  CXmlNode withText("t");
  withText.SetText("1 < 2 & \"3\" > 0 ]]> -->");
  EXPECT_EQ(
      SaveToFile(withText),
      std::string(kDeclaration) + " <t>1 &lt; 2 &amp; &quot;3&quot; &gt; 0 ]]&gt; --&gt;</t>\r\n");

  // Line breaks and tabs as references; other control characters, which XML 1.0
  // forbids even as references, as U+FFFD; DEL is allowed.
  EXPECT_EQ(EscapeXmlText("a\tb\nc\rd\x01\x1F\x7F"sv),
            "a&#9;b&#10;c&#13;d\xEF\xBF\xBD\xEF\xBF\xBD\x7F");
  EXPECT_EQ(EscapeXmlText(""sv), "");
  EXPECT_EQ(EscapeXmlText(std::string_view("ab\0<c", 5)), "ab");
}

TEST(XmlWriter, RepeatedAttributeNamesMergeAndCaseMatters) {
  CXmlNode node("e");
  node.AddAttribute("a", "1");
  node.AddAttribute("b", "2");
  node.AddAttribute("a", "3");
  node.AddAttribute("A", "4");
  EXPECT_EQ(SaveToFile(node), std::string(kDeclaration) + " <e a=\"3\" b=\"2\" A=\"4\"/>\r\n");
}

TEST(EscapeXmlText, ConvertsFromTheNarrowSetToUtf8) {
  NarrowCharsetGuard restore;
  EXPECT_EQ(EscapeXmlText("caf\xC3\xA9 & co"sv), "caf\xC3\xA9 &amp; co");

  ASSERT_TRUE(SetNarrowCharset("CP1252"));
  EXPECT_EQ(EscapeXmlText("caf\xE9 <b>\x01"sv), "caf\xC3\xA9 &lt;b&gt;\xEF\xBF\xBD");
  EXPECT_EQ(EscapeXmlText(CPooledString("\x80")), "\xE2\x82\xAC");

  ASSERT_TRUE(SetNarrowCharset("CP932"));
  // Hiragana A (82 A0) and the katakana KA (83 4A) become three UTF-8 bytes each.
  EXPECT_EQ(EscapeXmlText("\x82\xA0\"\x83\x4A&"sv), "\xE3\x81\x82&quot;\xE3\x82\xAB&amp;");
}

}  // namespace
