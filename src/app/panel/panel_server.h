// CPanelServer: the control panel, answering requests addressed to the proxy itself.
#pragma once

#include <string>
#include <string_view>

#include "proxy/socket.h"

class COptionsController;
class CDialogQueue;

// Checks every request against the route table and the panel's security rules,
// then runs its handler. One request per connection.
class CPanelServer {
 public:
  // `token` is the per-process secret the page carries in its state changes.
  CPanelServer(COptionsController& controller, CDialogQueue& dialogs, std::string token);
  CPanelServer(const CPanelServer&) = delete;
  CPanelServer& operator=(const CPanelServer&) = delete;

  // Answers the request whose first bytes are `received`, then closes. A peer
  // that is not on this machine's loopback is closed without an answer.
  void Handle(CSocket browser, std::string_view received);

 private:
  COptionsController& m_controller;
  CDialogQueue& m_dialogs;
  const std::string m_token;
};

// Makes `server` the handler of requests to the proxy itself (nullptr: the
// built-in program page again). The server must outlive every connection.
void InstallPanelServer(CPanelServer* server);

// Shows message boxes in the page while one is open, and asks Yes/No questions there.
void ConnectDialogsToPanel(CDialogQueue& dialogs);
