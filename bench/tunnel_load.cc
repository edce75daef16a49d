// Measures tunnels as browsers open them for HTTPS: a fresh connection, a CONNECT
// to the origin through the proxy (or, without a proxy, the connection alone),
// then one GET of a small page inside the tunnel, and the connection closed.
//
//   lumbra_tunnel_load latency ORIGIN_PORT PROXY_PORT COUNT
//       one tunnel after another; prints "p50_us p99_us"
//   lumbra_tunnel_load rate ORIGIN_PORT PROXY_PORT CONCURRENCY SECONDS
//       CONCURRENCY tunnels at a time; prints "tunnels_per_second errors"
//
//   lumbra_tunnel_load tls ORIGIN_PORT PROXY_PORT CONCURRENCY SECONDS TRUST_FILE GETS
//       CONCURRENCY TLS connections at a time, each through a CONNECT, a handshake
//       that trusts only TRUST_FILE and checks the name 127.0.0.1, then GETS
//       keep-alive GETs one after another (0: until the time is up); prints
//       "requests_per_second handshakes_per_second errors"
//
// PROXY_PORT 0 measures direct access. Everything is on 127.0.0.1; the page is
// /small.html.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

struct CSslFree {
  void operator()(SSL* session) const { SSL_free(session); }
  void operator()(SSL_CTX* context) const { SSL_CTX_free(context); }
};
using CSslContextPtr = std::unique_ptr<SSL_CTX, CSslFree>;

// A browser's TLS settings for the loopback origin: only `trustFile` is trusted,
// the certificate must name 127.0.0.1, and only HTTP/1.1 is offered.
CSslContextPtr MakeClientContext(const char* trustFile) {
  CSslContextPtr context(SSL_CTX_new(TLS_client_method()));
  static constexpr unsigned char kHttp11[] = "\x08http/1.1";
  if (!context || SSL_CTX_load_verify_locations(context.get(), trustFile, nullptr) != 1 ||
      X509_VERIFY_PARAM_set1_ip_asc(SSL_CTX_get0_param(context.get()), "127.0.0.1") != 1 ||
      SSL_CTX_set_alpn_protos(context.get(), kHttp11, sizeof kHttp11 - 1) != 0)
    return nullptr;
  SSL_CTX_set_verify(context.get(), SSL_VERIFY_PEER, nullptr);
  return context;
}

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
  ~CConnection() {
    if (m_tls) SSL_shutdown(m_tls.get());
    m_tls.reset();
    ::close(m_socket);
  }
  CConnection(const CConnection&) = delete;
  CConnection& operator=(const CConnection&) = delete;

  bool IsConnected() const { return m_connected; }

  // Speaks TLS from here on; true once the server's certificate has verified.
  bool StartTls(SSL_CTX* context) {
    m_tls.reset(SSL_new(context));
    return m_tls && SSL_set_fd(m_tls.get(), m_socket) == 1 && SSL_connect(m_tls.get()) == 1;
  }

  bool Send(const std::string& text) {
    if (m_tls)
      return SSL_write(m_tls.get(), text.data(), static_cast<int>(text.size())) ==
             static_cast<int>(text.size());
    return ::send(m_socket, text.data(), text.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(text.size());
  }

  // Reads one answer head and its body (Content-Length bytes, or chunks as a
  // filtering proxy may send them); true for a 200.
  bool ReadAnswer() {
    std::size_t end;
    while ((end = m_received.find("\r\n\r\n")) == std::string::npos)
      if (!ReceiveMore()) return false;
    const std::string head = m_received.substr(0, end + 4);
    m_received.erase(0, end + 4);
    if (head.find("Transfer-Encoding: chunked") != std::string::npos) {
      if (!SkipChunks()) return false;
    } else {
      const std::size_t field = head.find("Content-Length: ");
      const std::size_t length =
          field == std::string::npos ? 0 : std::atol(head.c_str() + field + 16);
      if (!SkipBytes(length)) return false;
    }
    return head.compare(9, 3, "200") == 0;
  }

 private:
  bool SkipBytes(std::size_t length) {
    while (m_received.size() < length)
      if (!ReceiveMore()) return false;
    m_received.erase(0, length);
    return true;
  }

  // Each chunk is a hexadecimal size line, the data and a line end; the last has size 0.
  bool SkipChunks() {
    for (;;) {
      std::size_t lineEnd;
      while ((lineEnd = m_received.find("\r\n")) == std::string::npos)
        if (!ReceiveMore()) return false;
      const std::size_t size = std::strtoul(m_received.c_str(), nullptr, 16);
      if (!SkipBytes(lineEnd + 2 + size + 2)) return false;
      if (size == 0) return true;
    }
  }

  bool ReceiveMore() {
    char buffer[16384];
    const ssize_t count = m_tls ? SSL_read(m_tls.get(), buffer, sizeof buffer)
                                : ::recv(m_socket, buffer, sizeof buffer, 0);
    if (count <= 0) return false;
    m_received.append(buffer, static_cast<std::size_t>(count));
    return true;
  }

  int m_socket;
  bool m_connected = false;
  std::unique_ptr<SSL, CSslFree> m_tls;
  std::string m_received;
};

const std::string kGetPage = "GET /small.html HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";

// A CONNECT to the origin, answered with a 200; nothing to do without a proxy.
bool OpenTunnel(CConnection& connection, int originPort, int proxyPort) {
  if (proxyPort == 0) return true;
  const std::string origin = "127.0.0.1:" + std::to_string(originPort);
  return connection.Send("CONNECT " + origin + " HTTP/1.1\r\nHost: " + origin + "\r\n\r\n") &&
         connection.ReadAnswer();
}

bool OneTunnel(int originPort, int proxyPort) {
  CConnection connection(proxyPort != 0 ? proxyPort : originPort);
  return connection.IsConnected() && OpenTunnel(connection, originPort, proxyPort) &&
         connection.Send(kGetPage) && connection.ReadAnswer();
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

// TLS connections opened and used for keep-alive GETs by `concurrency` threads.
int TlsRate(int originPort, int proxyPort, int concurrency, double seconds, const char* trustFile,
            int gets) {
  const CSslContextPtr context = MakeClientContext(trustFile);
  if (!context) {
    std::fprintf(stderr, "cannot trust %s\n", trustFile);
    return 1;
  }
  std::atomic<long> requests{0}, handshakes{0}, errors{0};
  const auto start = Clock::now();
  const auto deadline = start + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int i = 0; i < concurrency; ++i)
    threads.emplace_back([&] {
      while (Clock::now() < deadline) {
        CConnection connection(proxyPort != 0 ? proxyPort : originPort);
        if (!connection.IsConnected() || !OpenTunnel(connection, originPort, proxyPort) ||
            !connection.StartTls(context.get())) {
          ++errors;
          continue;
        }
        ++handshakes;
        for (int n = 0; (gets == 0 || n < gets) && Clock::now() < deadline; ++n) {
          if (!connection.Send(kGetPage) || !connection.ReadAnswer()) {
            ++errors;
            break;
          }
          ++requests;
        }
      }
    });
  for (std::thread& thread : threads) thread.join();
  const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
  std::printf("%.0f %.0f %ld\n", static_cast<double>(requests) / elapsed,
              static_cast<double>(handshakes) / elapsed, errors.load());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "latency" && argc == 5)
    return Latency(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]));
  if (mode == "rate" && argc == 6)
    return Rate(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]));
  if (mode == "tls" && argc == 8)
    return TlsRate(std::atoi(argv[2]), std::atoi(argv[3]), std::atoi(argv[4]), std::atof(argv[5]),
                   argv[6], std::atoi(argv[7]));
  std::fprintf(stderr,
               "usage: lumbra_tunnel_load latency ORIGIN_PORT PROXY_PORT COUNT\n"
               "       lumbra_tunnel_load rate ORIGIN_PORT PROXY_PORT CONCURRENCY SECONDS\n"
               "       lumbra_tunnel_load tls ORIGIN_PORT PROXY_PORT CONCURRENCY SECONDS "
               "TRUST_FILE GETS\n");
  return 2;
}
