// Forgetting the elements that content rules left open in earlier traffic.
#include "rules/open_elements.h"

#include <vector>

#include "rules/filter_rule.h"
#include "xml/xml_node.h"

void ResetOpenElements(CXmlNode& document) {
  std::vector<CXmlNode*> pending{&document};
  while (!pending.empty()) {
    CXmlNode* node = pending.back();
    pending.pop_back();
    if (node->GetUserValue() != 0 && IsConditionOf(*node, ConditionKind::kContent))
      node->SetUserValue(0);
    for (int i = 0; i < node->GetChildCount(); ++i) pending.push_back(node->GetChild(i));
  }
}
