// The test stub HTTP server.
#include "support/stub_http_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <stdexcept>

namespace {

int OpenLoopbackSocket(int* port) {
  int descriptor = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (descriptor < 0) throw std::runtime_error("socket failed");
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  if (bind(descriptor, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      getsockname(descriptor, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
    close(descriptor);
    throw std::runtime_error("bind failed");
  }
  *port = ntohs(address.sin_port);
  return descriptor;
}

// The request head, up to its blank line (bounded).
std::string ReadHead(int connection) {
  std::string head;
  char buffer[4096];
  while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
    pollfd waiting{connection, POLLIN, 0};
    if (poll(&waiting, 1, 5000) <= 0) break;
    ssize_t received = recv(connection, buffer, sizeof buffer, 0);
    if (received <= 0) break;
    head.append(buffer, static_cast<std::size_t>(received));
  }
  return head;
}

std::string TargetOf(const std::string& head) {
  std::size_t start = head.find(' ');
  if (start == std::string::npos) return {};
  std::size_t end = head.find(' ', start + 1);
  if (end == std::string::npos) return {};
  return head.substr(start + 1, end - start - 1);
}

void SendAll(int connection, const std::string& bytes) {
  std::size_t sent = 0;
  while (sent < bytes.size()) {
    ssize_t count = send(connection, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
    if (count <= 0) return;
    sent += static_cast<std::size_t>(count);
  }
}

}  // namespace

CStubHttpServer::CStubHttpServer() {
  m_listening = OpenLoopbackSocket(&m_port);
  if (listen(m_listening, 16) != 0) {
    close(m_listening);
    throw std::runtime_error("listen failed");
  }
  m_thread = std::thread([this] { Serve(); });
}

CStubHttpServer::~CStubHttpServer() {
  m_stop = true;
  m_thread.join();
  close(m_listening);
}

std::string CStubHttpServer::GetUrl(const std::string& path) const {
  return "http://127.0.0.1:" + std::to_string(m_port) + path;
}

void CStubHttpServer::SetAnswer(const std::string& path, StubAnswer answer) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_answers[path] = std::move(answer);
}

std::vector<std::string> CStubHttpServer::GetTargets() const {
  std::lock_guard<std::mutex> guard(m_lock);
  return m_targets;
}

void CStubHttpServer::Serve() {
  while (!m_stop) {
    pollfd waiting{m_listening, POLLIN, 0};
    if (poll(&waiting, 1, 50) <= 0) continue;
    int connection = accept4(m_listening, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection < 0) continue;
    AnswerOne(connection);
    close(connection);
  }
}

void CStubHttpServer::AnswerOne(int connection) {
  std::string target = TargetOf(ReadHead(connection));
  StubAnswer answer = RecordRequest(target);
  std::string reply =
      "HTTP/1.1 " + std::to_string(answer.status) + (answer.status < 300 ? " OK" : " Error") +
      "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(answer.body.size()) +
      "\r\nConnection: close\r\n\r\n" + answer.body;
  SendAll(connection, reply);
}

StubAnswer CStubHttpServer::RecordRequest(const std::string& target) {
  std::lock_guard<std::mutex> guard(m_lock);
  m_targets.push_back(target);
  auto found = m_answers.find(target.substr(0, target.find('?')));
  if (found == m_answers.end()) return {404, "Not Found"};
  return found->second;
}

int FindClosedLoopbackPort() {
  int port = 0;
  close(OpenLoopbackSocket(&port));
  return port;
}
