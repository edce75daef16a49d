// The control panel's routes: one table that says, for every path, which method
// it answers and whether it changes state (and so needs the page's token).
#include "app/panel/panel_routes.h"

#include <cstdio>

#include "app/options_controller.h"
#include "app/panel/dialog_queue.h"
#include "app/panel/panel_files.h"
#include "app/panel/panel_json.h"
#include "app/panel/panel_state.h"
#include "proxy/port_text.h"
#include "proxy/socket.h"

namespace {

using nlohmann::json;

constexpr std::string_view kFilePrefix = "/panel/";

CHttpResponse Ok(json answer = json::object()) {
  answer["ok"] = true;
  return MakeJsonResponse(200, DumpJson(answer));
}

CHttpResponse BadRequest() {
  return MakeJsonResponse(400, DumpJson({{"ok", false}, {"message", "Bad request."}}));
}

// An action's outcome; a message also goes to standard error, as every message does.
CHttpResponse Outcome(const CActionResult& result, int failureStatus = 200) {
  if (result.ok) return Ok();
  if (!result.message.empty()) std::fprintf(stderr, "Lumbra: %s\n", result.message.c_str());
  return MakeJsonResponse(failureStatus,
                          DumpJson({{"ok", false}, {"message", ToJsonText(result.message)}}));
}

CHttpResponse ServePage(CPanelExchange& exchange) {
  std::string page = RenderPanelIndex(exchange.token);
  if (page.empty()) return MakeTextResponse(404, "Not found.");
  CHttpResponse response;
  response.contentType = "text/html; charset=utf-8";
  response.body = std::move(page);
  return response;
}

CHttpResponse ServeFile(CPanelExchange& exchange) {
  const std::string_view name = std::string_view(exchange.request.path).substr(kFilePrefix.size());
  const CEmbeddedFile* file = FindPanelFile(name);
  const std::string_view type = GetPanelContentType(name);
  // index.html is only served with its token filled in, at "/".
  if (file == nullptr || type.empty() || name == "index.html")
    return MakeTextResponse(404, "Not found.");
  CHttpResponse response;
  response.contentType = std::string(type);
  response.body = std::string(file->bytes);
  return response;
}

CHttpResponse ServeState(CPanelExchange& exchange) {
  exchange.dialogs.MarkPolled();
  return MakeJsonResponse(
      200, BuildPanelStateJson(exchange.controller.GetView(), exchange.dialogs.GetPending()));
}

CHttpResponse RunCommand(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto name = body ? GetJsonText(*body, "command") : std::nullopt;
  const auto command = name ? FindTrayCommand(*name) : std::nullopt;
  if (!command) return BadRequest();
  if (*command == TrayCommand::kExit) {
    // The answer goes out first; then the program ends.
    CHttpResponse response = Ok();
    COptionsController& controller = exchange.controller;
    response.afterSend = [&controller] { controller.Exit(); };
    return response;
  }
  if (!exchange.controller.Command(*command)) return BadRequest();
  return Ok();
}

CHttpResponse ToggleRule(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto index = body ? GetJsonInteger(*body, "index") : std::nullopt;
  if (!index || *index < 0 || *index >= kSwitchableRuleCount) return BadRequest();
  if (!exchange.controller.ToggleRule(static_cast<int>(*index))) return BadRequest();
  return Ok();
}

CHttpResponse Hide(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  if (!body) return BadRequest();
  COptionsForm form;
  form.port = GetJsonText(*body, "port").value_or("");
  form.corporateEnabled = GetJsonBool(*body, "corporateEnabled").value_or(false);
  form.corporateUrl = GetJsonText(*body, "corporateUrl").value_or("");
  form.corporatePort = GetJsonText(*body, "corporatePort").value_or("");
  form.allowLocalNetwork = GetJsonBool(*body, "allowLocalNetwork").value_or(false);
  const CActionResult result = exchange.controller.Hide(form);
  if (!result.ok) return Outcome(result, ParsePort(form.port) != 0 ? 200 : 400);
  return Ok({{"port", exchange.controller.GetListeningPort()}});
}

// Sets one switch of the controller from the body's "enabled".
CHttpResponse SetSwitch(CPanelExchange& exchange, CActionResult (COptionsController::*set)(bool)) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto enabled = body ? GetJsonBool(*body, "enabled") : std::nullopt;
  if (!enabled) return BadRequest();
  return Outcome((exchange.controller.*set)(*enabled));
}

CHttpResponse SetAutorun(CPanelExchange& exchange) {
  return SetSwitch(exchange, &COptionsController::SetAutorun);
}

CHttpResponse SaveRecord(CPanelExchange& exchange) {
  bool attempted = false;
  const int socket = exchange.socket;
  const CActionResult result =
      exchange.controller.SaveRecord([&](const std::string& fileName, const std::string& text) {
        attempted = true;
        CHttpResponse download;
        download.contentType = "application/xml";
        download.headers.emplace_back("Content-Disposition",
                                      "attachment; filename=\"" + fileName + "\"");
        download.body = text;
        const std::string answer = FormatResponse(download, false);
        return SendAll(socket, answer.data(), answer.size()) == static_cast<ssize_t>(answer.size());
      });
  if (attempted) {
    CHttpResponse response;
    response.sent = true;
    return response;
  }
  return Outcome(result, 409);
}

CHttpResponse OpenInstantFiltering(CPanelExchange& exchange) {
  std::vector<std::string> urls;
  if (!exchange.controller.OpenInstantFiltering(urls))
    return MakeJsonResponse(200, DumpJson({{"ok", false}}));
  return Ok({{"urls", ToJsonTexts(urls)}});
}

CHttpResponse CloseInstantFiltering(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  if (!body) return BadRequest();
  const bool cancel = GetJsonBool(*body, "cancel").value_or(false);
  const std::string url = GetJsonText(*body, "url").value_or("");
  const bool allow = GetJsonBool(*body, "allow").value_or(true);
  if (!exchange.controller.CloseInstantFiltering(cancel, url, allow))
    return MakeJsonResponse(200, DumpJson({{"ok", false}}));
  return Ok();
}

CHttpResponse AnswerDialog(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto id = body ? GetJsonInteger(*body, "id") : std::nullopt;
  const auto answer = body ? GetJsonText(*body, "answer") : std::nullopt;
  if (!id || !answer || *id < 0 || *id > 0x7FFFFFFF) return BadRequest();
  if (!exchange.dialogs.Answer(static_cast<int>(*id), *answer))
    return MakeJsonResponse(200, DumpJson({{"ok", false}}));
  return Ok();
}

CHttpResponse AddBlockList(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  if (!body) return BadRequest();
  const CActionResult result = exchange.controller.AddBlockList(
      GetJsonText(*body, "name").value_or(""), GetJsonText(*body, "url").value_or(""));
  return Outcome(result, 400);
}

std::optional<int> ListIndexOf(const nlohmann::json& body) {
  const auto index = GetJsonInteger(body, "index");
  if (!index || *index < 0 || *index > 0xFFFF) return std::nullopt;
  return static_cast<int>(*index);
}

CHttpResponse RemoveBlockList(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto index = body ? ListIndexOf(*body) : std::nullopt;
  if (!index || !exchange.controller.RemoveBlockList(*index)) return BadRequest();
  return Ok();
}

CHttpResponse EnableBlockList(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto index = body ? ListIndexOf(*body) : std::nullopt;
  const auto enabled = body ? GetJsonBool(*body, "enabled") : std::nullopt;
  if (!index || !enabled || !exchange.controller.SetBlockListEnabled(*index, *enabled))
    return BadRequest();
  return Ok();
}

CHttpResponse UpdateBlockLists(CPanelExchange& exchange) {
  exchange.controller.UpdateBlockLists();
  return Ok();
}

CHttpResponse EnableHttpsFiltering(CPanelExchange& exchange) {
  return SetSwitch(exchange, &COptionsController::SetHttpsFilteringEnabled);
}

CHttpResponse SetHttpsSites(CPanelExchange& exchange) {
  const auto body = ParseJsonObject(exchange.request.body);
  const auto sites = body ? GetJsonTexts(*body, "sites") : std::nullopt;
  if (!sites) return BadRequest();
  return Outcome(exchange.controller.SetHttpsSites(*sites), 400);
}

CHttpResponse InstallHttpsCertificate(CPanelExchange& exchange) {
  return Outcome(exchange.controller.InstallHttpsCertificate());
}

CHttpResponse RemoveHttpsCertificate(CPanelExchange& exchange) {
  return Outcome(exchange.controller.RemoveHttpsCertificate());
}

CHttpResponse RemoveHttpsAuthority(CPanelExchange& exchange) {
  return Outcome(exchange.controller.RemoveHttpsAuthority());
}

// The authority's certificate for the user to install by hand; its key is never
// served.
CHttpResponse DownloadHttpsCertificate(CPanelExchange& exchange) {
  std::string pem = exchange.controller.GetHttpsCertificatePem();
  if (pem.empty()) return MakeTextResponse(404, "There is no certificate authority yet.");
  CHttpResponse response;
  response.contentType = "application/x-pem-file";
  response.headers.emplace_back("Content-Disposition", "attachment; filename=\"lumbra-ca.pem\"");
  response.body = std::move(pem);
  return response;
}

// Every route of the panel. Reading routes answer GET (and HEAD); every route
// that changes anything is a POST that needs the token.
constexpr CPanelRoute kRoutes[] = {
    {"GET", "/", false, RouteAccess::kRead, ServePage},
    {"GET", kFilePrefix, true, RouteAccess::kRead, ServeFile},
    {"GET", "/api/state", false, RouteAccess::kRead, ServeState},
    {"POST", "/api/command", false, RouteAccess::kChange, RunCommand},
    {"POST", "/api/rule/toggle", false, RouteAccess::kChange, ToggleRule},
    {"POST", "/api/hide", false, RouteAccess::kChange, Hide},
    {"POST", "/api/autorun", false, RouteAccess::kChange, SetAutorun},
    {"POST", "/api/record/save", false, RouteAccess::kChange, SaveRecord},
    {"POST", "/api/instant-filter/open", false, RouteAccess::kChange, OpenInstantFiltering},
    {"POST", "/api/instant-filter/close", false, RouteAccess::kChange, CloseInstantFiltering},
    {"POST", "/api/dialog", false, RouteAccess::kChange, AnswerDialog},
    {"POST", "/api/blocklists/add", false, RouteAccess::kChange, AddBlockList},
    {"POST", "/api/blocklists/remove", false, RouteAccess::kChange, RemoveBlockList},
    {"POST", "/api/blocklists/enable", false, RouteAccess::kChange, EnableBlockList},
    {"POST", "/api/blocklists/update", false, RouteAccess::kChange, UpdateBlockLists},
    {"POST", "/api/https/enable", false, RouteAccess::kChange, EnableHttpsFiltering},
    {"POST", "/api/https/sites", false, RouteAccess::kChange, SetHttpsSites},
    {"POST", "/api/https/install", false, RouteAccess::kChange, InstallHttpsCertificate},
    {"POST", "/api/https/uninstall", false, RouteAccess::kChange, RemoveHttpsCertificate},
    {"POST", "/api/https/remove-authority", false, RouteAccess::kChange, RemoveHttpsAuthority},
    {"GET", "/api/https/certificate", false, RouteAccess::kRead, DownloadHttpsCertificate},
};

}  // namespace

const CPanelRoute* FindPanelRoute(std::string_view path) {
  const CPanelRoute* best = nullptr;
  for (const CPanelRoute& route : kRoutes) {
    if (!route.isPrefix && route.path == path) return &route;
    if (route.isPrefix && path.starts_with(route.path) &&
        (best == nullptr || route.path.size() > best->path.size()))
      best = &route;
  }
  return best;
}
