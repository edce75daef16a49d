// CFilterState: what the filtering of one connection carries from piece to piece.
#include "rules/filter_state.h"

#include <algorithm>

void CFilterState::StartMessage() { std::fill(m_openDepths.begin(), m_openDepths.end(), 0); }

void CFilterState::Fit(std::size_t count) {
  if (m_openDepths.size() != count) m_openDepths.assign(count, 0);
}

std::string_view CFilterState::KeepValue(int level, std::string_view value) {
  const auto index = static_cast<std::size_t>(level);
  while (m_keptValues.size() <= index) m_keptValues.push_back(std::make_unique<std::string>());
  return m_keptValues[index]->assign(value);
}
