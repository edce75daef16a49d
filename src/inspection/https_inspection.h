// What HTTPS filtering needs while the proxy runs: the sites chosen, the
// certificates made for them, and the hosts found unable to be inspected.
#pragma once

#include <memory>
#include <mutex>
#include <string>
#include <string_view>

#include "inspection/inspected_sites.h"

class CLeafCertificates;

// One whole setup, replaced at once when the settings or the authority change; a
// connection keeps the one it started with.
struct CInspectionSetup {
  CChosenSites sites;
  std::shared_ptr<CLeafCertificates> leaves;  // signs with the loaded authority
  std::string authorityDer;                   // never trusted for a server's chain
};

class CHttpsInspection {
 public:
  // Null switches inspection off.
  void Replace(std::shared_ptr<const CInspectionSetup> setup);
  // The setup when `host` (as a CONNECT names it) is to be inspected: filtering is
  // on for a chosen site and the host has not been passed through this run.
  std::shared_ptr<const CInspectionSetup> SetupFor(std::string_view host) const;

  CPassThroughHosts& GetPassThroughHosts() { return m_passThrough; }

 private:
  mutable std::mutex m_lock;
  std::shared_ptr<const CInspectionSetup> m_setup;
  CPassThroughHosts m_passThrough;
};

// The program's one inspection state.
CHttpsInspection& GetHttpsInspection();
