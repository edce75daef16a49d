// The filter as it was before the rules were compiled, kept while the two are compared.
// CFilterRule: a handle on a rule element of the configuration document, and the
// records of its condition and rewriting elements.
#pragma once

#include <cstdint>
#include <string_view>

#include "core/pooled_string.h"
#include "rules/legacy/lower_text.h"
#include "xml/xml_node.h"
namespace legacy {

// The four kinds of children a rule evaluates, named by their element names.
enum class ConditionKind { kAllow, kRequest, kResponse, kContent };

// True when `node` is an element of that kind (name compared ignoring case).
bool IsConditionOf(const CXmlNode& node, ConditionKind kind);

// Attributes of an allow, request or response element, lower-cased; an absent
// attribute reads as empty. `fromrequest` is read for response elements only.
struct ConditionRecord {
  CLowerText header;
  CLowerText prefix;
  CLowerText suffix;
  CLowerText contains;
  CLowerText fromRequest;
};

// Attributes of a content element, lower-cased except `rawAction`.
struct ContentRecord {
  CLowerText action;
  std::string_view rawAction;
  CLowerText contains;
  CLowerText tag;
  CLowerText attribName;
  CLowerText attribValue;
  CLowerText alternateTag;
  bool reportsMatch = true;  // false only when `return` is exactly "0"
};

// Reads the attributes of one condition or content element (null: all empty).
ConditionRecord ReadConditionNode(const CXmlNode* node, ConditionKind kind);
ContentRecord ReadContentNode(const CXmlNode* node);

// A non-owning handle on a "filterrule" element, or on a condition element that
// carries a nested rule (one with child elements). Rules are read from the
// document at every use, so an edit of the document takes effect at once. The
// handle must not outlive the document; an empty handle reads as a rule without
// anything in it.
class CFilterRule {
 public:
  CFilterRule() = default;
  explicit CFilterRule(CXmlNode* node) : m_node(node) {}

  CXmlNode* GetNode() const { return m_node; }
  bool IsEmpty() const { return m_node == nullptr; }

  // True when the "enabled" child says "yes" (letters in any case).
  bool IsEnabled() const;
  CPooledString GetName() const;
  // Sets the first "enabled" child to "yes" or "no", appending one when missing.
  void SetEnabled(bool enabled);

  bool HasConditions(ConditionKind kind) const;
  int CountConditions(ConditionKind kind) const;
  // The i-th (0-based) child of that kind, or null.
  CXmlNode* GetCondition(ConditionKind kind, int index) const;
  bool HasNestedRule(ConditionKind kind, int index) const;
  CFilterRule GetNestedRule(ConditionKind kind, int index) const;

  ConditionRecord ReadCondition(ConditionKind kind, int index) const;
  ContentRecord ReadContent(int index) const;

  // The open-element depth remembered on the i-th content child (0 when absent).
  std::int32_t GetOpenDepth(int index) const;
  void SetOpenDepth(int index, std::int32_t depth);

 private:
  CXmlNode* m_node = nullptr;
};

}  // namespace legacy
