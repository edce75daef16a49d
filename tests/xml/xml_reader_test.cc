#include "xml/xml_reader.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "core/code_page.h"
#include "core/user_messages.h"
#include "support/temp_folder.h"
#include "xml/xml_node.h"

namespace {

using Message = std::pair<std::string, std::string>;

// Each test captures every message box.
class XmlReaderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    m_previousEcho = SetMessageEcho(false);
    m_previousListener =
        SetMessageListener([this](std::string_view caption, std::string_view text) {
          m_messages.emplace_back(std::string(caption), std::string(text));
        });
  }

  void TearDown() override {
    SetMessageListener(m_previousListener);
    SetMessageEcho(m_previousEcho);
  }

  // Loads `content` into a fresh document, from a file or from memory.
  bool Load(std::string_view content, bool showErrors = true, bool fromFile = false) {
    m_document.RemoveAll();
    m_messages.clear();
    if (!fromFile) return LoadXmlText(content, showErrors, m_document);
    const std::string path = m_folder.File("input.xml");
    WriteWholeFile(path, content);
    return LoadXmlFile(path.c_str(), showErrors, m_document);
  }

  CTempFolder m_folder;
  bool m_previousEcho = true;
  MessageListener m_previousListener;
  std::vector<Message> m_messages;
  CXmlNode m_document{"__root__"};
};

// The whole tree as one text: names, attributes, texts and nesting.
std::string Describe(const CXmlNode& node) {
  std::string text = "(" + node.GetName().ToString();
  for (int a = 0; a < node.GetAttributeCount(); ++a)
    text += " " + node.GetAttributeName(a).ToString() + "=" + node.GetAttributeValue(a).ToString();
  text += " [" + node.GetText().ToString() + "]";
  for (int c = 0; c < node.GetChildCount(); ++c) text += Describe(*node.GetChild(c));
  return text + ")";
}

TEST_F(XmlReaderTest, AttributeValues) {
  // A value split over lines keeps its line breaks as CR LF, also a break right
  // after the opening quote and a blank line inside it.
  ASSERT_TRUE(Load("<a x=\"one\r\ntwo\" y='\r\nlast' z=\"p\n\nq\"/>"));
  CXmlNode* a = m_document.FindChild("a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->GetAttribute("x").View(), "one\r\ntwo");
  EXPECT_EQ(a->GetAttribute("y").View(), "\r\nlast");
  EXPECT_EQ(a->GetAttribute("z").View(), "p\r\n\r\nq");

  // Blanks around "=", a value on the next line, an empty value; a quoted value
  // ends at its own quote only (files of older versions hold "'" and ">" raw),
  // an unquoted one also at ">".
  ASSERT_TRUE(Load("<a p = \"1\" q=\r\n  \"2\" e=\"\" m=\"Ender's>\" n='say \"hi\"' u=v>text</a>"));
  a = m_document.FindChild("a");
  ASSERT_NE(a, nullptr);
  ASSERT_EQ(a->GetAttributeCount(), 6);
  EXPECT_EQ(a->GetAttribute("p").View(), "1");
  EXPECT_EQ(a->GetAttribute("q").View(), "2");
  EXPECT_TRUE(a->GetAttribute("e").IsEmpty());
  EXPECT_EQ(a->GetAttributeName(2).View(), "e");
  EXPECT_EQ(a->GetAttribute("m").View(), "Ender's>");
  EXPECT_EQ(a->GetAttribute("n").View(), "say \"hi\"");
  EXPECT_EQ(a->GetAttribute("u").View(), "v");
  EXPECT_EQ(a->GetText().View(), "text");

  // References are decoded; the same name twice gives two records.
  ASSERT_TRUE(Load("<c contains=\"&lt;object\" v='&amp;view=ad&amp;' v=\"&quot;&#10;\"/>"));
  CXmlNode* c = m_document.FindChild("c");
  ASSERT_NE(c, nullptr);
  ASSERT_EQ(c->GetAttributeCount(), 3);
  EXPECT_EQ(c->GetAttribute("contains").View(), "<object");
  EXPECT_EQ(c->GetAttributeValue(1).View(), "&view=ad&");
  EXPECT_EQ(c->GetAttributeValue(2).View(), "\"\n");
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(XmlReaderTest, TextKeepsTheLastNonBlankPieceOfItsElement) {
  ASSERT_TRUE(Load("<a>\none\ntwo\n</a>"));
  EXPECT_EQ(m_document.FindChild("a")->GetText().View(), "two");

  // Indentation is no text, text after an end tag lands on the enclosing element,
  // text made of blanks and control characters is ignored, unless written as
  // references; bytes from 0x80 are text.
  ASSERT_TRUE(Load(
      "<r>\n  <a>in</a>after\n  <b>\xC3\xA9 \xE2\x82\xAC</b><c> \t\x01</c><d>&#32;</d>\n</r>\n"));
  CXmlNode* r = m_document.FindChild("r");
  ASSERT_NE(r, nullptr);
  EXPECT_EQ(r->GetText().View(), "after");
  EXPECT_EQ(r->FindChild("a")->GetText().View(), "in");
  EXPECT_EQ(r->FindChild("b")->GetText().View(), "\xC3\xA9 \xE2\x82\xAC");
  EXPECT_TRUE(r->FindChild("c")->GetText().IsEmpty());
  EXPECT_EQ(r->FindChild("d")->GetText().View(), " ");

  // A lone CR inside a line ends a piece of text; the text goes on after it.
  ASSERT_TRUE(Load("<a>one\rtwo\r</a>"));
  EXPECT_EQ(m_document.FindChild("a")->GetText().View(), "two");
}

TEST_F(XmlReaderTest, CommentsAndCDataAreDropped) {
  ASSERT_TRUE(Load("<r>\n<!-- <x>one</x>\n <y a=\"1\"/>\nthree -->\n</r>\n"));
  ASSERT_EQ(m_document.GetChildCount(), 1);
  EXPECT_EQ(m_document.GetChild(0)->GetChildCount(), 0);
  EXPECT_TRUE(m_document.GetChild(0)->GetText().IsEmpty());

  // Text right after a comment is text of the open element.
  ASSERT_TRUE(Load("<r><!-- c -->tail</r>"));
  EXPECT_EQ(m_document.FindChild("r")->GetText().View(), "tail");

  ASSERT_TRUE(Load("<a><![CDATA[x]]></a><b><![CDATA[<c>\n</c>]]></b>"));
  ASSERT_EQ(m_document.GetChildCount(), 2);
  EXPECT_TRUE(m_document.GetChild(0)->GetText().IsEmpty());
  EXPECT_EQ(m_document.GetChild(1)->GetChildCount(), 0);
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(XmlReaderTest, ParseErrorsNameTheLineAndKeepTheTreeBuiltBeforeThem) {
  struct Case {
    std::string content;
    std::string message;
  };
  const Case cases[] = {
      {"\xEF\xBB\xBF<a/>", "Parse error in line 1 : (Syntax error)"},
      {" <a/>", "Parse error in line 1 : (Syntax error)"},
      {"\r\n\r\nstray<a/>", "Parse error in line 3 : (Syntax error)"},
      {"<r>\n<k/>\n<a <b>", "Parse error in line 3 : (Bad '<' symbol)"},
      {"<r>\n<k/>\n<a/>text<  ",
       "Parse error in line 3 : ('<' symbol not allowed at the end of a line)"},
      {"<r>\n<k/>\n< >", "Parse error in line 3 : (Empty element name)"},
      {"<r>\n<k/>\n<>", "Parse error in line 3 : (Empty element name)"},
      {"<r>\n<k/>\n<a =\"1\"/>", "Parse error in line 3 : (Missing attribute name before '=')"},
      {"<r>\n<k/>\n<a x=\"1\" =\"2\"/>",
       "Parse error in line 3 : (Missing attribute name before '=')"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.content);
    // Parse errors are shown even when the caller did not ask for errors, and the
    // load still succeeds with what was read.
    EXPECT_TRUE(Load(c.content, false));
    ASSERT_EQ(m_messages.size(), 1u);
    EXPECT_EQ(m_messages[0], (Message{"xml parser error", c.message}));
    if (c.content.starts_with("<r>")) {
      ASSERT_EQ(m_document.GetChildCount(), 1);
      EXPECT_EQ(m_document.GetChild(0)->GetChild(0)->GetName().View(), "k");
    } else {
      EXPECT_EQ(m_document.GetChildCount(), 0);
    }
  }

  // The parser keeps the text; without show-errors it shows nothing.
  std::istringstream input("<a>\n<b <c>");
  CXmlParser parser(input);
  m_messages.clear();
  while (parser.NextToken()) {
  }
  EXPECT_EQ(parser.GetLastError().View(), "Parse error in line 2 : (Bad '<' symbol)");
  EXPECT_EQ(parser.GetLineNumber(), 2);
  EXPECT_TRUE(m_messages.empty());
}

TEST_F(XmlReaderTest, DecodeXmlTextReplacesReferencesOnce) {
  EXPECT_EQ(DecodeXmlText(""), "");
  EXPECT_EQ(DecodeXmlText("&lt;object"), "<object");
  EXPECT_EQ(DecodeXmlText("&amp;view=ad&amp;"), "&view=ad&");
  EXPECT_EQ(DecodeXmlText("&quot;x&quot;&gt;&apos;"), "\"x\">'");
  EXPECT_EQ(DecodeXmlText("&amp;lt;"), "&lt;");
  EXPECT_EQ(DecodeXmlText("&amp;amp;&amp;#60;"), "&amp;&#60;");
  EXPECT_EQ(DecodeXmlText("&#60;&#x3e;&#X3E;&#9;&#233;&#x20AC;&#x1F600;&#x10000;&#00065;"),
            "<>&#X3E;\t\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80\xF0\x90\x80\x80"
            "A");
  // A reference to a character XML does not allow, or no reference at all, stays.
  const std::string kept[] = {"&lt",
                              "&#;",
                              "&#x;",
                              "&#0;",
                              "&#1;",
                              "&#xD800;",
                              "&#xFFFE;",
                              "&#x110000;",
                              "&#x-41;",
                              "&#6 5;",
                              "&#99999999999999999999999;",
                              "&#65",
                              "&#x41",
                              "&"};
  for (const std::string& text : kept) EXPECT_EQ(DecodeXmlText(text), text);
  // With a UTF-8 narrow set every byte passes unchanged, also broken sequences.
  std::string high;
  for (int b = 0x80; b <= 0xFF; ++b) high.push_back(static_cast<char>(b));
  EXPECT_EQ(DecodeXmlText(high), high);
}

TEST_F(XmlReaderTest, LongLinesAndDeepNestingStayLinear) {
  const std::size_t size = 10 * 1024 * 1024;
  // One 10 MB line of text, of text pieces between lone CRs, and one 10 MB value.
  ASSERT_TRUE(Load("<a>" + std::string(size, 'x') + "</a>"));
  EXPECT_EQ(m_document.FindChild("a")->GetText().View().size(), static_cast<int>(size));
  std::string pieces = "<a>";
  while (pieces.size() < size) pieces += "ab\r";
  ASSERT_TRUE(Load(pieces + "z</a>"));
  EXPECT_EQ(m_document.FindChild("a")->GetText().View(), "z");
  ASSERT_TRUE(Load("<a v=\"" + std::string(size, 'v') + "\"/>"));
  EXPECT_EQ(m_document.FindChild("a")->GetAttribute("v").View().size(), static_cast<int>(size));

  // 100000 nested elements are read, copied and destroyed without recursion.
  const int depth = 100000;
  std::string nested;
  for (int i = 0; i < depth; ++i) nested += "<e>";
  ASSERT_TRUE(Load(nested + "deep"));
  int levels = 0;
  const CXmlNode* node = &m_document;
  while (node->GetChildCount() > 0) {
    node = node->GetChild(0);
    ++levels;
  }
  EXPECT_EQ(levels, depth);
  EXPECT_EQ(node->GetText().View(), "deep");
  m_document.RemoveAll();
}

}  // namespace
