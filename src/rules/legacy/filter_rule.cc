// The filter as it was before the rules were compiled, kept while the two are compared.
// CFilterRule and the reading of rule attributes from the document.
#include "rules/legacy/filter_rule.h"

#include <array>
#include <cstddef>

#include "core/ascii.h"
#include "xml/xml_node.h"

namespace legacy {
namespace {

// Element and attribute names as stored in the pool: names written in lower case
// in the file are the same pooled text, so most lookups are a pointer comparison.
const std::array<CPooledString, 4> kElementNames = {"allow", "request", "response", "content"};
const CPooledString kEnabledName = "enabled";

const CPooledString& ElementName(ConditionKind kind) {
  return kElementNames[static_cast<std::size_t>(kind)];
}

// Names written in lower case are the very pooled text wanted; others differ
// within their first letters.
bool NameEquals(const CPooledString& name, const CPooledString& wanted) {
  if (name == wanted) return true;
  if (name.IsEmpty()) return false;
  return CTextEqualsNoCase(name.GetText(), wanted.GetText());
}

// The first child of that name (letters in any case), or null.
CXmlNode* FindChildNamed(const CXmlNode& node, const CPooledString& name) {
  for (int c = 0; c < node.GetChildCount(); ++c) {
    CXmlNode* child = node.GetChild(c);
    if (NameEquals(child->GetName(), name)) return child;
  }
  return nullptr;
}

// Fills `values[j]` with the first attribute of `node` named `names[j]`.
template <std::size_t N>
void ReadAttributes(const CXmlNode& node, const std::array<CPooledString, N>& names,
                    std::array<CPooledString, N>& values) {
  std::array<bool, N> seen{};
  for (int a = 0; a < node.GetAttributeCount(); ++a) {
    const CPooledString name = node.GetAttributeName(a);
    std::size_t j = 0;
    while (j < N && name != names[j]) ++j;
    for (std::size_t k = 0; j == N && k < N; ++k)
      if (EqualsNoCase(name.View(), names[k].View())) j = k;
    if (j == N || seen[j]) continue;
    seen[j] = true;
    values[j] = node.GetAttributeValue(a);
  }
}

}  // namespace

bool IsConditionOf(const CXmlNode& node, ConditionKind kind) {
  return NameEquals(node.GetName(), ElementName(kind));
}

ConditionRecord ReadConditionNode(const CXmlNode* node, ConditionKind kind) {
  static const std::array<CPooledString, 5> kNames = {"header", "prefix", "suffix", "contains",
                                                      "fromrequest"};
  ConditionRecord record;
  if (node == nullptr) return record;
  std::array<CPooledString, 5> values;
  ReadAttributes(*node, kNames, values);
  record.header.Assign(values[0].View());
  record.prefix.Assign(values[1].View());
  record.suffix.Assign(values[2].View());
  record.contains.Assign(values[3].View());
  if (kind == ConditionKind::kResponse) record.fromRequest.Assign(values[4].View());
  return record;
}

ContentRecord ReadContentNode(const CXmlNode* node) {
  static const std::array<CPooledString, 7> kNames = {
      "action", "contains", "tag", "attribname", "attribvalue", "alternatetag", "return"};
  ContentRecord record;
  if (node == nullptr) return record;
  std::array<CPooledString, 7> values;
  ReadAttributes(*node, kNames, values);
  record.action.Assign(values[0].View());
  record.rawAction = values[0].View();
  record.contains.Assign(values[1].View());
  record.tag.Assign(values[2].View());
  record.attribName.Assign(values[3].View());
  record.attribValue.Assign(values[4].View());
  record.alternateTag.Assign(values[5].View());
  record.reportsMatch = values[6].View() != "0";
  return record;
}

bool CFilterRule::IsEnabled() const {
  if (m_node == nullptr) return false;
  const CXmlNode* enabled = FindChildNamed(*m_node, kEnabledName);
  return enabled != nullptr && EqualsNoCase(enabled->GetText().View(), "yes");
}

CPooledString CFilterRule::GetName() const {
  if (m_node == nullptr) return {};
  return m_node->GetAttribute("name");
}

void CFilterRule::SetEnabled(bool enabled) {
  if (m_node == nullptr) return;
  CXmlNode* child = FindChildNamed(*m_node, kEnabledName);
  if (child == nullptr) child = m_node->AddChild(kEnabledName);
  if (child == nullptr) return;
  child->SetText(enabled ? "yes" : "no");
}

bool CFilterRule::HasConditions(ConditionKind kind) const {
  return GetCondition(kind, 0) != nullptr;
}

int CFilterRule::CountConditions(ConditionKind kind) const {
  if (m_node == nullptr) return 0;
  int count = 0;
  for (int c = 0; c < m_node->GetChildCount(); ++c)
    if (IsConditionOf(*m_node->GetChild(c), kind)) ++count;
  return count;
}

CXmlNode* CFilterRule::GetCondition(ConditionKind kind, int index) const {
  if (m_node == nullptr || index < 0) return nullptr;
  for (int c = 0; c < m_node->GetChildCount(); ++c) {
    CXmlNode* child = m_node->GetChild(c);
    if (!IsConditionOf(*child, kind)) continue;
    if (index == 0) return child;
    --index;
  }
  return nullptr;
}

bool CFilterRule::HasNestedRule(ConditionKind kind, int index) const {
  const CXmlNode* condition = GetCondition(kind, index);
  return condition != nullptr && condition->GetChildCount() > 0;
}

CFilterRule CFilterRule::GetNestedRule(ConditionKind kind, int index) const {
  return CFilterRule(GetCondition(kind, index));
}

ConditionRecord CFilterRule::ReadCondition(ConditionKind kind, int index) const {
  if (kind == ConditionKind::kContent) return {};
  return ReadConditionNode(GetCondition(kind, index), kind);
}

ContentRecord CFilterRule::ReadContent(int index) const {
  return ReadContentNode(GetCondition(ConditionKind::kContent, index));
}

std::int32_t CFilterRule::GetOpenDepth(int index) const {
  const CXmlNode* content = GetCondition(ConditionKind::kContent, index);
  return content == nullptr ? 0 : content->GetUserValue();
}

void CFilterRule::SetOpenDepth(int index, std::int32_t depth) {
  CXmlNode* content = GetCondition(ConditionKind::kContent, index);
  if (content != nullptr) content->SetUserValue(depth);
}

}  // namespace legacy
