// CReceiveWindow: the bytes received from one socket and not yet handled.
#include "proxy/receive_window.h"

#include <poll.h>

#include <cerrno>
#include <cstring>

#include "proxy/socket.h"

CReceiveWindow::Readiness CReceiveWindow::WaitForBytes(std::chrono::milliseconds limit) const {
  pollfd entry{m_socket, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&entry, 1, static_cast<int>(limit.count()));
    if (ready > 0) return Readiness::kReady;
    if (ready == 0) return Readiness::kTimedOut;
    if (errno != EINTR) return Readiness::kFailed;
  }
}

CReceiveWindow::Result CReceiveWindow::Receive(Wait wait, std::chrono::milliseconds limit) {
  for (;;) {
    const Result result = ReceiveOnce(wait, limit);
    // A wakeup without bytes (rare) is waited out again.
    if (result != Result::kNothingYet || wait == Wait::kNo) return result;
  }
}

CReceiveWindow::Result CReceiveWindow::ReceiveOnce(Wait wait, std::chrono::milliseconds limit) {
  if (IsFull()) return Result::kFull;
  // Waiting comes first: only a connection with bytes to handle takes a buffer.
  if (wait == Wait::kYes) {
    const Readiness readiness = WaitForBytes(limit);
    if (readiness == Readiness::kTimedOut) return Result::kTimedOut;
    if (readiness == Readiness::kFailed) return Result::kClosed;
  }
  if (!m_buffer) {
    m_size = m_streaming ? m_largest : BufferSize::kPiece;
    m_buffer.emplace(m_size);
    m_begin = m_end = 0;
  }
  char* bytes = m_buffer->Get();
  const std::size_t capacity = BufferCapacity(m_size);
  if (m_end == capacity) {
    std::memmove(bytes, bytes + m_begin, m_end - m_begin);
    m_end -= m_begin;
    m_begin = 0;
  }
  // After the wait the bytes are there, so the receive itself never blocks.
  const ssize_t received = ReceiveWaiting(m_socket, bytes + m_end, capacity - m_end);
  if (received == kNothingWaiting) {
    if (IsEmpty()) m_buffer.reset();
    return Result::kNothingYet;
  }
  if (received <= 0) return Result::kClosed;
  m_end += static_cast<std::size_t>(received);
  // A receive that fills the buffer asks for a larger one next time; one shorter
  // than a piece, for the small one again.
  m_streaming = m_end == capacity || (m_streaming && received >= ssize_t{kMaxPieceSize});
  return Result::kReceived;
}

std::string_view CReceiveWindow::Unread() const {
  if (!m_buffer) return {};
  return {m_buffer->Get() + m_begin, m_end - m_begin};
}

char* CReceiveWindow::UnreadData() { return m_buffer ? m_buffer->Get() + m_begin : nullptr; }

void CReceiveWindow::Consume(std::size_t count) {
  m_begin += count;
  if (m_begin < m_end) return;
  // Nothing left unread: the buffer goes back to the pool until bytes come again.
  m_buffer.reset();
  m_begin = m_end = 0;
}
