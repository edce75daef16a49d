// CRuleSet: the filter rules of one configuration, compiled once and then shared,
// unchanged, by every piece of traffic filtered with that configuration.
#pragma once

#include <cstddef>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "rules/byte_search.h"
#include "rules/element_markers.h"

class CXmlNode;

// Nested rules deeper than this never hold, so that a configuration file nested
// without limit cannot exhaust a worker thread's stack.
inline constexpr int kMaxNestingLevel = 32;

struct RuleBody;

// The rule that a condition or content element carries in its child elements:
// none when it has no child element (the element's test alone decides).
struct NestedRule {
  std::unique_ptr<const RuleBody> body;
  // The element has child elements but lies deeper than kMaxNestingLevel.
  bool tooDeep = false;
};

// An allow, request or response element. Every text is lower-cased; an absent
// attribute and an empty one are both an empty text.
struct ConditionElement {
  CSearchNeedle header;
  std::string_view prefix;
  std::string_view suffix;
  CSearchNeedle contains;
  // What is looked for in the whole piece when there is no header: contains,
  // else prefix, else suffix.
  CSearchNeedle anywhere;
  // Tested by response elements only.
  CSearchNeedle fromRequest;
  NestedRule nested;
};

// What a content element does with what it selects.
enum class ContentAction { kComment, kReplace, kRemove };

// A content element with everything its rewriting needs prepared.
struct ContentElement {
  ContentAction action = ContentAction::kRemove;
  CSearchNeedle contains;
  // What a replace action writes over each occurrence of `contains`.
  std::string_view replacement;
  // Empty markers: no tag given.
  ElementMarkers markers;
  // Elements are chosen by attribute (attribname or attribvalue given), else by tag alone.
  bool byAttribute = false;
  CSearchNeedle attribName;
  // "*" when no value is given: any value does.
  std::string_view attribValue;
  // "<" + alternatetag + " ", or empty.
  std::string_view alternateOpener;
  // Tag-only replace: the element's new tags (empty: nothing to write) and the
  // spaces that keep its length.
  std::string_view renamedOpening;
  std::string_view renamedClosing;
  std::size_t renamePadding = 0;
  // Where the filter state keeps the element this one was removing when a piece
  // ended; -1 for an element that never removes by attribute.
  int openDepthSlot = -1;
  // False only when `return` is exactly "0".
  bool reportsMatch = true;
  NestedRule nested;
};

// The conditions and content elements of a rule or of a nested rule, each kind
// in document order.
struct RuleBody {
  std::vector<ConditionElement> allows;
  std::vector<ConditionElement> requests;
  std::vector<ConditionElement> responses;
  std::vector<ContentElement> contents;
  // Some request element carries a nested rule, which may rewrite the URL's bytes.
  bool requestsNested = false;
};

class CRuleSet {
 public:
  explicit CRuleSet(const CXmlNode& document);
  CRuleSet(const CRuleSet&) = delete;
  CRuleSet& operator=(const CRuleSet&) = delete;

  bool IsFilterEnabled() const { return m_filterEnabled; }
  // The enabled rules, in document order.
  const std::vector<RuleBody>& GetRules() const { return m_rules; }
  // How many content elements may leave an element open at the end of a piece.
  std::size_t GetOpenDepthCount() const { return m_openDepthCount; }

 private:
  bool m_filterEnabled = false;
  std::vector<RuleBody> m_rules;
  std::size_t m_openDepthCount = 0;
  // The texts the rules refer to; a deque never moves what it holds.
  std::deque<std::string> m_texts;
};
