// CPanelServer: the control panel, answering requests addressed to the proxy itself.
#include "app/panel/panel_server.h"

#include <sys/socket.h>
#include <sys/time.h>

#include <atomic>
#include <utility>

#include "app/panel/dialog_queue.h"
#include "app/panel/http_request.h"
#include "app/panel/http_response.h"
#include "app/panel/panel_access.h"
#include "app/panel/panel_routes.h"
#include "app/panel/panel_security.h"
#include "core/user_messages.h"
#include "proxy/own_request.h"

namespace {

std::atomic<CPanelServer*> g_panelServer{nullptr};

// A browser that stops sending or reading in the middle never holds the
// connection's thread for long.
constexpr timeval kReceiveTimeout{5, 0};
constexpr timeval kSendTimeout{10, 0};

void SetTimeouts(int socket) {
  ::setsockopt(socket, SOL_SOCKET, SO_RCVTIMEO, &kReceiveTimeout, sizeof kReceiveTimeout);
  ::setsockopt(socket, SOL_SOCKET, SO_SNDTIMEO, &kSendTimeout, sizeof kSendTimeout);
}

CHttpResponse Refusal(int status) {
  switch (status) {
    case 403:
      return MakeTextResponse(403, "Forbidden.");
    case 404:
      return MakeTextResponse(404, "Not found.");
    case 405:
      return MakeTextResponse(405, "Method not allowed.");
    case 413:
      return MakeTextResponse(413, "Request body too large.");
    default:
      return MakeTextResponse(400, "Bad request.");
  }
}

void Send(int socket, const CHttpResponse& response, bool headOnly) {
  const std::string answer = FormatResponse(response, headOnly);
  SendAll(socket, answer.data(), answer.size());
}

void HandleOwnRequestWithPanel(CSocket browser, std::string_view received) {
  CPanelServer* server = g_panelServer.load();
  if (server == nullptr) return AnswerWithProgramPage(std::move(browser), received);
  server->Handle(std::move(browser), received);
}

}  // namespace

CPanelServer::CPanelServer(COptionsController& controller, CDialogQueue& dialogs, std::string token)
    : m_controller(controller), m_dialogs(dialogs), m_token(std::move(token)) {}

void CPanelServer::Handle(CSocket browser, std::string_view received) {
  const int socket = browser.Get();
  // The proxy hands over loopback peers only; the panel checks again for itself.
  if (!IsLoopbackPeer(socket)) return;
  SetTimeouts(socket);
  CHttpRequest request;
  const RequestReadResult read = ReadHttpRequest(socket, received, request);
  const CPanelRoute* route = nullptr;
  int refusal = read == RequestReadResult::kBodyTooLarge ? 413
                : read == RequestReadResult::kMalformed  ? 400
                                                         : 0;
  if (refusal == 0) refusal = CheckPanelAccess(request, GetLocalPort(socket), m_token, route);
  if (refusal != 0) {
    Send(socket, Refusal(refusal), false);
    return CloseAfterAnswer(browser);
  }
  CPanelExchange exchange{m_controller, m_dialogs, m_token, socket, request};
  const CHttpResponse response = route->handler(exchange);
  if (!response.sent) Send(socket, response, request.method == "HEAD");
  CloseAfterAnswer(browser);
  if (response.afterSend) response.afterSend();
}

void InstallPanelServer(CPanelServer* server) {
  g_panelServer.store(server);
  SetOwnRequestHandler(server != nullptr ? HandleOwnRequestWithPanel : nullptr);
}

void ConnectDialogsToPanel(CDialogQueue& dialogs) {
  SetMessageListener([&dialogs](std::string_view caption, std::string_view text) {
    dialogs.AddMessage(caption, text);
  });
  SetQuestionListener([&dialogs](std::string_view caption, std::string_view text) {
    return dialogs.AskYesNo(caption, text);
  });
}
