// Which panel requests are answered: the route table's rules applied to a request.
#include "app/panel/panel_access.h"

#include "app/panel/panel_security.h"

namespace {

constexpr int kAllowed = 0;
constexpr int kForbidden = 403;
constexpr int kNotFound = 404;
constexpr int kWrongMethod = 405;

// One Host naming this machine's loopback at the panel's port, and an
// absolute-form target (a request sent through the proxy) naming the same.
bool IsAddressedToLoopback(const CHttpRequest& request, int localPort) {
  const std::string* host = request.FindHeader("Host");
  if (host == nullptr || request.CountHeaders("Host") != 1) return false;
  if (!IsLoopbackHost(*host, localPort)) return false;
  return request.targetAuthority.empty() || IsLoopbackHost(request.targetAuthority, localPort);
}

bool TakesMethod(const CPanelRoute& route, std::string_view method) {
  return method == route.method || (route.access == RouteAccess::kRead && method == "HEAD");
}

// Browsers name the site that made a request; the API answers only the page itself
// (or an address typed by the user).
bool IsFromOwnPage(const CHttpRequest& request) {
  const std::string* site = request.FindHeader("Sec-Fetch-Site");
  return site == nullptr || IsOwnFetchSite(*site);
}

bool MayChangeState(const CHttpRequest& request, int localPort, std::string_view token) {
  const std::string* origin = request.FindHeader("Origin");
  if (origin != nullptr && !IsPanelOrigin(*origin, localPort)) return false;
  const std::string* given = request.FindHeader("X-Lumbra-Token");
  return given != nullptr && request.CountHeaders("X-Lumbra-Token") == 1 &&
         TokensMatch(*given, token);
}

}  // namespace

int CheckPanelAccess(const CHttpRequest& request, int localPort, std::string_view token,
                     const CPanelRoute*& route) {
  route = nullptr;
  if (!IsAddressedToLoopback(request, localPort)) return kForbidden;
  const CPanelRoute* found = FindPanelRoute(request.path);
  if (found == nullptr) return kNotFound;
  if (!TakesMethod(*found, request.method)) return kWrongMethod;
  if (request.path.starts_with("/api/") && !IsFromOwnPage(request)) return kForbidden;
  if (found->access == RouteAccess::kChange && !MayChangeState(request, localPort, token))
    return kForbidden;
  route = found;
  return kAllowed;
}
