// The filter as it was before the rules were compiled, kept while the two are compared.
// Content elements: rewriting occurrences of a text, and elements chosen by tag
// alone or by tag and attribute value, in place and at the same length.
#include "rules/legacy/content_rewrite.h"

#include <algorithm>
#include <string>

#include "rules/legacy/attribute_test.h"
#include "rules/legacy/element_markers.h"
#include "xml/xml_node.h"

namespace legacy {
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

bool RewriteOccurrences(const ContentRecord& record, ContentAction action, CTrafficText& text) {
  const std::string_view needle = record.contains.View();
  const CSearchNeedle search(needle, true);
  const std::string_view replacement =
      GetReplacementText(record.rawAction).substr(0, needle.size());
  bool matched = false;
  for (std::size_t at = text.Find(search, 0); at != npos;
       at = text.Find(search, at + needle.size())) {
    matched = true;
    if (action == ContentAction::kComment) {
      CommentOut(text, at);
    } else if (action == ContentAction::kRemove) {
      text.Blank(at, at + needle.size());
    } else if (!replacement.empty()) {
      text.Write(at, replacement);
      text.Blank(at + replacement.size(), at + needle.size());
    }
  }
  return matched;
}

// An element removed in an earlier piece may still be open: blank from the start
// of this piece up to the closing marker that closes it, or the whole piece.
void ContinueOpenElement(CXmlNode& content, const ElementMarkers& markers, CTrafficText& text) {
  const std::int32_t depth = content.GetUserValue();
  if (depth <= 0) return;
  const ElementEnd end = FindElementEnd(text, markers, 0, depth);
  text.Blank(0, end.closed ? end.end : text.GetLength());
  content.SetUserValue(end.closed ? 0 : end.count);
}

// Comment: the element's content becomes spaces, its tags stay.
void BlankElementContent(CTrafficText& text, const ElementMarkers& markers, std::size_t opening,
                         std::size_t closing) {
  const std::size_t tagEnd = text.FindByte('>', opening + markers.opener.size(), closing);
  if (tagEnd != npos) text.Blank(tagEnd + 1, closing);
}

// Replace: the element becomes "<R>" + its content + spaces + "</R>". The opening
// tag's attributes are dropped; whatever of the old element the shorter result
// does not cover becomes spaces. Without a ">" ending the opening tag the content
// is taken as empty.
void RenameElement(CTrafficText& text, const ElementMarkers& markers, std::string_view rawAction,
                   std::size_t opening, std::size_t closing) {
  const std::string_view tagName = markers.TagName();
  const std::string_view name = GetReplacementText(rawAction).substr(0, tagName.size());
  if (name.empty()) return;
  const std::size_t tagEnd = text.FindByte('>', opening + markers.opener.size(), closing);
  std::string built = "<";
  built.append(name).append(">");
  if (tagEnd != npos) built.append(text.GetBuffer() + tagEnd + 1, closing - tagEnd - 1);
  built.append(2 * (tagName.size() - name.size()), ' ');
  built.append("</").append(name).append(">");
  text.Write(opening, built);
  text.Blank(opening + built.size(), closing + markers.closing.size());
}

// Tag-only mode: every element of the tag closed within the piece; the first
// closing marker after the opening tag ends it, nested elements uncounted.
bool RewriteElementsByTag(const ContentRecord& record, ContentAction action,
                          const ElementMarkers& markers, CTrafficText& text) {
  bool matched = false;
  std::size_t from = 0;
  while (true) {
    const std::size_t opening = FindOpeningMarker(text, markers, from);
    if (opening == npos) break;
    const std::size_t closing =
        text.Find(markers.closingSearch, opening + markers.openingWithSpace.size());
    // No element after this one can find a closing marker either.
    if (closing == npos) break;
    if (action == ContentAction::kComment) {
      BlankElementContent(text, markers, opening, closing);
    } else if (action == ContentAction::kReplace) {
      RenameElement(text, markers, record.rawAction, opening, closing);
    } else {
      text.Blank(opening, closing + markers.closing.size());
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
bool RemoveElementsByAttribute(CXmlNode& content, const ContentRecord& record,
                               const ElementMarkers& markers, CTrafficText& text) {
  const std::string_view name = record.attribName.View();
  if (name.empty()) return false;
  const CSearchNeedle nameSearch(name, true);
  const std::string_view value = record.attribValue.empty() ? "*" : record.attribValue.View();
  bool matched = false;
  std::size_t from = 0;
  while (true) {
    const std::size_t opening = text.Find(markers.openingWithSpaceSearch, from);
    if (opening == npos) break;
    AttributeArea area;
    if (!LocateAttributeArea(text, opening, markers, record.alternateTag.View(), area) ||
        !AttributeMatches(text, area, nameSearch, value)) {
      from = area.end;
      continue;
    }
    matched = true;
    const ElementEnd end = FindElementEnd(text, markers, opening + 1, 1);
    content.SetUserValue(end.closed ? 0 : end.count);
    if (!end.closed) {
      text.Blank(opening, text.GetLength());
      break;
    }
    text.Blank(opening, end.end);
    from = end.end;
  }
  return matched;
}

bool ApplyContentElement(CXmlNode& content, TrafficPiece& piece) {
  const ContentRecord record = ReadContentNode(&content);
  const ContentAction action = GetContentAction(record.action.View());
  bool matched = false;
  if (!record.contains.empty()) matched = RewriteOccurrences(record, action, piece.text);
  if (!record.tag.empty()) {
    const ElementMarkers markers(record.tag.View());
    ContinueOpenElement(content, markers, piece.text);
    const bool tagOnly = record.attribName.empty() && record.attribValue.empty();
    const bool hit = tagOnly ? RewriteElementsByTag(record, action, markers, piece.text)
                             : RemoveElementsByAttribute(content, record, markers, piece.text);
    matched = matched || hit;
  }
  // Children are evaluated after the rewrites; they decide only what is reported.
  if (matched) matched = CheckNestedOf(&content, piece);
  return matched && record.reportsMatch;
}

}  // namespace

ContentAction GetContentAction(std::string_view lowerAction) {
  if (lowerAction == "comment") return ContentAction::kComment;
  if (lowerAction.find("replace") != std::string_view::npos) return ContentAction::kReplace;
  return ContentAction::kRemove;
}

std::string_view GetReplacementText(std::string_view rawAction) {
  std::string_view text = rawAction.substr(std::min<std::size_t>(rawAction.size(), 7));
  while (text.starts_with(':')) text.remove_prefix(1);
  return text;
}

bool ApplyContent(const CFilterRule& rule, TrafficPiece& piece) {
  CXmlNode* node = rule.GetNode();
  if (node == nullptr) return false;
  bool anyMatched = false;
  for (int c = 0; c < node->GetChildCount(); ++c) {
    CXmlNode* child = node->GetChild(c);
    if (IsConditionOf(*child, ConditionKind::kContent) && ApplyContentElement(*child, piece))
      anyMatched = true;
  }
  return anyMatched;
}

}  // namespace legacy
