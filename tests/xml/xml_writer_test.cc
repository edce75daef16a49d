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

TEST(XmlWriter, TreeLayoutIndentsOneSpacePerLevelWithCrLf) {
  CXmlNode root("lumbra");
  root.AddChild("enabled")->SetText("yes");
  EXPECT_EQ(SaveToFile(root), std::string(kDeclaration) +
                                  " <lumbra>\r\n"
                                  "  <enabled>yes</enabled>\r\n"
                                  " </lumbra>\r\n");

  CXmlNode rules("filterrules");
  CXmlNode* rule = rules.AddChild("filterrule");
  rule->AddAttribute("name", "Ads");
  rule->AddAttribute("kind", "x");
  CXmlNode* condition = rule->AddChild("request");
  condition->AddAttribute("contains", "/ads/");
  CXmlNode* note = rules.AddChild("note");
  note->AddAttribute("lang", "en");
  note->SetText("hello");
  rules.SetText("words");
  EXPECT_EQ(SaveToFile(rules), std::string(kDeclaration) +
                                   " <filterrules>words\r\n"
                                   "  <filterrule name=\"Ads\" kind=\"x\">\r\n"
                                   "   <request contains=\"/ads/\"/>\r\n"
                                   "  </filterrule>\r\n"
                                   "  <note lang=\"en\">hello</note>\r\n"
                                   " </filterrules>\r\n");
}

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

TEST(XmlWriter, EveryTextReadsBackTheSame) {
  const std::string texts[] = {"Ender's_Game",    "a>b",     "<x>",       "\"q\"",
                               "&amp; &#10; &lt", "]]> -->", "tab\there", "line\nbreak\r\nand\rcr",
                               " padded ",        " ",       "\t \t",     "\xC3\xA9\xE2\x82\xAC",
                               "\xFF\x80"};
  CXmlNode root("lumbra");
  for (const std::string& text : texts) {
    CXmlNode* leaf = root.AddChild("leaf");
    leaf->AddAttribute("v", CPooledString(std::string_view(text)));
    leaf->SetText(CPooledString(std::string_view(text)));
    CXmlNode* parent = root.AddChild("parent");
    parent->SetText(CPooledString(std::string_view(text)));
    parent->AddChild("child")->AddAttribute("w", CPooledString(std::string_view(text)));
  }
  CTempFolder folder;
  const std::string path = folder.File("round.xml");
  CXmlFileWriter writer(CPooledString(path.c_str()));
  ASSERT_TRUE(WriteXmlNode(writer, root));
  ASSERT_TRUE(writer.Close());
  CXmlNode document("__root__");
  ASSERT_TRUE(LoadXmlText(ReadWholeFile(path), true, document));
  const CXmlNode* read = document.FindChild("lumbra");
  ASSERT_NE(read, nullptr);
  ASSERT_EQ(read->GetChildCount(), root.GetChildCount());
  for (int i = 0; i < root.GetChildCount(); i += 2) {
    const std::string_view text = root.GetChild(i)->GetText().View();
    SCOPED_TRACE(std::string(text));
    const CXmlNode* leaf = read->GetChild(i);
    const CXmlNode* parent = read->GetChild(i + 1);
    EXPECT_EQ(leaf->GetAttribute("v").View(), text);
    EXPECT_EQ(leaf->GetText().View(), text);
    EXPECT_EQ(parent->GetText().View(), text);
    ASSERT_EQ(parent->GetChildCount(), 1);
    EXPECT_EQ(parent->GetChild(0)->GetAttribute("w").View(), text);
  }
}

TEST(XmlWriter, DeepTreeIsWrittenWithoutRecursion) {
  constexpr int kDepth = 100000;
  CXmlNode root("lumbra");
  CXmlNode* current = &root;
  for (int i = 0; i < kDepth; ++i) current = current->AddChild("n");
  current->SetText("leaf");

  CXmlMemoryWriter sink;
  ASSERT_TRUE(WriteXmlNode(sink, root));
  EXPECT_EQ(sink.GetLevel(), 0);
  const std::string_view out = sink.GetBuffer().View();
  // Two lines per nesting element plus the leaf's line, the declaration and the wrapper.
  std::size_t lines = 0;
  for (std::size_t at = out.find("\r\n"); at != std::string_view::npos;
       at = out.find("\r\n", at + 2))
    ++lines;
  EXPECT_EQ(lines, 2u * kDepth + 1 + 2);
  EXPECT_TRUE(out.ends_with(" </lumbra>\r\n"));
  // Indentation stops growing at some point, so the output stays linear in the tree.
  EXPECT_LT(out.size(), 300u * kDepth);
  EXPECT_NE(out.find(std::string(128, ' ') + "<n>\r\n"), std::string_view::npos);
  EXPECT_EQ(out.find(std::string(129, ' ') + "<"), std::string_view::npos);
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
