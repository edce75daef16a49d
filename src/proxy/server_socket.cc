// Opening the proxy's connections to servers.
#include "proxy/server_socket.h"

#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>

#include <cerrno>


namespace {

using Clock = std::chrono::steady_clock;

ConnectFailure FailureOf(int error) {
  return error == ECONNREFUSED ? ConnectFailure::kRefused : ConnectFailure::kOther;
}

// Waits for a non-blocking connect to finish; kNone when it succeeded in time.
ConnectFailure WaitConnected(int socket, std::chrono::milliseconds timeout) {
  const Clock::time_point deadline = Clock::now() + timeout;
  pollfd entry{socket, POLLOUT, 0};
  for (;;) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0) return ConnectFailure::kTimedOut;
    const int ready = ::poll(&entry, 1, static_cast<int>(left.count()));
    if (ready > 0) break;
    if (ready == 0) return ConnectFailure::kTimedOut;
    if (errno != EINTR) return ConnectFailure::kOther;
  }
  // A connect that failed reports an error or a hang-up besides being writable;
  // only then is its reason worth a call.
  if ((entry.revents & (POLLERR | POLLHUP)) == 0) return ConnectFailure::kNone;
  int error = 0;
  socklen_t size = sizeof error;
  if (::getsockopt(socket, SOL_SOCKET, SO_ERROR, &error, &size) != 0) return ConnectFailure::kOther;
  return error == 0 ? ConnectFailure::kNone : FailureOf(error);
}

}  // namespace

CSocket ConnectToAddress(in_addr address, int port, std::chrono::milliseconds timeout,
                         ConnectFailure& failure, SocketMode mode) {
  failure = ConnectFailure::kOther;
  if (port < 1 || port > 65535) return {};
  CSocket server(::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP));
  if (!server.IsOpen()) return {};
  sockaddr_in target{};
  target.sin_family = AF_INET;
  target.sin_port = htons(static_cast<uint16_t>(port));
  target.sin_addr = address;
  if (::connect(server.Get(), reinterpret_cast<const sockaddr*>(&target), sizeof target) != 0) {
    // An interrupted connect goes on in the background like one in progress.
    if (errno != EINPROGRESS && errno != EINTR) {
      failure = FailureOf(errno);
      return {};
    }
    failure = WaitConnected(server.Get(), timeout);
    if (failure != ConnectFailure::kNone) return {};
  }
  failure = ConnectFailure::kOther;
  if (mode == SocketMode::kBlocking && !SetSocketMode(server, SocketMode::kBlocking)) return {};
  failure = ConnectFailure::kNone;
  const int noDelay = 1;
  ::setsockopt(server.Get(), IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  return server;
}
