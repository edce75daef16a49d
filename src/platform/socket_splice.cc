// Moving bytes from one socket to another through a kernel pipe, so that they
// never pass through the program's own memory.
#include "platform/socket_splice.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>

namespace {

// One call moves at most this much, so that the other direction of a tunnel and
// its activity time are seen to between bursts.
constexpr std::size_t kMaxMovedPerCall = 4 << 20;
// A pipe holds 64 KiB unless asked for more; a larger one moves a burst in a
// sixteenth of the calls. Its pages are taken only while bytes sit in it.
constexpr std::size_t kDefaultPipeSize = 1 << 16;
constexpr int kPipeSize = 1 << 20;
// Pipes cost two descriptors each, which the connection caps do not count on:
// only this many exist at once, and a call that finds none free is told so.
constexpr int kMaxPipes = 16;

std::atomic<int> g_pipes{0};

// A pipe for one call: made when a burst of bytes begins, closed when it ends, so
// that no descriptor outlives the burst.
class CPipe {
 public:
  CPipe() {
    if (g_pipes.fetch_add(1) >= kMaxPipes || ::pipe2(m_ends, O_CLOEXEC) != 0) {
      g_pipes.fetch_sub(1);
      m_ends[0] = m_ends[1] = -1;
      return;
    }
    // Where the system refuses the size, the pipe keeps the one it has.
    int size = ::fcntl(m_ends[1], F_SETPIPE_SZ, kPipeSize);
    if (size <= 0) size = ::fcntl(m_ends[1], F_GETPIPE_SZ);
    m_capacity = size > 0 ? static_cast<std::size_t>(size) : kDefaultPipeSize;
  }
  ~CPipe() {
    if (m_ends[0] < 0) return;
    ::close(m_ends[0]);
    ::close(m_ends[1]);
    g_pipes.fetch_sub(1);
  }
  CPipe(const CPipe&) = delete;
  CPipe& operator=(const CPipe&) = delete;

  bool IsOpen() const { return m_ends[0] >= 0; }
  int Read() const { return m_ends[0]; }
  int Write() const { return m_ends[1]; }
  std::size_t Capacity() const { return m_capacity; }

 private:
  int m_ends[2];
  std::size_t m_capacity = 0;
};

ssize_t RetryOnSignal(int from, int to, std::size_t length, unsigned flags) {
  for (;;) {
    const ssize_t result = ::splice(from, nullptr, to, nullptr, length, flags);
    if (result >= 0 || errno != EINTR) return result;
  }
}

// Sends every byte the pipe holds to `to`; false when `to` takes no more.
bool Drain(const CPipe& pipe, int to, std::size_t length) {
  while (length > 0) {
    const ssize_t sent = RetryOnSignal(pipe.Read(), to, length, SPLICE_F_MOVE);
    if (sent <= 0) return false;
    length -= static_cast<std::size_t>(sent);
  }
  return true;
}

// A splice from a blocking socket waits when nothing has arrived, so every one is
// made only once the socket says it has bytes (or its close) to give.
bool HasBytesWaiting(int socket) {
  pollfd entry{socket, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, 0);
    if (ready >= 0) return ready > 0;
    if (errno != EINTR) return true;  // the splice then says what is wrong
  }
}

}  // namespace

SpliceResult SpliceAvailable(int from, int to, std::size_t& moved, std::size_t limit) {
  moved = 0;
  const CPipe pipe;
  if (!pipe.IsOpen()) return SpliceResult::kUnavailable;
  const std::size_t most = std::min(limit, kMaxMovedPerCall);
  while (moved < most && HasBytesWaiting(from)) {
    const ssize_t taken = RetryOnSignal(from, pipe.Write(), std::min(pipe.Capacity(), most - moved),
                                        SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (taken == 0 || (taken < 0 && errno != EAGAIN))
      return moved > 0 ? SpliceResult::kMoved : SpliceResult::kClosed;
    if (taken < 0) break;  // the bytes announced were gone after all
    if (!Drain(pipe, to, static_cast<std::size_t>(taken))) return SpliceResult::kFailed;
    moved += static_cast<std::size_t>(taken);
  }
  return moved > 0 ? SpliceResult::kMoved : SpliceResult::kNothingYet;
}

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
  const ssize_t result = RetryOnSignal(from, m_write, kCapacity - m_held, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
  if (result < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Fill::kNothingYet;
  if (result <= 0) return Fill::kClosed;
  taken = static_cast<std::size_t>(result);
  m_held += taken;
  return Fill::kTaken;
}

bool CSplicePipe::DrainTo(int to) {
  while (m_held > 0) {
    const ssize_t sent = RetryOnSignal(m_read, to, m_held, SPLICE_F_MOVE | SPLICE_F_NONBLOCK);
    if (sent < 0) return errno == EAGAIN || errno == EWOULDBLOCK;
    if (sent == 0) return false;
    m_held -= static_cast<std::size_t>(sent);
  }
  return true;
}
