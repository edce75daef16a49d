// CConfigSnapshot: one configuration as the proxy workers use it, shared by every
// connection accepted while it was the listener's.
#include "proxy/config_snapshot.h"

#include <algorithm>
#include <utility>

#include "rules/filter_rule.h"

namespace {

// Every content element of the document in document order; the walk keeps its
// own stack, so any nesting depth is safe.
std::vector<CXmlNode*> CollectContentNodes(CXmlNode& document) {
  std::vector<CXmlNode*> found;
  std::vector<CXmlNode*> pending{&document};
  while (!pending.empty()) {
    CXmlNode* node = pending.back();
    pending.pop_back();
    if (node != &document && IsConditionOf(*node, ConditionKind::kContent)) found.push_back(node);
    for (int i = node->GetChildCount() - 1; i >= 0; --i) pending.push_back(node->GetChild(i));
  }
  return found;
}

}  // namespace

CConfigSnapshot::CConfigSnapshot(const CXmlNode& document) {
  m_master.CopyFrom(&document);
  m_settings = ReadProxySettings(m_master);
}

std::unique_ptr<CConfigSnapshot::CWorkingCopy> CConfigSnapshot::MakeCopy() const {
  auto copy = std::make_unique<CWorkingCopy>();
  copy->document.CopyFrom(&m_master);
  copy->contentNodes = CollectContentNodes(copy->document);
  return copy;
}

CConfigSnapshot::CLease CConfigSnapshot::Borrow(COpenDepths& depths) {
  std::unique_ptr<CWorkingCopy> copy;
  {
    std::lock_guard lock(m_lock);
    if (!m_idle.empty()) {
      copy = std::move(m_idle.back());
      m_idle.pop_back();
    }
  }
  if (!copy) copy = MakeCopy();
  return CLease(*this, std::move(copy), depths);
}

void CConfigSnapshot::Return(std::unique_ptr<CWorkingCopy> copy) {
  std::lock_guard lock(m_lock);
  if (m_idle.size() < kMaxIdleCopies) m_idle.push_back(std::move(copy));
}

CConfigSnapshot::CLease::CLease(CConfigSnapshot& owner, std::unique_ptr<CWorkingCopy> copy,
                                COpenDepths& depths)
    : m_owner(owner), m_copy(std::move(copy)), m_depths(depths) {
  const std::vector<CXmlNode*>& nodes = m_copy->contentNodes;
  if (m_depths.size() != nodes.size()) m_depths.assign(nodes.size(), 0);
  for (std::size_t i = 0; i < nodes.size(); ++i) nodes[i]->SetUserValue(m_depths[i]);
}

CConfigSnapshot::CLease::~CLease() {
  const std::vector<CXmlNode*>& nodes = m_copy->contentNodes;
  for (std::size_t i = 0; i < nodes.size(); ++i) m_depths[i] = nodes[i]->GetUserValue();
  m_owner.Return(std::move(m_copy));
}
