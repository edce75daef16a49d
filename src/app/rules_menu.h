// The "Advanced filters" drop-down: one checkable item per named filter rule.
#pragma once

#include <string>
#include <vector>

class CXmlNode;

// The rules menu switches only the first 101 rules; later ones are listed but
// stay as they are.
inline constexpr int kSwitchableRuleCount = 101;

// The drop-down button's menu: items in the order appended, each with a check.
class CMenuButton {
 public:
  struct CItem {
    int id = 0;
    std::string text;
    bool checked = false;
  };

  void AppendItem(int id, std::string text, bool checked);
  void RemoveAllItems() { m_items.clear(); }
  bool HasItem(int id) const { return FindItem(id) != nullptr; }
  // False when there is no such item.
  bool SetCheck(int id, bool checked);
  bool IsChecked(int id) const;
  const std::vector<CItem>& GetItems() const { return m_items; }

 private:
  const CItem* FindItem(int id) const;

  std::vector<CItem> m_items;
};

// Empties the menu and appends an item for every rule that has a name, with the
// rule's index as its id, checked when the rule is enabled.
void FillRulesMenu(CMenuButton& menu, const CXmlNode& document);
