// Tests of the XML writer: tag layout, sinks, escaping and tree output.
#include "xml/xml_writer.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "core/code_page.h"
#include "xml/xml_node.h"
#include "xml/xml_reader.h"

namespace {

constexpr const char* kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n";

class TempFolder {
 public:
  TempFolder() {
    std::string pattern = (std::filesystem::temp_directory_path() / "xmlwriterXXXXXX").string();
    m_path = mkdtemp(pattern.data()) ? pattern : std::string();
  }
  ~TempFolder() {
    std::error_code ignored;
    if (!m_path.empty()) std::filesystem::remove_all(m_path, ignored);
  }
  std::string File(const char* name) const { return m_path + "/" + name; }

 private:
  std::string m_path;
};

std::string ReadWholeFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Writes `node` into a file the way the configuration is saved and returns the bytes.
std::string SaveToFile(const CXmlNode& node) {
  TempFolder folder;
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
  EXPECT_EQ(SaveToFile(rules), std::string(kDeclaration) +
                                   " <filterrules>\r\n"
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
  EXPECT_EQ(EscapeXmlText("a\tb\nc\rd\x01\x1F\x7F"),
            "a&#9;b&#10;c&#13;d\xEF\xBF\xBD\xEF\xBF\xBD\x7F");
  EXPECT_EQ(EscapeXmlText(""), "");
  EXPECT_EQ(EscapeXmlText(static_cast<const char*>(nullptr)), "");
  EXPECT_EQ(EscapeXmlText(std::string_view("ab\0<c", 5)), "ab");
}

TEST(XmlWriter, RepeatedAttributeNamesMergeAndCaseMatters) {
  CXmlNode node("e");
  node.AddAttribute("a", "1");
  node.AddAttribute("b", "2");
  node.AddAttribute("a", "3");
  node.AddAttribute("A", "4");
  EXPECT_EQ(SaveToFile(node), std::string(kDeclaration) + " <e a=\"3\" b=\"2\" A=\"4\"/>\r\n");

  CXmlMemoryWriter sink;
  CXmlTag tag("t");
  tag.SetAttribute("name", "first");
  tag.SetAttribute("name", "second");
  tag.SetAttribute("Name", "third");
  tag.WriteEmptyTag(sink, 0, false, false);
  EXPECT_NE(sink.GetBuffer().View().find("<t name=\"second\" Name=\"third\"/>"), std::string::npos);
}

TEST(XmlWriter, ElementWithChildrenAndTextPutsTextOnTheStartLine) {
  CXmlNode node("outer");
  node.SetText("words");
  node.AddChild("inner");
  EXPECT_EQ(SaveToFile(node), std::string(kDeclaration) +
                                  " <outer>words\r\n"
                                  "  <inner/>\r\n"
                                  " </outer>\r\n");
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
  TempFolder folder;
  const std::string path = folder.File("round.xml");
  CXmlFileWriter writer(CPooledString(path.c_str()));
  ASSERT_TRUE(WriteXmlNode(writer, root));
  ASSERT_TRUE(writer.Close());
  CXmlNode document("__root__");
  ASSERT_TRUE(LoadXmlFile(path.c_str(), true, document));
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

TEST(XmlWriter, TagOperationsMoveTheLevelInPairs) {
  CXmlMemoryWriter sink;
  CXmlTag tag("x");
  tag.WriteStartTag(sink, 1, true, true);
  EXPECT_EQ(sink.GetLevel(), 1);
  tag.WriteEmptyTag(sink, 1, true, true);
  EXPECT_EQ(sink.GetLevel(), 1);
  tag.WriteEndTag(sink, -1, true, true);
  EXPECT_EQ(sink.GetLevel(), 0);
  sink.CloseDocument();
  EXPECT_EQ(sink.GetBuffer().View(), std::string(kDeclaration) +
                                         "<tarvisk>\r\n"
                                         " <x>\r\n"
                                         "  <x/>\r\n"
                                         " </x>\r\n"
                                         "</tarvisk>\r\n");
  // A level that went negative writes no indentation rather than failing.
  CXmlMemoryWriter negative;
  negative.SetLevel(-5);
  tag.WriteEmptyTag(negative, 0, true, false);
  EXPECT_NE(negative.GetBuffer().View().find("\r\n<x/>"), std::string::npos);
}

TEST(XmlMemoryWriter, DocumentOpensOnFirstWriteAndClosesOnce) {
  CXmlMemoryWriter empty;
  EXPECT_TRUE(empty.Write(nullptr, 0));
  EXPECT_TRUE(empty.Write("abc", 0));
  empty.CloseDocument();
  EXPECT_TRUE(empty.GetBuffer().IsEmpty());

  CXmlMemoryWriter record;
  CXmlTag url("url");
  url.SetAttribute("name", "page1");
  url.WriteEmptyTag(record, 1, true, true);
  const std::string opening = std::string(kDeclaration) + "<tarvisk>\r\n";
  EXPECT_EQ(record.GetBuffer().View().substr(0, opening.size()), opening);
  record.CloseDocument();
  const std::string full = opening + " <url name=\"page1\"/>\r\n</tarvisk>\r\n";
  EXPECT_EQ(record.GetBuffer().View(), full);
  record.CloseDocument();
  EXPECT_EQ(record.GetBuffer().View(), full);

  // A write after closing starts a second document in the same buffer; Reset
  // begins afresh.
  record.Reset();
  EXPECT_TRUE(record.GetBuffer().IsEmpty());
  record.Write("text");
  EXPECT_EQ(record.GetBuffer().View(), opening + "text");
  EXPECT_TRUE(record.Close());
  EXPECT_EQ(record.GetBuffer().View(), opening + "text</tarvisk>\r\n");
  EXPECT_FALSE(record.IsOpened());
}

TEST(XmlFileWriter, DeclarationOncePerOpeningAndEmptyTextOpens) {
  TempFolder folder;
  const std::string path = folder.File("decl.xml");
  CXmlFileWriter writer(CPooledString(path.c_str()));
  EXPECT_TRUE(writer.Write(nullptr, 0));
  EXPECT_FALSE(writer.IsOpened());
  EXPECT_TRUE(writer.Write(""));
  EXPECT_TRUE(writer.IsOpened());
  EXPECT_TRUE(writer.Write("a\nb", 3));
  EXPECT_TRUE(writer.Write("c"));
  EXPECT_TRUE(writer.Close());
  // The newline stays one byte: the file is written in binary.
  EXPECT_EQ(ReadWholeFile(path), std::string(kDeclaration) + "a\nbc");

  // Reopening empties the file and writes the declaration again.
  writer.Write("second");
  writer.Close();
  EXPECT_EQ(ReadWholeFile(path), std::string(kDeclaration) + "second");

  // A caller with a complete document of its own suppresses the declaration.
  writer.SetDeclarationWritten(true);
  writer.Write("<own/>");
  writer.Close();
  EXPECT_EQ(ReadWholeFile(path), "<own/>");
}

TEST(XmlFileWriter, FailedOpenReturnsFalseAndStaysClosed) {
  TempFolder folder;
  CXmlFileWriter writer(CPooledString(folder.File("missing/dir/out.xml").c_str()));
  EXPECT_FALSE(writer.Write("data", 4));
  EXPECT_FALSE(writer.IsOpened());
  EXPECT_FALSE(writer.IsDeclarationWritten());
  CXmlNode node("lumbra");
  EXPECT_FALSE(WriteXmlNode(writer, node));
  EXPECT_FALSE(writer.IsOpened());

  // The file name changes only while the file is closed.
  const std::string good = folder.File("good.xml");
  writer.SetFileName(CPooledString(good.c_str()));
  EXPECT_TRUE(writer.Write("x"));
  writer.SetFileName(CPooledString(folder.File("other.xml").c_str()));
  writer.Write("y");
  writer.Close();
  EXPECT_EQ(ReadWholeFile(good), std::string(kDeclaration) + "xy");

  CXmlFileWriter unnamed;
  EXPECT_FALSE(unnamed.Write("x"));
  EXPECT_FALSE(unnamed.IsOpened());
}

TEST(XmlFileWriter, WriteErrorIsReportedByClose) {
  if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  CXmlFileWriter writer(CPooledString("/dev/full"));
  writer.Write("some bytes that only reach the disk when flushed");
  EXPECT_TRUE(writer.IsOpened());
  EXPECT_FALSE(writer.Close());
  EXPECT_FALSE(writer.IsOpened());
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
  EXPECT_EQ(EscapeXmlText("caf\xC3\xA9 & co"), "caf\xC3\xA9 &amp; co");

  ASSERT_TRUE(SetNarrowCharset("CP1252"));
  EXPECT_EQ(EscapeXmlText("caf\xE9 <b>\x01"), "caf\xC3\xA9 &lt;b&gt;\xEF\xBF\xBD");
  EXPECT_EQ(EscapeXmlText(CPooledString("\x80")), "\xE2\x82\xAC");

  ASSERT_TRUE(SetNarrowCharset("CP932"));
  // Hiragana A (82 A0) and the katakana KA (83 4A) become three UTF-8 bytes each.
  EXPECT_EQ(EscapeXmlText("\x82\xA0\"\x83\x4A&"), "\xE3\x81\x82&quot;\xE3\x82\xAB&amp;");
}

}  // namespace
