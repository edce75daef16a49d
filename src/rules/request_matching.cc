// Allow, request and response conditions, nested rules, and the two entry points.
#include "rules/request_matching.h"

#include "core/ascii.h"
#include "rules/content_rewrite.h"

namespace {

// A value tested several times, each test followed by a nested rule that may
// rewrite the text: every test must see the value as it was first read.
std::string_view StableValue(std::string_view value, bool nested, TrafficPiece& piece) {
  return nested ? piece.state.KeepValue(piece.nestingLevel, value) : value;
}

// The prefix, suffix and contains tests on a URL or header value, in that order,
// each followed by the condition's nested rule. Prefix and suffix must be
// strictly shorter than the value. The value's letters are in any case, the
// condition's in lower case.
bool ValueTestsHold(const ConditionElement& condition, std::string_view value,
                    TrafficPiece& piece) {
  const std::string_view prefix = condition.prefix;
  if (!prefix.empty() && prefix.size() < value.size() &&
      EqualsNoCase(value.substr(0, prefix.size()), prefix) &&
      NestedRuleHolds(condition.nested, piece))
    return true;
  const std::string_view suffix = condition.suffix;
  if (!suffix.empty() && suffix.size() < value.size() &&
      EqualsNoCase(value.substr(value.size() - suffix.size()), suffix) &&
      NestedRuleHolds(condition.nested, piece))
    return true;
  return !condition.contains.GetText().empty() &&
         condition.contains.FindIn(value, 0) != std::string_view::npos &&
         NestedRuleHolds(condition.nested, piece);
}

bool HeaderTestsHold(const ConditionElement& condition, TrafficPiece& piece) {
  const std::optional<std::string_view> value = piece.headers.Read(piece.text, condition.header);
  if (!value) return false;
  return ValueTestsHold(condition, StableValue(*value, condition.nested.body != nullptr, piece),
                        piece);
}

// Without a header, the first given of contains, prefix and suffix is looked for
// anywhere in the piece.
bool AnywhereTestHolds(const ConditionElement& condition, TrafficPiece& piece) {
  if (condition.anywhere.GetText().empty()) return false;
  return piece.text.Find(condition.anywhere, 0) != CTrafficText::npos &&
         NestedRuleHolds(condition.nested, piece);
}

bool FromRequestHolds(const ConditionElement& condition, TrafficPiece& piece) {
  if (condition.fromRequest.GetText().empty()) return false;
  return condition.fromRequest.FindIn(piece.requestUrl, 0) != std::string_view::npos &&
         NestedRuleHolds(condition.nested, piece);
}

bool MatchAllow(const RuleBody& rule, TrafficPiece& piece) {
  if (!piece.startsMessage) return false;
  for (const ConditionElement& condition : rule.allows) {
    const bool holds = condition.header.GetText().empty() ? AnywhereTestHolds(condition, piece)
                                                          : HeaderTestsHold(condition, piece);
    if (holds) return true;
  }
  return false;
}

bool MatchRequest(const RuleBody& rule, TrafficPiece& piece) {
  if (!piece.startsMessage || rule.requests.empty()) return false;
  const std::optional<std::string_view> read = piece.url.Read(piece.text);
  if (!read) return false;
  // Taken before the conditions run: nested content may rewrite the text meanwhile.
  const std::string_view url = StableValue(*read, rule.requestsNested, piece);
  for (const ConditionElement& condition : rule.requests)
    if (ValueTestsHold(condition, url, piece)) return true;
  return false;
}

bool MatchResponse(const RuleBody& rule, TrafficPiece& piece) {
  if (!piece.startsMessage) return false;
  for (const ConditionElement& condition : rule.responses) {
    const bool holds = condition.header.GetText().empty() ? FromRequestHolds(condition, piece) ||
                                                                AnywhereTestHolds(condition, piece)
                                                          : HeaderTestsHold(condition, piece);
    if (holds) return true;
  }
  return false;
}

}  // namespace

bool NestedRuleHolds(const NestedRule& nested, TrafficPiece& piece) {
  if (!nested.body) return !nested.tooDeep;
  const RuleBody& rule = *nested.body;
  ++piece.nestingLevel;
  // The kinds are tried in this order and the first failure ends the check, so a
  // nested content element rewrites only when the conditions before it held.
  const bool holds = (rule.allows.empty() || MatchAllow(rule, piece)) &&
                     (rule.requests.empty() || MatchRequest(rule, piece)) &&
                     (rule.responses.empty() || MatchResponse(rule, piece)) &&
                     (rule.contents.empty() || ApplyContent(rule.contents, piece));
  --piece.nestingLevel;
  return holds;
}

bool IsRequestAllowed(char* text, std::size_t length, std::string_view requestUrl,
                      const CRuleSet& rules, CFilterState& state) {
  if (text == nullptr || length == 0 || !rules.IsFilterEnabled()) return false;
  state.Fit(rules.GetOpenDepthCount());
  CTrafficText traffic(text, length);
  CHeaderValueReader headers;
  TrafficPiece piece(traffic, true, requestUrl, state, headers);
  for (const RuleBody& rule : rules.GetRules())
    if (MatchAllow(rule, piece)) return true;
  return false;
}

FilterVerdict FilterTraffic(char* text, std::size_t length, const PieceFlags& flags,
                            std::string_view requestUrl, const CRuleSet& rules,
                            CFilterState& state) {
  CTrafficText traffic(text, length);
  CHeaderValueReader headers;
  return FilterTraffic(traffic, flags, requestUrl, rules, state, headers);
}

FilterVerdict FilterTraffic(CTrafficText& traffic, const PieceFlags& flags,
                            std::string_view requestUrl, const CRuleSet& rules, CFilterState& state,
                            CHeaderValueReader& headers) {
  FilterVerdict verdict;
  if (traffic.GetBuffer() == nullptr || traffic.GetLength() == 0 || flags.allowed) return verdict;
  if (!rules.IsFilterEnabled() || rules.GetRules().empty()) return verdict;
  state.Fit(rules.GetOpenDepthCount());
  TrafficPiece piece(traffic, flags.startsMessage, requestUrl, state, headers);
  if (flags.isRequest) {
    for (const RuleBody& rule : rules.GetRules())
      if (MatchAllow(rule, piece)) return verdict;
  }
  for (const RuleBody& rule : rules.GetRules()) {
    const bool matched = flags.isRequest ? MatchRequest(rule, piece) : MatchResponse(rule, piece);
    if (matched) {
      verdict.blocked = 1;
      return verdict;
    }
    if (ApplyContent(rule.contents, piece)) verdict.modified = 1;
  }
  return verdict;
}
