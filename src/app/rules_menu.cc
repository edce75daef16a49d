// The "Advanced filters" drop-down: one checkable item per named filter rule.
#include "app/rules_menu.h"

#include <utility>

#include "config/config_store.h"
#include "rules/filter_rule.h"

void CMenuButton::AppendItem(int id, std::string text, bool checked) {
  m_items.push_back({id, std::move(text), checked});
}

bool CMenuButton::SetCheck(int id, bool checked) {
  for (CItem& item : m_items) {
    if (item.id != id) continue;
    item.checked = checked;
    return true;
  }
  return false;
}

bool CMenuButton::IsChecked(int id) const {
  const CItem* item = FindItem(id);
  return item != nullptr && item->checked;
}

const CMenuButton::CItem* CMenuButton::FindItem(int id) const {
  for (const CItem& item : m_items)
    if (item.id == id) return &item;
  return nullptr;
}

void FillRulesMenu(CMenuButton& menu, const CXmlNode& document) {
  menu.RemoveAllItems();
  const int count = GetRuleCount(document);
  for (int index = 0; index < count; ++index) {
    CXmlNode* node = nullptr;
    GetRule(document, index, node);
    const CFilterRule rule(node);
    const CPooledString name = rule.GetName();
    if (name.IsEmpty()) continue;
    menu.AppendItem(index, name.ToString(), rule.IsEnabled());
  }
}
