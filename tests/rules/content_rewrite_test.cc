#include "rules/content_rewrite.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "rules/rule_document.h"
#include "xml/xml_node.h"

namespace {

using rules_test::CTrafficBuffer;
using rules_test::MakeRule;

// A rule of content elements applied to successive pieces of one response.
class CRewriter {
 public:
  explicit CRewriter(std::string_view contents) : m_config(MakeRule(contents)) {}

  std::string Apply(std::string_view piece) { return Apply(std::string(piece), m_lastMatched); }
  std::string Apply(const std::string& piece, bool& matched) {
    CTrafficBuffer buffer(piece);
    const FilterVerdict verdict =
        FilterTraffic(buffer.Data(), buffer.Length(), {.startsMessage = true}, "", m_config->rules,
                      m_config->state);
    EXPECT_EQ(buffer.Terminator(), '\0');
    EXPECT_EQ(verdict.blocked, 0);
    matched = verdict.modified == 1;
    return buffer.Text();
  }
  bool LastMatched() const { return m_lastMatched; }
  // The open-element depth of the slot-th content element that removes by attribute.
  std::int32_t Depth(int slot) const {
    return slot < static_cast<int>(m_config->rules.GetOpenDepthCount())
               ? m_config->state.OpenDepth(slot)
               : 0;
  }

 private:
  std::unique_ptr<rules_test::CCompiledConfig> m_config;
  bool m_lastMatched = false;
};

std::string Spaces(std::size_t n) { return std::string(n, ' '); }
std::string Blanked(std::string_view text) { return Spaces(text.size()); }

TEST(ContentRewrite, CommentWritesTwoSlashesOverEveryOccurrence) {
  CRewriter rewriter("<content contains=\"window.open\" action=\"comment\"/>");
  EXPECT_EQ(rewriter.Apply("a=window.open(u);b=WINDOW.OPEN"), "a=//ndow.open(u);b=//NDOW.OPEN");
  EXPECT_TRUE(rewriter.LastMatched());
  EXPECT_EQ(rewriter.Apply("nothing here"), "nothing here");
  EXPECT_FALSE(rewriter.LastMatched());

  // A one-byte occurrence takes the next byte for its second slash; at the last
  // byte of the text only one slash is written, never the terminating 0 byte.
  CRewriter oneByte("<content contains=\"q\" action=\"COMMENT\"/>");
  EXPECT_EQ(oneByte.Apply("aqbq"), "a///");
  EXPECT_EQ(oneByte.Apply("q"), "/");
  EXPECT_EQ(oneByte.Apply(std::string("xq\0q", 4)), std::string("x/\0q", 4));
}

TEST(ContentRewrite, RemoveBlanksEveryOccurrenceAtTheSameLength) {
  CRewriter rewriter("<content contains=\"referer\" action=\"remove\"/>");
  EXPECT_EQ(rewriter.Apply("GET / HTTP/1.1\r\nReferer: x\r\nx-referer-2: y\r\n"),
            "GET / HTTP/1.1\r\n       : x\r\nx-       -2: y\r\n");
  CRewriter noAction("<content contains=\"ab\"/>");
  EXPECT_EQ(noAction.Apply("abab-aab"), "    -a  ");
}

TEST(ContentRewrite, ReplaceWritesTheReplacementCutOrPaddedToTheMatch) {
  const std::string builtIn = "replace:accept-encoding:" + Spaces(13);
  CRewriter rewriter("<content contains=\"accept-encoding: gzip,deflate\" action=\"" + builtIn +
                     "\"/>");
  EXPECT_EQ(rewriter.Apply("GET / HTTP/1.1\r\nAccept-Encoding: gzip,deflate\r\n\r\n"),
            "GET / HTTP/1.1\r\naccept-encoding:" + Spaces(13) + "\r\n\r\n");

  CRewriter longer("<content contains=\"abc\" action=\"replace:WXYZ\"/>");
  EXPECT_EQ(longer.Apply("1abc2ABC"), "1WXY2WXY");  // raw case kept, cut to the match
  CRewriter shorter("<content contains=\"abc\" action=\"REPLACE:x\"/>");
  EXPECT_EQ(shorter.Apply("abcabc"), "x  x  ");
  CRewriter empty("<content contains=\"abc\" action=\"replace:\"/>");
  EXPECT_EQ(empty.Apply("-abc-"), "-abc-");
  EXPECT_TRUE(empty.LastMatched());  // unchanged, yet a match
  // The replacement is the raw action after its first seven bytes and the colons
  // that follow, wherever "replace" stood; "comment" counts only when exact.
  CRewriter colons("<content contains=\"abc\" action=\"Replace::B\"/>");
  EXPECT_EQ(colons.Apply("abc"), "B  ");
  CRewriter anywhere("<content contains=\"abc\" action=\"xreplace:b\"/>");
  EXPECT_EQ(anywhere.Apply("abc"), "e:b");
  CRewriter notComment("<content contains=\"abc\" action=\"comment:replace\"/>");
  EXPECT_EQ(notComment.Apply("abc"), "rep");
}

TEST(ContentRewrite, ReturnZeroRewritesButReportsNoMatch) {
  for (const char* value : {"1", "no", ""}) {
    CRewriter reports(std::string("<content contains=\"ab\" return=\"") + value + "\"/>");
    EXPECT_EQ(reports.Apply("xab"), "x  ");
    EXPECT_TRUE(reports.LastMatched()) << value;
  }
  CRewriter silent("<content contains=\"ab\" return=\"0\"/>");
  EXPECT_EQ(silent.Apply("xab"), "x  ");
  EXPECT_FALSE(silent.LastMatched());
  CRewriter nothing("<content action=\"comment\"/>");
  EXPECT_EQ(nothing.Apply("abc"), "abc");
  EXPECT_FALSE(nothing.LastMatched());
}

TEST(ContentRewrite, NestedRulesOfAContentElementDecideOnlyWhatItReports) {
  CRewriter failing("<content contains=\"ab\"><allow contains=\"absent\"/></content>");
  EXPECT_EQ(failing.Apply("xab"), "x  ");
  EXPECT_FALSE(failing.LastMatched());
  CRewriter holding("<content contains=\"ab\"><response contains=\"x\"/></content>");
  EXPECT_EQ(holding.Apply("xab"), "x  ");
  EXPECT_TRUE(holding.LastMatched());
}

TEST(ContentRewrite, TagOnlyElementsEndAtTheFirstClosingMarker) {
  CRewriter remove("<content tag=\"div\"/>");
  EXPECT_EQ(
      remove.Apply("a<div>x<DIV id=1>y</div>z</div>b"),
      "a" + Blanked("<div>x<DIV id=1>y</div>") + "z</div>b");  // nested elements are not counted
  EXPECT_TRUE(remove.LastMatched());
  // An element without its closing marker in the piece is left alone, also across pieces.
  EXPECT_EQ(remove.Apply("a<div>xx"), "a<div>xx");
  EXPECT_FALSE(remove.LastMatched());
  EXPECT_EQ(remove.Apply("yy</div>b"), "yy</div>b");
  EXPECT_EQ(remove.Depth(0), 0);
  // Neither "<divx" nor "<div" at the end of the text opens an element.
  EXPECT_EQ(remove.Apply("<divx>a</div><div"), "<divx>a</div><div");

  CRewriter withOpener("<content tag=\"&lt;b\" action=\"comment\"/>");
  EXPECT_EQ(withOpener.Apply("<b class=x>bold</b> <B>BOLD</B>"), "<b class=x>    </b> <B>    </B>");
  CRewriter comment("<content tag=\"b\" action=\"comment\"/>");
  // No ">" after the tag name before the closing marker: nothing is blanked.
  EXPECT_EQ(comment.Apply("<b x</b>"), "<b x</b>");
  EXPECT_TRUE(comment.LastMatched());
}

TEST(ContentRewrite, TagOnlyReplaceRenamesTheElementAtTheSameLength) {
  CRewriter rename("<content tag=\"font\" action=\"replace:b\"/>");
  EXPECT_EQ(rename.Apply("<font>x</font>|"), "<b>x" + Spaces(6) + "</b>|");
  // Attributes are dropped and what the shorter text leaves of the old element is blanked.
  EXPECT_EQ(rename.Apply("<font color=red>x</font>|"),
            "<b>x" + Spaces(6) + "</b>" + Spaces(10) + "|");
  // Without a ">" ending the opening tag the content is empty.
  EXPECT_EQ(rename.Apply("<font a=\"</font>|"), "<b>" + Spaces(6) + "</b>" + Spaces(3) + "|");
  CRewriter longer("<content tag=\"b\" action=\"replace:Strong\"/>");
  EXPECT_EQ(longer.Apply("<b>x</b>"), "<S>x</S>");  // cut to the tag name's length
  CRewriter empty("<content tag=\"b\" action=\"replace:\"/>");
  EXPECT_EQ(empty.Apply("<b>x</b>"), "<b>x</b>");
  EXPECT_TRUE(empty.LastMatched());
}

TEST(ContentRewrite, AttributeModeRemovesTheWholeElementWithNestedOnes) {
  CRewriter rewriter(
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"tpa*\" "
      "action=\"comment\"/>");  // the action is not consulted
  const std::string page = "<p><div id=\"tpa1\"><div>in</div>ad</div><div id=x>keep</div></p>";
  const std::string removed = "<div id=\"tpa1\"><div>in</div>ad</div>";
  EXPECT_EQ(rewriter.Apply(page), "<p>" + Spaces(removed.size()) + "<div id=x>keep</div></p>");
  EXPECT_TRUE(rewriter.LastMatched());
  EXPECT_EQ(rewriter.Depth(0), 0);
  EXPECT_EQ(rewriter.Apply("<div id=tpa>x</div>"), Spaces(19));

  CRewriter exact("<content tag=\"div\" attribname=\"id\" attribvalue=\"ads_topC\"/>");
  EXPECT_EQ(exact.Apply("<div id=\"ads_topc\">a</div>"), Spaces(26));
  EXPECT_EQ(exact.Apply("<div class=a id = ads_TOPC>a</div>"), Spaces(34));
  EXPECT_EQ(exact.Apply("<div id='ads_topc'>a</div>"), Spaces(26));
  EXPECT_EQ(exact.Apply("<div id=\"ads_topc2\">a</div>"), "<div id=\"ads_topc2\">a</div>");
  EXPECT_EQ(exact.Apply("<div id=ads_topc>a</div>"), Spaces(24));
  // The name's first occurrence counts, even inside another name.
  EXPECT_EQ(exact.Apply("<div valid=ads_topc>a</div>"), Spaces(27));
  EXPECT_EQ(exact.Apply("<div valid=1 id=ads_topc>a</div>"), "<div valid=1 id=ads_topc>a</div>");
  // A bare opening tag has no attributes and is never tested.
  EXPECT_EQ(exact.Apply("<div>id=ads_topc</div>"), "<div>id=ads_topc</div>");

  CRewriter suffix("<content tag=\"div\" attribname=\"class\" attribvalue=\"*-AD\"/>");
  EXPECT_EQ(suffix.Apply("<div class=\"top-ad\">a</div>"), Spaces(27));
  EXPECT_EQ(suffix.Apply("<div class=\"ad\">a</div>"), "<div class=\"ad\">a</div>");
  EXPECT_EQ(suffix.Apply("<div class=\"top-ad x\">a</div>"), Spaces(29));
  CRewriter any("<content tag=\"div\" attribname=\"class\" attribvalue=\"*\"/>");
  EXPECT_EQ(any.Apply("<div class=\"\">a</div><div id=b></div>"), Spaces(21) + "<div id=b></div>");
}

TEST(ContentRewrite, AlternateTagTestsTheElementThatFollowsTheOpeningTag) {
  CRewriter rewriter(
      "<content tag=\"font\" alternatetag=\"a\" attribname=\"id\" "
      "attribvalue=\"aw*\"/>");
  const std::string ad = "<font size=2>\r\n  <A href=x id=aw0>ad</a></font>";
  EXPECT_EQ(rewriter.Apply(ad + "|"), Spaces(ad.size()) + "|");
  const std::string own = "<font id=aw1><b>x</b><a id=aw2>y</a></font>";
  EXPECT_EQ(rewriter.Apply(own), own);
  EXPECT_FALSE(rewriter.LastMatched());
  const std::string text = "<font size=2>text <a id=aw3>y</a></font>";
  EXPECT_EQ(rewriter.Apply(text), text);
  // Cut short: no element after the opening tag, or too few bytes for the opener.
  EXPECT_EQ(rewriter.Apply("<font size=2>   "), "<font size=2>   ");
  EXPECT_EQ(rewriter.Apply("<font size=2> <a"), "<font size=2> <a");
  EXPECT_EQ(rewriter.Apply("<font size=2"), "<font size=2");
}

TEST(ContentRewrite, AnElementLeftOpenIsRemovedFromTheFollowingPieces) {
  CRewriter rewriter("<content tag=\"div\" attribname=\"id\" attribvalue=\"tpa*\"/>");
  EXPECT_EQ(rewriter.Apply("a<div id=tpa1><div>x"), "a" + Spaces(19));
  EXPECT_EQ(rewriter.Depth(0), 2);
  EXPECT_TRUE(rewriter.LastMatched());
  // The continuation blanks without reporting a match.
  EXPECT_EQ(rewriter.Apply("<div>y</div>z</div>"), Spaces(19));
  EXPECT_EQ(rewriter.Depth(0), 1);
  EXPECT_FALSE(rewriter.LastMatched());
  EXPECT_EQ(rewriter.Apply("w</DIV>tail<div>keep</div>"), Spaces(7) + "tail<div>keep</div>");
  EXPECT_EQ(rewriter.Depth(0), 0);
  EXPECT_EQ(rewriter.Apply("<div>untouched</div>"), "<div>untouched</div>");

  // Three pieces with the closing tag split between the last two.
  CRewriter split("<content tag=\"div\" attribname=\"class\" attribvalue=\"ad\"/>");
  EXPECT_EQ(split.Apply("x<div class=ad>a"), "x" + Spaces(15));
  EXPECT_EQ(split.Apply("<div>b</div>c</d"), Spaces(16));
  EXPECT_EQ(split.Depth(0), 1);
  EXPECT_EQ(split.Apply("iv>d</div>e"), Spaces(10) + "e");
  EXPECT_EQ(split.Depth(0), 0);

  // The depth is not reset between responses: the next piece is eaten up to its
  // closing tag, or whole.
  CRewriter carried("<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>");
  carried.Apply("<div id=ad>");
  EXPECT_EQ(carried.Apply("HTTP/1.1 200 OK\r\n\r\n<p>x</p>"), Spaces(27));
  EXPECT_EQ(carried.Depth(0), 1);

  // Each content element keeps its own depth.
  CRewriter two(
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>"
      "<content tag=\"p\" attribname=\"class\" attribvalue=\"ad\"/>");
  EXPECT_EQ(two.Apply("<div id=ad>x</div><p class=ad><p>"), Spaces(33));
  EXPECT_EQ(two.Depth(0), 0);
  EXPECT_EQ(two.Depth(1), 2);
  EXPECT_EQ(two.Apply("<div id=ad><div>x</p>q</p>"), Spaces(26));
  EXPECT_EQ(two.Depth(0), 2);
  EXPECT_EQ(two.Depth(1), 2);
  EXPECT_EQ(two.Apply("</div></div>z</p></p>w"), Spaces(21) + "w");
  EXPECT_EQ(two.Depth(0), 0);
  EXPECT_EQ(two.Depth(1), 0);

  // A later element in the same piece that closes stores depth 0 again.
  CRewriter twice("<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>");
  twice.Apply("<div id=ad>");
  EXPECT_EQ(twice.Apply("</div><div id=ad>x</div>"), Spaces(24));
  EXPECT_EQ(twice.Depth(0), 0);
}

TEST(ContentRewrite, HalfGivenAttributeTests) {
  // A name without a value selects elements having that attribute with any value.
  CRewriter nameOnly("<content tag=\"div\" attribname=\"data-ad\"/>");
  EXPECT_EQ(nameOnly.Apply("<div data-ad=\"1\">a</div><div id=x>b</div>"),
            Spaces(24) + "<div id=x>b</div>");
  EXPECT_EQ(nameOnly.Apply("<div data-ad>a</div>"), "<div data-ad>a</div>");
  // A value without a name selects nothing, and the rule reports no match.
  CRewriter valueOnly("<content tag=\"div\" attribvalue=\"ad\"/>");
  EXPECT_EQ(valueOnly.Apply("<div id=ad>a</div><div =ad>b</div>"),
            "<div id=ad>a</div><div =ad>b</div>");
  EXPECT_FALSE(valueOnly.LastMatched());
}

TEST(ContentRewrite, HostileTrafficStaysInsideTheBuffer) {
  CRewriter rewriter(
      "<content tag=\"div\" alternatetag=\"a\" attribname=\"id\" attribvalue=\"x\"/>"
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"*x\"/>"
      "<content tag=\"p\" action=\"replace:q\"/><content contains=\"&lt;\" action=\"comment\"/>");
  const std::vector<std::string> pieces = {"<div ",
                                           "<div id=",
                                           "<div id=\"",
                                           "<div id=x",
                                           "<div id=\"x",
                                           "<div >",
                                           std::string("<div id=\0x>", 11),
                                           std::string("<div \0 <a id=x>", 15),
                                           "<p>\xff\xfe</p",
                                           "<p </p>",
                                           "<div\xff id=x>",
                                           "<",
                                           "\x80\x81<div \x90<a id=x"};
  for (const std::string& piece : pieces) {
    bool matched = false;
    const std::string result = rewriter.Apply(piece, matched);
    EXPECT_EQ(result.size(), piece.size());
  }
}

}  // namespace
