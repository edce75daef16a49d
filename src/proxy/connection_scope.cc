// Which servers a browser connection may reach.
#include "proxy/connection_scope.h"

#include "proxy/local_address.h"

bool IsProxyItself(in_addr address, int port, const CConnectionScope& scope) {
  return port == scope.proxyPort && IsOwnAddress(address);
}

bool MayConnectTo(in_addr address, int port, const CConnectionScope& scope) {
  if (IsProxyItself(address, port, scope)) return false;
  return scope.peerIsLocal || !IsLoopbackAddress(address);
}
