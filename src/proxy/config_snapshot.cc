// CConfigSnapshot: one configuration as the proxy workers use it, shared by every
// connection accepted while it was the listener's.
#include "proxy/config_snapshot.h"

CConfigSnapshot::CConfigSnapshot(const CXmlNode& document)
    : m_settings(ReadProxySettings(document)), m_rules(document) {}
