// What HTTPS filtering needs while the proxy runs.
#include "inspection/https_inspection.h"

#include "tls/leaf_certificates.h"

void CHttpsInspection::Replace(std::shared_ptr<const CInspectionSetup> setup) {
  const std::lock_guard lock(m_lock);
  m_setup = std::move(setup);
}

std::shared_ptr<const CInspectionSetup> CHttpsInspection::SetupFor(std::string_view host) const {
  std::shared_ptr<const CInspectionSetup> setup;
  {
    const std::lock_guard lock(m_lock);
    setup = m_setup;
  }
  if (!setup || !setup->leaves || !setup->sites.Covers(host) || m_passThrough.Holds(host))
    return nullptr;
  return setup;
}

CHttpsInspection& GetHttpsInspection() {
  static CHttpsInspection inspection;
  return inspection;
}
