// The owning socket handle shared by the workers that use it, and whole-buffer I/O.
#include "proxy/socket.h"

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

CSocket::CSocket(int descriptor) {
  if (descriptor > 0) m_descriptor = std::make_shared<const CDescriptor>(descriptor);
}

CSocket::CDescriptor::~CDescriptor() { ::close(value); }

void CSocket::Shutdown() const {
  if (m_descriptor) ::shutdown(m_descriptor->value, SHUT_RDWR);
}

void CSocket::ShutdownSending() const {
  if (m_descriptor) ::shutdown(m_descriptor->value, SHUT_WR);
}

bool MakeSocketPair(CSocket& first, CSocket& second) {
  int ends[2];
  if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
  first = CSocket(ends[0]);
  second = CSocket(ends[1]);
  return true;
}

bool SetSocketMode(const CSocket& socket, SocketMode mode) {
  int nonBlocking = mode == SocketMode::kNonBlocking ? 1 : 0;
  return ::ioctl(socket.Get(), FIONBIO, &nonBlocking) == 0;
}

namespace {

void SetTimeOption(const CSocket& socket, int option, std::chrono::milliseconds limit) {
  timeval value{};
  value.tv_sec = static_cast<time_t>(limit.count() / 1000);
  value.tv_usec = static_cast<suseconds_t>(limit.count() % 1000 * 1000);
  ::setsockopt(socket.Get(), SOL_SOCKET, option, &value, sizeof value);
}

}  // namespace

void SetSendLimit(const CSocket& socket, std::chrono::milliseconds limit) {
  SetTimeOption(socket, SO_SNDTIMEO, limit);
}

void SetReceiveLimit(const CSocket& socket, std::chrono::milliseconds limit) {
  SetTimeOption(socket, SO_RCVTIMEO, limit);
}

void CloseAfterAnswer(const CSocket& peer) {
  // The wait ends as soon as the peer closes; only a peer still sending (a refused
  // upload) or holding the connection open waits this long. Two seconds leave a
  // busy browser time to take the answer and hold no connection thread for long.
  constexpr std::chrono::milliseconds kDrainTime{2000};
  ::shutdown(peer.Get(), SHUT_WR);
  const auto deadline = std::chrono::steady_clock::now() + kDrainTime;
  char discard[1024];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    pollfd entry{peer.Get(), POLLIN, 0};
    if (left.count() <= 0 || ::poll(&entry, 1, static_cast<int>(left.count())) <= 0) return;
    if (ReceiveSome(peer.Get(), discard, sizeof discard) <= 0) return;
  }
}

ssize_t SendAll(int socket, const char* bytes, std::size_t length) {
  std::size_t sent = 0;
  while (sent < length) {
    const ssize_t n = ::send(socket, bytes + sent, length - sent, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    sent += static_cast<std::size_t>(n);
  }
  return static_cast<ssize_t>(sent);
}

ssize_t ReceiveSome(int socket, char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::recv(socket, buffer, capacity, 0);
    if (n >= 0 || errno != EINTR) return n < 0 ? -1 : n;
  }
}

ssize_t ReceiveWaiting(int socket, char* buffer, std::size_t capacity) {
  for (;;) {
    const ssize_t n = ::recv(socket, buffer, capacity, MSG_DONTWAIT);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK) return kNothingWaiting;
    if (errno != EINTR) return -1;
  }
}

namespace {

void SetCorked(int socket, bool corked) {
  const int value = corked ? 1 : 0;
  ::setsockopt(socket, IPPROTO_TCP, TCP_CORK, &value, sizeof value);
}

}  // namespace

void CSendBurst::Begin() {
  if (m_holding) return;
  SetCorked(m_socket, true);
  m_holding = true;
}

void CSendBurst::End() {
  if (!m_holding) return;
  SetCorked(m_socket, false);
  m_holding = false;
}
