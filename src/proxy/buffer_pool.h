// The receive buffers of the proxy workers, lent out per piece of traffic.
#pragma once

#include <cstddef>
#include <memory>

#include "proxy/request_text.h"

// Bytes in one buffer: a whole receive and the 0 byte written after it.
inline constexpr std::size_t kRelayBufferSize = kMaxPieceSize + 1;

// One buffer, borrowed from the process-wide pool and given back when the handle
// is destroyed. A relay holds one only while it handles a piece, so an idle
// keep-alive connection holds none and costs no buffer memory.
class CRelayBuffer {
 public:
  CRelayBuffer();
  ~CRelayBuffer();
  CRelayBuffer(const CRelayBuffer&) = delete;
  CRelayBuffer& operator=(const CRelayBuffer&) = delete;

  char* Get() const { return m_bytes.get(); }

  // Buffers kept for reuse; beyond them a returned buffer is freed.
  static constexpr std::size_t kMaxIdleBuffers = 64;

 private:
  std::unique_ptr<char[]> m_bytes;
};
