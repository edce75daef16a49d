// The application object: single-instance lock, configuration load, the run.
#pragma once

#include <memory>

#include "platform/instance_lock.h"

class CXmlNode;
class COptionsController;
class CDialogQueue;
class CPanelServer;

class CLumbraApp {
 public:
  CLumbraApp();
  ~CLumbraApp();
  CLumbraApp(const CLumbraApp&) = delete;
  CLumbraApp& operator=(const CLumbraApp&) = delete;

  // The whole program for these arguments; returns the process exit status.
  int Run(int argc, const char* const* argv);

 private:
  // Start-up proper: descriptors, character set, instance lock, configuration.
  int Start();
  bool TakeInstanceLock();
  // Runs the options controller and the control panel until Exit (the panel's
  // Exit, SIGTERM or SIGINT), then ends the process; returns only when the port
  // cannot be bound.
  int Serve(const CXmlNode& document);
  // Opens the control panel on the proxy's own port.
  void OpenPanel();

  // Held for the life of the process.
  CInstanceLock m_instanceLock;
  std::unique_ptr<COptionsController> m_controller;
  std::unique_ptr<CDialogQueue> m_dialogs;
  std::unique_ptr<CPanelServer> m_panel;
};
