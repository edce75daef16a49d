// The application object: single-instance lock, configuration load, the run.
#pragma once

#include "platform/instance_lock.h"
#include "proxy/proxy_listener.h"

class CXmlNode;

class CLumbraApp {
 public:
  CLumbraApp() = default;
  CLumbraApp(const CLumbraApp&) = delete;
  CLumbraApp& operator=(const CLumbraApp&) = delete;

  // The whole program for these arguments; returns the process exit status.
  int Run(int argc, const char* const* argv);

 private:
  // Start-up proper: descriptors, character set, instance lock, configuration.
  int Start();
  bool TakeInstanceLock();
  // Runs the proxy until SIGTERM or SIGINT, then ends the process; returns only
  // when the port cannot be bound.
  int Serve(const CXmlNode& document);

  // Held for the life of the process.
  CInstanceLock m_instanceLock;
  CProxyListener m_listener;
};
