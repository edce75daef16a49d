// Compiling the rule elements of a configuration document into a CRuleSet.
#include "rules/rule_set.h"

#include <algorithm>
#include <utility>

#include "config/config_store.h"
#include "core/ascii.h"
#include "rules/filter_rule.h"
#include "xml/xml_node.h"

namespace {

// The kinds of children a rule evaluates; any other child is left out.
enum class ElementKind { kAllow, kRequest, kResponse, kContent, kOther };

ElementKind KindOf(const CXmlNode& node) {
  const std::string_view name = node.GetName().View();
  if (EqualsNoCase(name, "allow")) return ElementKind::kAllow;
  if (EqualsNoCase(name, "request")) return ElementKind::kRequest;
  if (EqualsNoCase(name, "response")) return ElementKind::kResponse;
  if (EqualsNoCase(name, "content")) return ElementKind::kContent;
  return ElementKind::kOther;
}

// "comment" exactly, else anything containing "replace", else remove.
ContentAction GetContentAction(std::string_view lowerAction) {
  if (lowerAction == "comment") return ContentAction::kComment;
  if (lowerAction.find("replace") != std::string_view::npos) return ContentAction::kReplace;
  return ContentAction::kRemove;
}

// The raw action without its first seven bytes (the length of "replace") and the
// colons after them, wherever "replace" stood in it.
std::string_view GetReplacementText(std::string_view rawAction) {
  std::string_view text = rawAction.substr(std::min<std::size_t>(rawAction.size(), 7));
  while (text.starts_with(':')) text.remove_prefix(1);
  return text;
}

// The first attribute of that name (letters in any case), lower-cased; empty
// when there is none.
std::string LowerAttribute(const CXmlNode& node, const char* name) {
  return ToLowerAscii(node.GetAttribute(name).View());
}

class CRuleCompiler {
 public:
  explicit CRuleCompiler(std::deque<std::string>& texts) : m_texts(texts) {}

  // The children of a rule element, or of an element carrying a nested rule, at
  // that nesting level.
  RuleBody Body(const CXmlNode& node, int level);
  std::size_t GetOpenDepthCount() const { return m_openDepthCount; }

 private:
  std::string_view Keep(std::string text);
  CSearchNeedle Needle(std::string text) { return CSearchNeedle(Keep(std::move(text)), true); }
  NestedRule Nested(const CXmlNode& node, int level);
  ConditionElement Condition(const CXmlNode& node, int level);
  ContentElement Content(const CXmlNode& node, int level);
  ElementMarkers Markers(const std::string& tag);
  void PrepareRename(ContentElement& content, std::string_view rawAction);

  std::deque<std::string>& m_texts;
  std::size_t m_openDepthCount = 0;
};

std::string_view CRuleCompiler::Keep(std::string text) {
  if (text.empty()) return {};
  return m_texts.emplace_back(std::move(text));
}

NestedRule CRuleCompiler::Nested(const CXmlNode& node, int level) {
  NestedRule nested;
  if (node.GetChildCount() == 0) return nested;
  if (level >= kMaxNestingLevel) {
    nested.tooDeep = true;
    return nested;
  }
  nested.body = std::make_unique<const RuleBody>(Body(node, level + 1));
  return nested;
}

ConditionElement CRuleCompiler::Condition(const CXmlNode& node, int level) {
  ConditionElement condition;
  condition.header = Needle(LowerAttribute(node, "header"));
  condition.prefix = Keep(LowerAttribute(node, "prefix"));
  condition.suffix = Keep(LowerAttribute(node, "suffix"));
  condition.contains = Needle(LowerAttribute(node, "contains"));
  std::string_view anywhere = condition.contains.GetText();
  if (anywhere.empty()) anywhere = condition.prefix;
  if (anywhere.empty()) anywhere = condition.suffix;
  condition.anywhere = CSearchNeedle(anywhere, true);
  condition.fromRequest = Needle(LowerAttribute(node, "fromrequest"));
  condition.nested = Nested(node, level);
  return condition;
}

ElementMarkers CRuleCompiler::Markers(const std::string& tag) {
  ElementMarkers markers;
  const std::string opener = tag.starts_with('<') ? tag : "<" + tag;
  markers.opener = Keep(opener);
  markers.openerSearch = CSearchNeedle(markers.opener, true);
  markers.openingWithSpaceSearch = Needle(opener + " ");
  markers.closingSearch = Needle("</" + opener.substr(1) + ">");
  return markers;
}

// Tag-only replace writes "<R>", the content, spaces, "</R>", where R is the
// replacement text cut to the tag name's length.
void CRuleCompiler::PrepareRename(ContentElement& content, std::string_view rawAction) {
  const std::size_t tagLength = content.markers.TagName().size();
  const std::string name(GetReplacementText(rawAction).substr(0, tagLength));
  if (name.empty()) return;
  content.renamedOpening = Keep("<" + name + ">");
  content.renamedClosing = Keep("</" + name + ">");
  content.renamePadding = 2 * (tagLength - name.size());
}

ContentElement CRuleCompiler::Content(const CXmlNode& node, int level) {
  ContentElement content;
  const std::string_view rawAction = Keep(node.GetAttribute("action").ToString());
  content.action = GetContentAction(ToLowerAscii(rawAction));
  content.contains = Needle(LowerAttribute(node, "contains"));
  content.replacement = GetReplacementText(rawAction).substr(0, content.contains.GetText().size());
  const std::string tag = LowerAttribute(node, "tag");
  if (!tag.empty()) {
    content.markers = Markers(tag);
    PrepareRename(content, rawAction);
  }
  const std::string attribName = LowerAttribute(node, "attribname");
  const std::string attribValue = LowerAttribute(node, "attribvalue");
  content.byAttribute = !attribName.empty() || !attribValue.empty();
  content.attribName = Needle(attribName);
  content.attribValue = attribValue.empty() ? "*" : Keep(attribValue);
  const std::string alternateTag = LowerAttribute(node, "alternatetag");
  if (!alternateTag.empty()) content.alternateOpener = Keep("<" + alternateTag + " ");
  // Only a removal by attribute name leaves an element open at a piece's end.
  if (!tag.empty() && !attribName.empty())
    content.openDepthSlot = static_cast<int>(m_openDepthCount++);
  content.reportsMatch = node.GetAttribute("return").View() != "0";
  content.nested = Nested(node, level);
  return content;
}

RuleBody CRuleCompiler::Body(const CXmlNode& node, int level) {
  RuleBody body;
  for (int c = 0; c < node.GetChildCount(); ++c) {
    const CXmlNode& child = *node.GetChild(c);
    switch (KindOf(child)) {
      case ElementKind::kAllow:
        body.allows.push_back(Condition(child, level));
        break;
      case ElementKind::kRequest:
        body.requests.push_back(Condition(child, level));
        body.requestsNested = body.requestsNested || body.requests.back().nested.body;
        break;
      case ElementKind::kResponse:
        body.responses.push_back(Condition(child, level));
        break;
      case ElementKind::kContent:
        body.contents.push_back(Content(child, level));
        break;
      case ElementKind::kOther:
        break;
    }
  }
  return body;
}

}  // namespace

CRuleSet::CRuleSet(const CXmlNode& document) : m_filterEnabled(::IsFilterEnabled(document)) {
  const CXmlNode* rules = GetRulesNode(document);
  if (rules == nullptr) return;
  CRuleCompiler compiler(m_texts);
  // Rule i is child i of "filterrules" for i below the number of "filterrule"
  // children, whatever that child's own name.
  const int count = rules->CountChildren("filterrule");
  for (int i = 0; i < count; ++i) {
    CXmlNode* node = rules->GetChild(i);
    if (CFilterRule(node).IsEnabled()) m_rules.push_back(compiler.Body(*node, 0));
  }
  m_openDepthCount = compiler.GetOpenDepthCount();
}
