// Which panel requests are answered: the route table's rules applied to a request.
#pragma once

#include <string_view>

#include "app/panel/http_request.h"
#include "app/panel/panel_routes.h"

// The route that answers `request`, which reached the panel at `localPort`, in
// `route`; returns 0 when it may run, else the HTTP status that refuses it:
// 403 for a foreign Host or target, a cross-site fetch of the API, a foreign
// Origin or a missing or wrong token on a state change; 404 for an unknown path;
// 405 for a method the route does not take.
int CheckPanelAccess(const CHttpRequest& request, int localPort, std::string_view token,
                     const CPanelRoute*& route);
