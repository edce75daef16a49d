// CProxyListener: the proxy port and its accept loop.
#pragma once

#include <chrono>
#include <memory>
#include <mutex>

#include "xml/xml_node.h"

// Binds the configured port on every IPv4 interface and starts a browser
// connection for each accepted connection from a peer that the configuration lets
// use the proxy (see IsPeerServed), on the thread that accepted it.
// Used from one controlling thread; SetConfig may be called while it runs.
class CProxyListener {
 public:
  CProxyListener();
  virtual ~CProxyListener();
  CProxyListener(const CProxyListener&) = delete;
  CProxyListener& operator=(const CProxyListener&) = delete;

  // Replaces the configuration handed to connections accepted from now on (a
  // deep copy; connections already open keep the one they were given).
  void SetConfig(const CXmlNode& document);

  // Starts the first accepting thread for the configured port (a text that is no number
  // binds a port the system picks). True when the thread was created; binding
  // happens on that thread, see WaitUntilListening. A listener still running is
  // stopped first.
  bool Start();
  // Waits (at most `timeout`) until the thread of the last Start has bound the
  // port or failed; returns IsRunning.
  bool WaitUntilListening(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // Ends the accept loop and closes the listening socket before it returns, so
  // that the port is free again. Open connections go on until they end.
  void Stop();
  // Starts listening on the configured port while the current accept loop goes
  // on; once the new port is bound the old loop is stopped. When the new port
  // cannot be bound (also when it is the port already in use) the old loop keeps
  // running and false is returned.
  bool MoveToConfiguredPort(std::chrono::milliseconds timeout = std::chrono::seconds(5));
  // True while the accept loop runs.
  bool IsRunning() const;
  // The port actually bound (0 when not listening).
  int GetPort() const;

  // Pending connections the system queues while every accepting thread is busy.
  // A browser opening many connections at once (or a burst of clients) must not
  // overflow it: a dropped handshake is retried only after a second or more. The
  // system caps it at net.core.somaxconn.
  static constexpr int kBacklog = 4096;

 private:
  struct CSharedConfig;
  struct CRun;
  static void* ThreadMain(void* run);
  // A new run, its first thread started, for the configured port; none when it
  // cannot start.
  std::shared_ptr<CRun> LaunchRun();
  static bool WaitListening(CRun& run, std::chrono::milliseconds timeout);
  // Ends the run's accept loop and waits (bounded) until its socket is closed.
  static void EndRun(std::shared_ptr<CRun> run);

  std::shared_ptr<CSharedConfig> m_config;
  std::shared_ptr<CRun> m_run;
};
