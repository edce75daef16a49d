// CFilterRule: a handle on a rule element of the configuration document, for the
// options that list rules by name and switch them on and off.
#pragma once

#include "core/pooled_string.h"

class CXmlNode;

// Refers to a "filterrule" element (or to none) and owns nothing: it must not
// outlive the document. The filter itself runs on the rules compiled from the
// document (CRuleSet), so an edit reaches it when the document is applied.
class CFilterRule {
 public:
  explicit CFilterRule(CXmlNode* node) : m_node(node) {}

  // True when the first "enabled" child says "yes" (letters in any case).
  bool IsEnabled() const;
  CPooledString GetName() const;
  // Sets the first "enabled" child to "yes" or "no", appending one when missing.
  void SetEnabled(bool enabled);

 private:
  CXmlNode* m_node;
};
