// Content elements: rewriting occurrences of a text, and elements chosen by tag
// alone or by tag and attribute value, in place and at the same length.
#include "rules/content_rewrite.h"

#include "rules/attribute_test.h"
#include "rules/element_markers.h"

namespace {

constexpr std::size_t npos = CTrafficText::npos;

// The occurrence's first two bytes become "//", turning the rest of a script line
// into a comment. The second one is written only inside the text: a one-byte
// occurrence at the end of the text gets a single "/", so the terminating 0 byte
// is never overwritten.
void CommentOut(CTrafficText& text, std::size_t at) {
  const std::size_t count = at + 1 < text.GetTextEnd() ? 2 : 1;
  text.Write(at, std::string_view("//", count));
}

bool RewriteOccurrences(const ContentElement& content, CTrafficText& text) {
  const std::size_t length = content.contains.GetText().size();
  bool matched = false;
  for (std::size_t at = text.Find(content.contains, 0); at != npos;
       at = text.Find(content.contains, at + length)) {
    matched = true;
    if (content.action == ContentAction::kComment) {
      CommentOut(text, at);
    } else if (content.action == ContentAction::kRemove) {
      text.Blank(at, at + length);
    } else if (!content.replacement.empty()) {
      text.Write(at, content.replacement);
      text.Blank(at + content.replacement.size(), at + length);
    }
  }
  return matched;
}

// An element removed in an earlier piece may still be open: blank from the start
// of this piece up to the closing marker that closes it, or the whole piece.
void ContinueOpenElement(std::int32_t& depth, const ElementMarkers& markers, CTrafficText& text) {
  if (depth <= 0) return;
  const ElementEnd end = FindElementEnd(text, markers, 0, depth);
  text.Blank(0, end.closed ? end.end : text.GetLength());
  depth = end.closed ? 0 : end.count;
}

// Comment: the element's content becomes spaces, its tags stay.
void BlankElementContent(CTrafficText& text, const ElementMarkers& markers, std::size_t opening,
                         std::size_t closing) {
  const std::size_t tagEnd = text.FindByte('>', opening + markers.opener.size(), closing);
  if (tagEnd != npos) text.Blank(tagEnd + 1, closing);
}

// Replace: the element becomes "<R>" + its content + spaces + "</R>", written over
// it from its start. The opening tag's attributes are dropped; whatever of the old
// element the shorter result does not cover becomes spaces. Without a ">" ending
// the opening tag the content is taken as empty.
void RenameElement(CTrafficText& text, const ContentElement& content, std::size_t opening,
                   std::size_t closing) {
  if (content.renamedOpening.empty()) return;
  const std::size_t tagEnd = text.FindByte('>', opening + content.markers.opener.size(), closing);
  std::size_t at = opening + content.renamedOpening.size();
  if (tagEnd != npos) {
    // The content moves towards the element's start: the new opening tag is no
    // longer than the old one.
    text.Move(at, tagEnd + 1, closing - tagEnd - 1);
    at += closing - tagEnd - 1;
  }
  text.Write(opening, content.renamedOpening);
  text.Blank(at, at + content.renamePadding);
  at += content.renamePadding;
  text.Write(at, content.renamedClosing);
  text.Blank(at + content.renamedClosing.size(), closing + content.markers.ClosingLength());
}

// Tag-only mode: every element of the tag closed within the piece; the first
// closing marker after the opening tag ends it, nested elements uncounted.
bool RewriteElementsByTag(const ContentElement& content, CTrafficText& text) {
  const ElementMarkers& markers = content.markers;
  bool matched = false;
  std::size_t from = 0;
  while (true) {
    const std::size_t opening = FindOpeningMarker(text, markers, from);
    if (opening == npos) break;
    const std::size_t closing =
        text.Find(markers.closingSearch, opening + markers.OpeningWithSpaceLength());
    // No element after this one can find a closing marker either.
    if (closing == npos) break;
    if (content.action == ContentAction::kComment) {
      BlankElementContent(text, markers, opening, closing);
    } else if (content.action == ContentAction::kReplace) {
      RenameElement(text, content, opening, closing);
    } else {
      text.Blank(opening, closing + markers.ClosingLength());
    }
    matched = true;
    from = closing;
  }
  return matched;
}

// Attribute mode: elements whose attribute (or whose alternate element's
// attribute) matches are removed whole, nested elements of the same tag
// included; one still open at the end of the piece is remembered in the depth.
// Without an attribute name nothing is selected; without a value any value does.
bool RemoveElementsByAttribute(const ContentElement& content, TrafficPiece& piece) {
  if (content.attribName.GetText().empty()) return false;
  const ElementMarkers& markers = content.markers;
  CTrafficText& text = piece.text;
  std::int32_t& depth = piece.state.OpenDepth(content.openDepthSlot);
  bool matched = false;
  std::size_t from = 0;
  while (true) {
    const std::size_t opening = text.Find(markers.openingWithSpaceSearch, from);
    if (opening == npos) break;
    AttributeArea area;
    if (!LocateAttributeArea(text, opening, markers, content.alternateOpener, area) ||
        !AttributeMatches(text, area, content.attribName, content.attribValue)) {
      from = area.end;
      continue;
    }
    matched = true;
    const ElementEnd end = FindElementEnd(text, markers, opening + 1, 1);
    depth = end.closed ? 0 : end.count;
    if (!end.closed) {
      text.Blank(opening, text.GetLength());
      break;
    }
    text.Blank(opening, end.end);
    from = end.end;
  }
  return matched;
}

bool ApplyContentElement(const ContentElement& content, TrafficPiece& piece) {
  bool matched = false;
  if (!content.contains.GetText().empty()) matched = RewriteOccurrences(content, piece.text);
  if (!content.markers.IsEmpty()) {
    if (content.openDepthSlot >= 0)
      ContinueOpenElement(piece.state.OpenDepth(content.openDepthSlot), content.markers,
                          piece.text);
    const bool hit = content.byAttribute ? RemoveElementsByAttribute(content, piece)
                                         : RewriteElementsByTag(content, piece.text);
    matched = matched || hit;
  }
  // Nested rules are evaluated after the rewrites; they decide only what is reported.
  if (matched) matched = NestedRuleHolds(content.nested, piece);
  return matched && content.reportsMatch;
}

}  // namespace

bool ApplyContent(const std::vector<ContentElement>& contents, TrafficPiece& piece) {
  bool anyMatched = false;
  for (const ContentElement& content : contents)
    if (ApplyContentElement(content, piece)) anyMatched = true;
  return anyMatched;
}
