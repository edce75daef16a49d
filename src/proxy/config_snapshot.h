// CConfigSnapshot: one configuration as the proxy workers use it, shared by every
// connection accepted while it was the listener's.
#pragma once

#include "proxy/proxy_settings.h"
#include "rules/rule_set.h"

class CXmlNode;

// A document's settings and its rules compiled, all read once and never
// changed afterwards, so any number of workers use them at once without a lock.
// What a worker's filtering carries from piece to piece is its own CFilterState.
class CConfigSnapshot {
 public:
  explicit CConfigSnapshot(const CXmlNode& document);
  CConfigSnapshot(const CConfigSnapshot&) = delete;
  CConfigSnapshot& operator=(const CConfigSnapshot&) = delete;

  const CProxySettings& GetSettings() const { return m_settings; }
  const CRuleSet& GetRules() const { return m_rules; }

 private:
  CProxySettings m_settings;
  CRuleSet m_rules;
};
