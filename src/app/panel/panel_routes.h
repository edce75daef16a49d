// The control panel's routes: one table that says, for every path, which method
// it answers and whether it changes state (and so needs the page's token).
#pragma once

#include <string>
#include <string_view>

#include "app/panel/http_request.h"
#include "app/panel/http_response.h"

class COptionsController;
class CDialogQueue;

// What a route may do. Every route needs a loopback peer and a loopback Host;
// kChange also needs POST, the token and (when sent) the page's own Origin.
enum class RouteAccess { kRead, kChange };

// What a handler works with.
struct CPanelExchange {
  COptionsController& controller;
  CDialogQueue& dialogs;
  const std::string& token;
  int socket;
  const CHttpRequest& request;
};

using PanelHandler = CHttpResponse (*)(CPanelExchange& exchange);

struct CPanelRoute {
  std::string_view method;
  // The exact path, or a prefix when `isPrefix`.
  std::string_view path;
  bool isPrefix;
  RouteAccess access;
  PanelHandler handler;
};

// The route for a path (an exact path first, then the longest prefix), or nullptr.
const CPanelRoute* FindPanelRoute(std::string_view path);
