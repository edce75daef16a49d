// The receive buffers of the proxy workers, lent out per piece of traffic.
#pragma once

#include <cstddef>
#include <memory>

#include "proxy/request_text.h"

// How much a buffer holds: one piece, or a batch of pieces that a response relay
// receives at once and filters piece by piece, so that a fast server's answer
// costs one receive and one send per batch instead of per piece.
enum class BufferSize { kPiece, kBatch };
inline constexpr std::size_t kBatchPieces = 8;

// The bytes a buffer of that size takes in; it has room for one more, the 0 byte
// written after a piece.
constexpr std::size_t BufferCapacity(BufferSize size) {
  return size == BufferSize::kPiece ? kMaxPieceSize : kBatchPieces * kMaxPieceSize;
}

// One buffer, borrowed from the process-wide pool and given back when the handle
// is destroyed. A relay holds one only while it handles a piece, so an idle
// keep-alive connection holds none and costs no buffer memory.
class CRelayBuffer {
 public:
  explicit CRelayBuffer(BufferSize size = BufferSize::kPiece);
  ~CRelayBuffer();
  CRelayBuffer(const CRelayBuffer&) = delete;
  CRelayBuffer& operator=(const CRelayBuffer&) = delete;

  char* Get() const { return m_bytes.get(); }

  // Buffers of each size kept for reuse; beyond them a returned buffer is freed.
  static constexpr std::size_t kMaxIdleBuffers = 64;
  static constexpr std::size_t kMaxIdleBatchBuffers = 4;

 private:
  BufferSize m_size;
  std::unique_ptr<char[]> m_bytes;
};
