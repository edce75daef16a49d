// Measures tunnels as browsers open them for HTTPS: a fresh connection, a CONNECT
// to the origin through the proxy (or, without a proxy, the connection alone),
// then one GET of a small page inside the tunnel, and the connection closed.
//
//   lumbra_tunnel_load latency ORIGIN_PORT PROXY_PORT COUNT
//       one tunnel after another; prints "p50_us p99_us"
//   lumbra_tunnel_load rate ORIGIN_PORT PROXY_PORT CONCURRENCY SECONDS
//       CONCURRENCY tunnels at a time; prints "tunnels_per_second errors"
//
// PROXY_PORT 0 measures direct access. Everything is on 127.0.0.1; the page is
// /small.html.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

class CConnection {
 public:
  explicit CConnection(int port) : m_socket(::socket(AF_INET, SOCK_STREAM, 0)) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<uint16_t>(port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const int on = 1;
    ::setsockopt(m_socket, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
    timeval limit{5, 0};
    ::setsockopt(m_socket, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    m_connected = ::connect(m_socket, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
  }
  ~CConnection() { ::close(m_socket); }
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  bool IsConnected() const { return m_connected; }

  bool Send(const std::string& text) {
    return ::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(text.size());
  }

  // Reads one answer head and the Content-Length bytes after it; true for a 200.
  bool ReadAnswer() {
    std::size_t end;
    while ((end = m_received.find("\r\n\r\n")) == std::string::npos)
      if (!ReceiveMore()) return false;
    const std::string head = m_received.substr(0, end + 4);
    m_received.erase(0, end + 4);
    const std::size_t field = head.find("Content-Length: ");
    const std::size_t length = field == std::string::npos ? 0 : std::atol(head.c_str() + field + 16);
    while (m_received.size() < length)
      if (!ReceiveMore()) return false;
    m_received.erase(0, length);
    return head.compare(9, 3, "200") == 0;
  }

 private:
  bool ReceiveMore() {
    char buffer[16384];
    const ssize_t count = ::recv(m_socket, buffer, sizeof buffer, 0);
    if (count <= 0) return false;
    m_received.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  int m_socket;
  bool m_connected = false;
  std::string m_received;
};

bool OneTunnel(int originPort, int proxyPort) {
  CConnection connection(proxyPort != 0 ? proxyPort : originPort);
  if (!connection.IsConnected()) return false;
  const std::string origin = "127.0.0.1:" + std::to_string(originPort);
  if (proxyPort != 0 &&
      (!connection.Send("CONNECT " + origin + " HTTP/1.1\r\nHost: " + origin + "\r\n\r\n") ||
       !connection.ReadAnswer()))
    return false;
  return connection.Send("GET /small.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n") &&
         connection.ReadAnswer();
}

int Latency(int originPort, int proxyPort, int count) {
  std::vector<double> micros;
  for (int i = 0; i < count; ++i) {
    const auto start = Clock::now();
    if (!OneTunnel(originPort, proxyPort)) {
      std::fprintf(stderr, "tunnel %d failed\n", i);
      return 1;
    }
    micros.push_back(std::chrono::duration<double, std::micro>(Clock::now() - start).count());
  }
  std::sort(micros.begin(), micros.end());
  std::printf("%.0f %.0f\n", micros[micros.size() / 2], micros[micros.size() * 99 / 100]);
  return 0;
}

int Rate(int originPort, int proxyPort, int concurrency, double seconds) {
  std::atomic<long> done{0}, errors{0};
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int i = 0; i < concurrency; ++i)
    threads.emplace_back([&] {
      while (Clock::now() < deadline) ++(OneTunnel(originPort, proxyPort) ? done : errors);
    });
  for (std::thread& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%.0f %ld\n", static_cast<double>(done) / elapsed, errors.load());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "latency" && argc == 5)
    return Latency(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "rate" && argc == 6)
    return Rate(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]));
  std::fprintf(stderr,
               "usage: lumbra_tunnel_load latency ORIGIN_PORT PROXY_PORT COUNT\n"
               "       lumbra_tunnel_load rate ORIGIN_PORT PROXY_PORT CONCURRENCY SECONDS\n");
  return 2;
}
