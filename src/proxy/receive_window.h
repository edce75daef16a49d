// CReceiveWindow: the bytes received from one socket and not yet handled.
#pragma once

#include <chrono>
#include <cstddef>
#include <optional>
#include <string_view>

#include "proxy/buffer_pool.h"

// A relay reads its peer through a window on one pooled buffer (and one byte
// more, for the 0 that the text functions want after a piece): bytes are
// received after the unread ones and consumed from the front as they are handled,
// so a message that begins in the middle of a receive is read from exactly where
// the one before it ended. The buffer is borrowed only while bytes are unread, so
// an idle connection holds none. It holds one piece, unless the window may take a
// batch and the peer is sending faster than a buffer per receive.
class CReceiveWindow {
 public:
  explicit CReceiveWindow(int socket, BufferSize largest = BufferSize::kPiece)
      : m_socket(socket), m_largest(largest) {}
  CReceiveWindow(const CReceiveWindow&) = delete;
  CReceiveWindow& operator=(const CReceiveWindow&) = delete;

  enum class Wait { kYes, kNo };
  // Waiting without an end, for callers that bound the wait otherwise.
  static constexpr std::chrono::milliseconds kNoLimit{-1};
  // Receives more bytes after the unread ones. kReceived; kNothingYet (only
  // without waiting); kTimedOut when nothing came within `limit`; kClosed when the
  // peer ended or failed; kFull when the unread bytes already fill the buffer.
  enum class Result { kReceived, kNothingYet, kTimedOut, kClosed, kFull };
  Result Receive(Wait wait = Wait::kYes, std::chrono::milliseconds limit = kNoLimit);

  std::string_view Unread() const;
  // The unread bytes, writable: the filter rewrites them in place.
  char* UnreadData();
  void Consume(std::size_t count);
  bool IsEmpty() const { return m_begin == m_end; }
  bool IsFull() const { return m_end - m_begin == BufferCapacity(m_size); }

  int GetSocket() const { return m_socket; }
  // Waits until the socket has bytes (or its close) to give, without taking them.
  enum class Readiness { kReady, kTimedOut, kFailed };
  Readiness WaitForBytes(std::chrono::milliseconds limit) const;

 private:
  Result ReceiveOnce(Wait wait, std::chrono::milliseconds limit);

  int m_socket;
  BufferSize m_largest;
  // The size of the buffer borrowed, and whether the receives fill it.
  BufferSize m_size = BufferSize::kPiece;
  bool m_streaming = false;
  std::optional<CRelayBuffer> m_buffer;
  std::size_t m_begin = 0;
  std::size_t m_end = 0;
};
