// CXmlNode: one element of an in-memory XML tree.
#pragma once

#include <memory>
#include <utility>
#include <vector>

#include "core/pooled_string.h"

// A node owns its attributes and its children. A document is simply a node
// (without parent) whose children are a file's top-level elements. Every name
// lookup ignores the case of the ASCII letters.
//
// Destruction and copying walk the tree without recursion, so a file nested
// arbitrarily deep cannot exhaust a thread's stack.
class CXmlNode {
 public:
  CXmlNode() = default;
  explicit CXmlNode(const CPooledString& name) : m_name(name) {}
  ~CXmlNode();
  CXmlNode(const CXmlNode&) = delete;
  CXmlNode& operator=(const CXmlNode&) = delete;

  CXmlNode* GetParent() const { return m_parent; }

  const CPooledString& GetName() const { return m_name; }
  void SetName(const CPooledString& name) { m_name = name; }
  const CPooledString& GetText() const { return m_text; }
  void SetText(const CPooledString& text) { m_text = text; }

  int GetAttributeCount() const { return static_cast<int>(m_attributes.size()); }
  CPooledString GetAttributeName(int index) const;
  CPooledString GetAttributeValue(int index) const;
  // Value of the first attribute of that name; empty when there is none.
  CPooledString GetAttribute(const char* name) const;
  // Changes the first attribute of that name, or appends one.
  void SetAttribute(const CPooledString& name, const CPooledString& value);
  // Always appends, even when the name is present already.
  void AddAttribute(const CPooledString& name, const CPooledString& value);

  int GetChildCount() const { return static_cast<int>(m_children.size()); }
  CXmlNode* GetChild(int index) const;
  CXmlNode* FindChild(const char* name) const;
  CXmlNode* FindChild(const char* name, int index) const;
  int CountChildren(const char* name) const;
  // Appends a new child; nullptr when memory is exhausted.
  CXmlNode* AddChild(const CPooledString& name);

  // Drops child `index` with its subtree; nothing when there is no such child.
  void RemoveChild(int index);
  // Drops every attribute and child; name and text stay.
  void RemoveAll();
  // Takes the other node's name and text and appends copies of its attributes and
  // (deep) children. Does not clear this node first.
  void CopyFrom(const CXmlNode* other);

 private:
  using Attribute = std::pair<CPooledString, CPooledString>;

  bool IsInSubtreeOf(const CXmlNode* node) const;
  // CopyFrom for a source outside this node's ancestry.
  void CopyTree(const CXmlNode* other);

  CXmlNode* m_parent = nullptr;
  CPooledString m_name;
  CPooledString m_text;
  std::vector<Attribute> m_attributes;
  std::vector<std::unique_ptr<CXmlNode>> m_children;
};
