// Opening the proxy's connections to servers.
#include "proxy/server_socket.h"

#include <fcntl.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>

#include "proxy/host_cache.h"

namespace {

using Clock = std::chrono::steady_clock;

// Waits for a non-blocking connect to finish; true when it succeeded in time.
bool WaitConnected(int socket, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  pollfd entry{socket, POLLOUT, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return false;
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) break;
    if (ready == 0 || errno != EINTR) return false;
  }
  int error = 0;
  socklen_t size = sizeof error;
  return ::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) == 0 && error == 0;
}

bool MakeBlocking(int socket) {
  const int flags = ::fcntl(socket, F_GETFL);
  return flags >= 0 && ::fcntl(socket, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

}  // namespace

CSocket ConnectToAddress(in_addr address, int port, std::chrono::milliseconds timeout) {
  if (port < 1 || port > 65535) return {};
  CSocket server(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!server.IsOpen()) return {};
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr = address;
  if (::connect(server.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    // An interrupted connect goes on in the background like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) return {};
    if (!WaitConnected(server.Get(), timeout)) return {};
  }
  if (!MakeBlocking(server.Get())) return {};
  const int noDelay = 1;
  ::setsockopt(server.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  return server;
}

CSocket OpenServerSocket(const std::string& host, int port, std::chrono::milliseconds timeout) {
  if (port < 1 || port > 65535) return {};
  const auto address = ResolveHost(host);
  if (!address) return {};
  return ConnectToAddress(*address, port, timeout);
}
