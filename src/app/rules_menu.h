// The "Advanced filters" drop-down: one checkable item per named filter rule.
#pragma once

#include <string>
#include <vector>

class CXmlNode;

// Item ids of the rules menu: 1500 + the rule's index; only the first 101 rules
// can be switched.
inline constexpr int kFirstRuleCommand = 1500;
inline constexpr int kLastRuleCommand = 1600;

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

// Empties the menu and appends an item for every rule that has a name, checked
// when the rule is enabled; rules without a name leave a gap in the ids.
void FillRulesMenu(CMenuButton& menu, const CXmlNode& document);
