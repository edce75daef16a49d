// The filter as it was before the rules were compiled, kept while the two are compared.
// Allow, request and response conditions, nested rules, and the two entry points.
#include "rules/legacy/request_matching.h"

#include <string>

#include "config/config_store.h"
#include "core/ascii.h"
#include "rules/legacy/content_rewrite.h"
#include "rules/legacy/traffic_fields.h"
#include "xml/xml_node.h"

namespace legacy {
namespace {

// Calls `test` on each child of that kind in document order; true at the first
// child for which it holds.
template <typename Test>
bool AnyConditionHolds(const CFilterRule& rule, ConditionKind kind, Test test) {
  const CXmlNode* node = rule.GetNode();
  if (node == nullptr) return false;
  for (int c = 0; c < node->GetChildCount(); ++c) {
    CXmlNode* child = node->GetChild(c);
    if (IsConditionOf(*child, kind) && test(child)) return true;
  }
  return false;
}

// The prefix, suffix and contains tests on a URL or header value, in that order,
// each followed by the condition's nested check. Prefix and suffix must be
// strictly shorter than the value.
bool ValueTestsHold(const ConditionRecord& record, std::string_view value, CXmlNode* condition,
                    TrafficPiece& piece) {
  const std::string_view prefix = record.prefix.View();
  if (!prefix.empty() && prefix.size() < value.size() && value.starts_with(prefix) &&
      CheckNestedOf(condition, piece))
    return true;
  const std::string_view suffix = record.suffix.View();
  if (!suffix.empty() && suffix.size() < value.size() && value.ends_with(suffix) &&
      CheckNestedOf(condition, piece))
    return true;
  const std::string_view contains = record.contains.View();
  return !contains.empty() && FindExact(value, contains, 0) != std::string_view::npos &&
         CheckNestedOf(condition, piece);
}

bool HeaderTestsHold(const ConditionRecord& record, CXmlNode* condition, TrafficPiece& piece) {
  std::string value;
  if (!piece.headerReader.Read(piece.text, record.header.View(), value)) return false;
  return ValueTestsHold(record, value, condition, piece);
}

// Without a header, the first given of contains, prefix and suffix is looked for
// anywhere in the piece.
bool NeedleTestHolds(const ConditionRecord& record, CXmlNode* condition, TrafficPiece& piece) {
  std::string_view needle = record.contains.View();
  if (needle.empty()) needle = record.prefix.View();
  if (needle.empty()) needle = record.suffix.View();
  if (needle.empty()) return false;
  return piece.text.FindNoCase(needle, 0) != CTrafficText::npos && CheckNestedOf(condition, piece);
}

bool FromRequestHolds(const ConditionRecord& record, CXmlNode* condition, TrafficPiece& piece) {
  const std::string_view fromRequest = record.fromRequest.View();
  if (fromRequest.empty() || piece.requestUrl.empty()) return false;
  if (!piece.lowerRequestUrl) piece.lowerRequestUrl = ToLowerAscii(piece.requestUrl);
  return FindExact(*piece.lowerRequestUrl, fromRequest, 0) != std::string::npos &&
         CheckNestedOf(condition, piece);
}

// The rules in evaluation order. GetRule(i) is child i of "filterrules" for
// i < GetRuleCount, and each call counts the rules again; the list finds
// "filterrules" and counts once, and reaches the same children in constant time
// each.
class CRuleList {
 public:
  explicit CRuleList(const CXmlNode& document) : m_parent(GetRulesNode(document)) {
    m_count = m_parent != nullptr ? m_parent->CountChildren("filterrule") : 0;
  }
  int GetCount() const { return m_count; }
  CFilterRule GetRule(int index) const { return CFilterRule(m_parent->GetChild(index)); }

 private:
  CXmlNode* m_parent;
  int m_count;
};

}  // namespace

bool MatchAllow(const CFilterRule& rule, TrafficPiece& piece) {
  if (!piece.firstChunk) return false;
  return AnyConditionHolds(rule, ConditionKind::kAllow, [&piece](CXmlNode* condition) {
    const ConditionRecord record = ReadConditionNode(condition, ConditionKind::kAllow);
    if (record.header.empty()) return NeedleTestHolds(record, condition, piece);
    return HeaderTestsHold(record, condition, piece);
  });
}

bool MatchRequest(const CFilterRule& rule, TrafficPiece& piece) {
  if (!piece.firstChunk || !rule.HasConditions(ConditionKind::kRequest)) return false;
  // Taken before the conditions run: nested content may rewrite the text meanwhile.
  const std::optional<std::string_view> read = piece.urlReader.Read(piece.text);
  if (!read) return false;
  const std::string url(*read);
  return AnyConditionHolds(rule, ConditionKind::kRequest, [&](CXmlNode* condition) {
    const ConditionRecord record = ReadConditionNode(condition, ConditionKind::kRequest);
    return ValueTestsHold(record, url, condition, piece);
  });
}

bool MatchResponse(const CFilterRule& rule, TrafficPiece& piece) {
  if (!piece.firstChunk) return false;
  return AnyConditionHolds(rule, ConditionKind::kResponse, [&piece](CXmlNode* condition) {
    const ConditionRecord record = ReadConditionNode(condition, ConditionKind::kResponse);
    if (!record.header.empty()) return HeaderTestsHold(record, condition, piece);
    return FromRequestHolds(record, condition, piece) || NeedleTestHolds(record, condition, piece);
  });
}

bool CheckNested(ConditionKind kind, const CFilterRule& rule, int index, TrafficPiece& piece) {
  return CheckNestedOf(rule.GetCondition(kind, index), piece);
}

bool CheckNestedOf(CXmlNode* condition, TrafficPiece& piece) {
  if (condition == nullptr || condition->GetChildCount() == 0) return true;
  if (piece.nestingLevel >= kMaxNestingLevel) return false;
  const CFilterRule nested(condition);
  ++piece.nestingLevel;
  // The kinds are tried in this order and the first failure ends the check, so a
  // nested content element rewrites only when the conditions before it held.
  const bool holds =
      (!nested.HasConditions(ConditionKind::kAllow) || MatchAllow(nested, piece)) &&
      (!nested.HasConditions(ConditionKind::kRequest) || MatchRequest(nested, piece)) &&
      (!nested.HasConditions(ConditionKind::kResponse) || MatchResponse(nested, piece)) &&
      (!nested.HasConditions(ConditionKind::kContent) || ApplyContent(nested, piece));
  --piece.nestingLevel;
  return holds;
}

bool IsRequestAllowed(char* text, std::size_t length, std::string_view requestUrl,
                      CXmlNode& document) {
  if (text == nullptr || length == 0 || !IsFilterEnabled(document)) return false;
  CTrafficText traffic(text, length);
  TrafficPiece piece(traffic, true, requestUrl);
  const CRuleList rules(document);
  for (int i = 0; i < rules.GetCount(); ++i) {
    const CFilterRule rule = rules.GetRule(i);
    if (rule.IsEnabled() && MatchAllow(rule, piece)) return true;
  }
  return false;
}

FilterVerdict FilterTraffic(char* text, std::size_t length, bool firstChunk, bool isRequest,
                            bool allowed, std::string_view requestUrl, CXmlNode& document) {
  if (text == nullptr || length == 0 || allowed) return {};
  CTrafficText traffic(text, length);
  CHeaderValueReader headers;
  return FilterTraffic(traffic, firstChunk, isRequest, allowed, requestUrl, document, headers);
}

FilterVerdict FilterTraffic(CTrafficText& traffic, bool firstChunk, bool isRequest, bool allowed,
                            std::string_view requestUrl, CXmlNode& document,
                            CHeaderValueReader& headers) {
  FilterVerdict verdict;
  if (traffic.GetBuffer() == nullptr || traffic.GetLength() == 0 || allowed) return verdict;
  if (!IsFilterEnabled(document)) return verdict;
  const CRuleList rules(document);
  if (rules.GetCount() == 0) return verdict;
  TrafficPiece piece(traffic, firstChunk, requestUrl, &headers);
  for (int i = 0; isRequest && i < rules.GetCount(); ++i) {
    const CFilterRule rule = rules.GetRule(i);
    if (rule.IsEnabled() && MatchAllow(rule, piece)) return verdict;
  }
  for (int i = 0; i < rules.GetCount(); ++i) {
    const CFilterRule rule = rules.GetRule(i);
    if (!rule.IsEnabled()) continue;
    const bool matched = isRequest ? MatchRequest(rule, piece) : MatchResponse(rule, piece);
    if (matched) {
      verdict.blocked = 1;
      return verdict;
    }
    if (ApplyContent(rule, piece)) verdict.modified = 1;
  }
  return verdict;
}

}  // namespace legacy
