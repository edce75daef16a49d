// A tiny HTTP server on 127.0.0.1 for tests: canned answers by path.
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct StubAnswer {
  int status = 200;
  std::string body;
};

// Listens on a free loopback port from construction to destruction and answers
// one request per connection, one connection at a time. Paths without an
// answer get 404.
class CStubHttpServer {
 public:
  CStubHttpServer();
  ~CStubHttpServer();
  CStubHttpServer(const CStubHttpServer&) = delete;
  CStubHttpServer& operator=(const CStubHttpServer&) = delete;

  int GetPort() const { return m_port; }
  // "http://127.0.0.1:<port>" followed by `path`.
  std::string GetUrl(const std::string& path) const;
  // Answers requests for `path` (the target without its query) with `answer`.
  void SetAnswer(const std::string& path, StubAnswer answer);
  // The request targets received so far, query strings included.
  std::vector<std::string> GetTargets() const;

 private:
  void Serve();
  void AnswerOne(int connection);
  // Notes the target and returns its answer.
  StubAnswer RecordRequest(const std::string& target);

  int m_listening = -1;
  int m_port = 0;
  std::atomic<bool> m_stop{false};
  mutable std::mutex m_lock;
  std::map<std::string, StubAnswer> m_answers;
  std::vector<std::string> m_targets;
  std::thread m_thread;
};

// A loopback port on which nothing listens (bound for a moment, then released).
int FindClosedLoopbackPort();
