// The settings a proxy worker reads once from its configuration copy.
#pragma once

#include <string>

class CXmlNode;

struct CProxySettings {
  // The port the listener asks for (0: any the system picks).
  int listenPort = 0;
  // Filtering is switched on: the block lists apply.
  bool filterEnabled = false;
  // Filtering is on and at least one rule is enabled: only then are the rules run.
  bool filterActive = false;
  // Every request goes to the corporate proxy at this host and port.
  bool corporate = false;
  std::string corporateHost;
  int corporatePort = 0;
  // Computers on a local network may use the proxy, not only this machine.
  bool allowLocalNetwork = false;
};

// Reads the settings; the corporate proxy counts only when it is enabled and both
// its url and port texts are non-empty.
CProxySettings ReadProxySettings(const CXmlNode& document);
