// Moving bytes from one socket to another through a kernel pipe, so that they
// never pass through the program's own memory.
#include "platform/socket_splice.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

namespace {

// Pipes cost two descriptors each, which the connection caps do not count on:
// only this many exist at once.
constexpr int kMaxPipes = 16;

std::atomic<int> g_pipes{0};

ssize_t SpliceRetryingOnSignal(int from, int to, std::size_t length) {
  for (;;) {
    const ssize_t result =
        ::splice(from, nullptr, to, nullptr, length, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (result >= 0 || errno != EINTR) return result;
  }
}

}  // namespace

CSplicePipe::CSplicePipe() {
  int ends[2];
  if (g_pipes.fetch_add(1) >= kMaxPipes || ::pipe2(ends, O_CLOEXEC | O_NONBLOCK) != 0) {
    g_pipes.fetch_sub(1);
    return;
  }
  m_read = ends[0];
  m_write = ends[1];
}

CSplicePipe::~CSplicePipe() {
  if (!IsOpen()) return;
  ::close(m_read);
  ::close(m_write);
  g_pipes.fetch_sub(1);
}

CSplicePipe::Fill CSplicePipe::FillFrom(int from, std::size_t& taken) {
  taken = 0;
  const ssize_t result = SpliceRetryingOnSignal(from, m_write, kCapacity - m_held);
  if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fill::kNothingYet;
  if (result <= 0) return Fill::kClosed;
  taken = static_cast<std::size_t>(result);
  m_held += taken;
  return Fill::kTaken;
}

bool CSplicePipe::DrainTo(int to) {
  while (m_held > 0) {
    const ssize_t sent = SpliceRetryingOnSignal(m_read, to, m_held);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (sent == 0) return false;
    m_held -= static_cast<std::size_t>(sent);
  }
  return true;
}
