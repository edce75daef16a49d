// CFilterRule: reading and switching a rule element of the document.
#include "rules/filter_rule.h"

#include "core/ascii.h"
#include "xml/xml_node.h"

bool CFilterRule::IsEnabled() const {
  if (m_node == nullptr) return false;
  const CXmlNode* enabled = m_node->FindChild("enabled");
  return enabled != nullptr && EqualsNoCase(enabled->GetText().View(), "yes");
}

CPooledString CFilterRule::GetName() const {
  if (m_node == nullptr) return {};
  return m_node->GetAttribute("name");
}

void CFilterRule::SetEnabled(bool enabled) {
  if (m_node == nullptr) return;
  CXmlNode* child = m_node->FindChild("enabled");
  if (child == nullptr) child = m_node->AddChild(CPooledString("enabled"));
  if (child == nullptr) return;
  child->SetText(CPooledString(enabled ? "yes" : "no"));
}
