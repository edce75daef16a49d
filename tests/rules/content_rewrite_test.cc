#include "rules/content_rewrite.h"

#include <gtest/gtest.h>

#include <string>

#include "rules/rule_document.h"

namespace {

// A rule of content elements applied to successive pieces of one response.
class CRewriter {
 public:
  explicit CRewriter(std::string_view contents) : m_config(rules_test::MakeRule(contents)) {}

  std::string Apply(std::string_view piece) {
    const rules_test::Outcome outcome =
        rules_test::Filter(*m_config, piece, {.startsMessage = true}, "");
    EXPECT_EQ(outcome.verdict.blocked, 0);
    m_lastMatched = outcome.verdict.modified == 1;
    return outcome.text;
  }
  bool LastMatched() const { return m_lastMatched; }
  void StartMessage() { m_config->state.StartMessage(); }
  // The open-element depth of the slot-th content element that removes by attribute.
  std::int32_t Depth(int slot) const { return m_config->state.OpenDepth(slot); }

 private:
  std::unique_ptr<rules_test::CCompiledConfig> m_config;
  bool m_lastMatched = false;
};

std::string Spaces(std::size_t n) { return std::string(n, ' '); }

TEST(ContentRewrite, CommentRemoveAndReplaceEveryOccurrenceAtTheSameLength) {
  CRewriter comment("<content contains=\"window.open\" action=\"comment\"/>");
  EXPECT_EQ(comment.Apply("a=window.open(u);b=WINDOW.OPEN"), "a=//ndow.open(u);b=//NDOW.OPEN");
  EXPECT_TRUE(comment.LastMatched());
  EXPECT_EQ(comment.Apply("nothing here"), "nothing here");
  EXPECT_FALSE(comment.LastMatched());
  // A one-byte occurrence takes the next byte for its second slash; at the last
  // byte of the text only one slash is written, never the terminating 0 byte.
  CRewriter oneByte("<content contains=\"q\" action=\"COMMENT\"/>");
  EXPECT_EQ(oneByte.Apply("aqbq"), "a///");
  EXPECT_EQ(oneByte.Apply(std::string("xq\0q", 4)), std::string("x/\0q", 4));

  CRewriter remove("<Content contains=\"ab\"/>");
  EXPECT_EQ(remove.Apply("abab-aAB"), "    -a  ");
  // Rewritten bytes are not searched again.
  CRewriter swap("<content contains=\"ab\" action=\"replace:ba\"/>");
  EXPECT_EQ(swap.Apply("abb"), "bab");

  // The replacement keeps its case and is cut or padded to the match; it is the
  // raw action after its first seven bytes and the colons that follow, wherever
  // "replace" stood, and "comment" counts only when exact.
  const std::pair<const char*, const char*> replacements[] = {{"replace:WXYZ", "WXY2WXY"},
                                                              {"REPLACE::x", "x  2x  "},
                                                              {"xreplace:b", "e:b2e:b"},
                                                              {"comment:replace", "rep2rep"},
                                                              {"replace:", "abc2ABC"}};
  for (const auto& [action, expected] : replacements) {
    CRewriter rewriter(std::string("<content contains=\"abc\" action=\"") + action + "\"/>");
    EXPECT_EQ(rewriter.Apply("abc2ABC"), expected) << action;
    EXPECT_TRUE(rewriter.LastMatched());  // also when nothing changed
  }
}

TEST(ContentRewrite, WhatAContentElementReports) {
  // return "0" rewrites but reports no match; any other value reports it.
  for (const char* value : {"1", "no", "0"}) {
    CRewriter rewriter(std::string("<content contains=\"ab\" return=\"") + value + "\"/>");
    EXPECT_EQ(rewriter.Apply("xab"), "x  ");
    EXPECT_EQ(rewriter.LastMatched(), value[0] != '0') << value;
  }
  CRewriter nothing("<content action=\"comment\"/>");
  EXPECT_EQ(nothing.Apply("abc"), "abc");
  EXPECT_FALSE(nothing.LastMatched());
  CRewriter textOnly("<content contains=\"ab\" tag=\"p\"/>");
  EXPECT_EQ(textOnly.Apply("ab"), "  ");
  EXPECT_TRUE(textOnly.LastMatched());
  // Its nested rule, evaluated after the rewrite, decides only what it reports.
  CRewriter failing("<content contains=\"ab\"><allow contains=\"absent\"/></content>");
  EXPECT_EQ(failing.Apply("xab"), "x  ");
  EXPECT_FALSE(failing.LastMatched());
}

TEST(ContentRewrite, TagOnlyElementsEndAtTheFirstClosingMarker) {
  CRewriter remove("<content tag=\"DIV\"/>");
  // Nested elements are not counted.
  EXPECT_EQ(remove.Apply("a<div>x<DIV id=1>y</div>z</div>b<div>c</div>"),
            "a" + Spaces(23) + "z</div>b" + Spaces(12));
  // An element without its closing marker in the piece is left alone, also across
  // pieces; neither "<divx" nor "<div" at the end of the text opens an element.
  EXPECT_EQ(remove.Apply("a<div>xx"), "a<div>xx");
  EXPECT_FALSE(remove.LastMatched());
  EXPECT_EQ(remove.Apply("yy</div>b"), "yy</div>b");
  EXPECT_EQ(remove.Apply("<divx>a</div><div"), "<divx>a</div><div");

  CRewriter comment("<content tag=\"&lt;b\" action=\"comment\"/>");
  EXPECT_EQ(comment.Apply("<b class=x>bold</b> <B>BOLD</B>"), "<b class=x>    </b> <B>    </B>");
  // No ">" after the tag name before the closing marker: nothing is blanked.
  EXPECT_EQ(comment.Apply("<b x</b>"), "<b x</b>");
  EXPECT_TRUE(comment.LastMatched());

  // Replace renames the element at the same length; attributes are dropped and
  // what the shorter text leaves of the old element is blanked.
  CRewriter rename("<content tag=\"font\" action=\"replace:b\"/>");
  EXPECT_EQ(rename.Apply("<font>x</font>|"), "<b>x" + Spaces(6) + "</b>|");
  // The search goes on after the closing marker, past the element's moved content.
  EXPECT_EQ(rename.Apply("<font><font>x</font></font>"), "<b><font>x" + Spaces(6) + "</b></font>");
  EXPECT_EQ(rename.Apply("<font color=red>xy</font>|<font>z</font>"),
            "<b>xy" + Spaces(6) + "</b>" + Spaces(10) + "|<b>z" + Spaces(6) + "</b>");
  // Without a ">" ending the opening tag the content is empty.
  EXPECT_EQ(rename.Apply("<font a=\"</font>|"), "<b>" + Spaces(6) + "</b>" + Spaces(3) + "|");
  CRewriter longer("<content tag=\"b\" action=\"replace:Strong\"/>");
  EXPECT_EQ(longer.Apply("<b>x</b>"), "<S>x</S>");  // cut to the tag name's length
  CRewriter empty("<content tag=\"b\" action=\"replace:\"/>");
  EXPECT_EQ(empty.Apply("<b>x</b>"), "<b>x</b>");
  EXPECT_TRUE(empty.LastMatched());
}

TEST(ContentRewrite, AttributeModeRemovesTheWholeElementWithNestedOnesWhenItsAttributeMatches) {
  CRewriter prefix(
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"TPA*\" action=\"comment\"/>");
  const std::string removed = "<div id=\"tpa1\"><div>in</div>ad</div>";
  EXPECT_EQ(prefix.Apply("<p>" + removed + "<div id=x>keep</div><div id=tpa>x</div></p>"),
            "<p>" + Spaces(removed.size()) + "<div id=x>keep</div>" + Spaces(19) + "</p>");

  CRewriter exact("<content tag=\"div\" attribname=\"ID\" attribvalue=\"ads_topC\"/>");
  for (const std::string element :
       {"<div id=\"ads_topc\">a</div>", "<div class=a id = ads_TOPC>a</div>",
        "<div id='ads_topc'>a</div>", "<div valid=ads_topc>a</div>"})  // the name's first place
    EXPECT_EQ(exact.Apply(element), Spaces(element.size())) << element;
  for (const std::string element :
       {"<div id=\"ads_topc2\">a</div>", "<div valid=1 id=ads_topc>a</div>",
        "<div>id=ads_topc</div>", "<div id \"ads_topc\">a</div>",
        "<div id=ads_topc"})  // a bare tag is never tested, a tag's last byte neither
    EXPECT_EQ(exact.Apply(element), element);

  CRewriter suffix("<content tag=\"div\" attribname=\"class\" attribvalue=\"*-AD\"/>");
  EXPECT_EQ(suffix.Apply("<div class=\"top-ad x\">a</div><div class=\"ad\">a</div>"),
            Spaces(29) + "<div class=\"ad\">a</div>");
  EXPECT_EQ(suffix.Apply("<div class='my-ad'>a</div>"), Spaces(26));
  // A name without a value selects any value; a value without a name nothing.
  CRewriter any("<content tag=\"div\" attribname=\"data-ad\"/>");
  EXPECT_EQ(any.Apply("<div data-ad=\"1\">a</div><div data-ad>b</div>"),
            Spaces(24) + "<div data-ad>b</div>");
  CRewriter valueOnly("<content tag=\"div\" attribvalue=\"ad\"/>");
  EXPECT_EQ(valueOnly.Apply("<div id=ad>a</div><div =ad>b</div>"),
            "<div id=ad>a</div><div =ad>b</div>");
  EXPECT_FALSE(valueOnly.LastMatched());

  // With an alternate tag, the test is made on the element that must follow the
  // opening tag, after blanks only.
  CRewriter rewriter(
      "<content tag=\"font\" alternatetag=\"A\" attribname=\"id\" attribvalue=\"aw*\"/>");
  const std::string ad = "<font size=2>\r\n  <A href=x id=aw0>ad</a></font>";
  EXPECT_EQ(rewriter.Apply(ad + "|"), Spaces(ad.size()) + "|");
  for (const std::string kept :
       {"<font id=aw1><b>x</b><a id=aw2>y</a></font>", "<font size=2>text <a id=aw3>y</a></font>",
        "<font size=2>   ", "<font size=2> <a", "<font size=2"}) {
    EXPECT_EQ(rewriter.Apply(kept), kept);
    EXPECT_FALSE(rewriter.LastMatched());
  }
}

TEST(ContentRewrite, AnElementLeftOpenIsRemovedFromTheFollowingPieces) {
  CRewriter rewriter("<content tag=\"div\" attribname=\"id\" attribvalue=\"tpa*\"/>");
  EXPECT_EQ(rewriter.Apply("a<div id=tpa1><div>x"), "a" + Spaces(19));
  EXPECT_EQ(rewriter.Depth(0), 2);
  // The continuation blanks without reporting a match.
  EXPECT_EQ(rewriter.Apply("<div>y</div>z</div>"), Spaces(19));
  EXPECT_FALSE(rewriter.LastMatched());
  EXPECT_EQ(rewriter.Apply("w</DIV>tail<div>keep</div>"), Spaces(7) + "tail<div>keep</div>");
  EXPECT_EQ(rewriter.Apply("<div>untouched</div>"), "<div>untouched</div>");

  // The depth is not reset between pieces unless the caller marks a new message; a
  // later element in the piece that closes stores 0.
  rewriter.Apply("<div id=tpa>");
  EXPECT_EQ(rewriter.Apply("HTTP/1.1 200 OK\r\n\r\n<p>x</p>"), Spaces(27));
  rewriter.StartMessage();
  EXPECT_EQ(rewriter.Apply("<p>x</p></div>"), "<p>x</p></div>");
  rewriter.Apply("<div id=tpa>");
  EXPECT_EQ(rewriter.Apply("</div><div id=tpa>x</div>"), Spaces(25));
  EXPECT_EQ(rewriter.Depth(0), 0);

  // Each content element keeps its own depth.
  CRewriter two(
      "<content tag=\"div\" attribname=\"id\" attribvalue=\"ad\"/>"
      "<content tag=\"p\" attribname=\"class\" attribvalue=\"ad\"/>");
  EXPECT_EQ(two.Apply("<div id=ad>x</div><p class=ad><p>"), Spaces(33));
  EXPECT_EQ(two.Apply("<div id=ad><div>x</p>q</p>"), Spaces(26));
  EXPECT_EQ(two.Apply("</div></div>z</p></p>w"), Spaces(21) + "w");
  EXPECT_EQ(two.Depth(0) + two.Depth(1), 0);
}

}  // namespace
