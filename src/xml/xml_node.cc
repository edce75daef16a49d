// CXmlNode operations.
#include "xml/xml_node.h"

#include <new>

#include "core/ascii.h"

namespace {

bool NameMatches(const CPooledString& candidate, const char* name) {
  if (name == nullptr) return candidate.IsEmpty();
  // Pooled texts end at their first 0 byte, like `name`.
  return CTextEqualsNoCase(candidate.IsEmpty() ? "" : candidate.GetText(), name);
}

}  // namespace

CXmlNode::~CXmlNode() { RemoveAll(); }

CPooledString CXmlNode::GetAttributeName(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return {};
  return m_attributes[index].first;
}

CPooledString CXmlNode::GetAttributeValue(int index) const {
  if (index < 0 || index >= GetAttributeCount()) return {};
  return m_attributes[index].second;
}

CPooledString CXmlNode::GetAttribute(const char* name) const {
  for (const Attribute& attribute : m_attributes)
    if (NameMatches(attribute.first, name)) return attribute.second;
  return {};
}

void CXmlNode::SetAttribute(const CPooledString& name, const CPooledString& value) {
  for (Attribute& attribute : m_attributes) {
    if (NameMatches(attribute.first, name.GetText())) {
      attribute.second = value;
      return;
    }
  }
  AddAttribute(name, value);
}

void CXmlNode::AddAttribute(const CPooledString& name, const CPooledString& value) {
  m_attributes.emplace_back(name, value);
}

CXmlNode* CXmlNode::GetChild(int index) const {
  if (index < 0 || index >= GetChildCount()) return nullptr;
  return m_children[index].get();
}

CXmlNode* CXmlNode::FindChild(const char* name) const { return FindChild(name, 0); }

CXmlNode* CXmlNode::FindChild(const char* name, int index) const {
  if (index < 0) return nullptr;
  for (const auto& child : m_children) {
    if (!NameMatches(child->m_name, name)) continue;
    if (index == 0) return child.get();
    --index;
  }
  return nullptr;
}

int CXmlNode::CountChildren(const char* name) const {
  int count = 0;
  for (const auto& child : m_children)
    if (NameMatches(child->m_name, name)) ++count;
  return count;
}

CXmlNode* CXmlNode::AddChild(const CPooledString& name) {
  std::unique_ptr<CXmlNode> child(new (std::nothrow) CXmlNode(name));
  if (!child) return nullptr;
  child->m_parent = this;
  try {
    m_children.push_back(std::move(child));
  } catch (const std::bad_alloc&) {
    return nullptr;  // the list could not grow
  }
  return m_children.back().get();
}

void CXmlNode::RemoveChild(int index) {
  if (index < 0 || index >= GetChildCount()) return;
  std::unique_ptr<CXmlNode> child = std::move(m_children[index]);
  m_children.erase(m_children.begin() + index);
  // A deep subtree goes the same flat way as RemoveAll's.
  child->RemoveAll();
}

void CXmlNode::RemoveAll() {
  m_attributes.clear();
  // Detach the subtree into a flat work list so that no destructor recurses.
  std::vector<std::unique_ptr<CXmlNode>> pending = std::move(m_children);
  m_children.clear();
  while (!pending.empty()) {
    std::unique_ptr<CXmlNode> node = std::move(pending.back());
    pending.pop_back();
    for (auto& grandchild : node->m_children) pending.push_back(std::move(grandchild));
    node->m_children.clear();
  }
}

bool CXmlNode::IsInSubtreeOf(const CXmlNode* node) const {
  for (const CXmlNode* walk = this; walk != nullptr; walk = walk->m_parent)
    if (walk == node) return true;
  return false;
}

void CXmlNode::CopyFrom(const CXmlNode* other) {
  if (other == nullptr) return;
  // Copying a node into itself or into one of its descendants would chase the
  // copies being made; copy from a snapshot taken first instead.
  if (IsInSubtreeOf(other)) {
    CXmlNode snapshot;
    snapshot.CopyTree(other);
    CopyTree(&snapshot);
    return;
  }
  CopyTree(other);
}

void CXmlNode::CopyTree(const CXmlNode* other) {
  // Each step copies one source node's name, text and attributes into its target
  // and queues its children, so arbitrarily deep trees use no stack.
  std::vector<std::pair<const CXmlNode*, CXmlNode*>> work{{other, this}};
  while (!work.empty()) {
    auto [source, target] = work.back();
    work.pop_back();
    target->m_name = source->m_name;
    target->m_text = source->m_text;
    for (const Attribute& attribute : source->m_attributes)
      target->AddAttribute(attribute.first, attribute.second);
    const std::size_t count = source->m_children.size();
    const std::size_t firstNew = target->m_children.size();
    for (std::size_t i = 0; i < count; ++i)
      if (target->AddChild(source->m_children[i]->m_name) == nullptr) return;
    for (std::size_t i = count; i > 0; --i)
      work.emplace_back(source->m_children[i - 1].get(),
                        target->m_children[firstNew + i - 1].get());
  }
}
