// The receive buffers of the proxy workers, lent out per piece of traffic.
#pragma once

#include <cstddef>

#include "platform/page_memory.h"
#include "proxy/request_text.h"

// Bytes in one buffer: a whole receive and the 0 byte written after it.
inline constexpr std::size_t kRelayBufferSize = kMaxPieceSize + 1;

// One buffer, borrowed from the process-wide pool and given back when the handle
// is destroyed. A relay holds one only while it handles a piece, so an idle
// keep-alive connection holds none and costs no buffer memory. The buffers a
// burst of connections needed beyond the pool's keep leave the process with it.
class CRelayBuffer {
 public:
  CRelayBuffer();
  ~CRelayBuffer();
  CRelayBuffer(const CRelayBuffer&) = delete;
  CRelayBuffer& operator=(const CRelayBuffer&) = delete;

  char* Get() const { return m_bytes.get(); }

  // Buffers kept for reuse; beyond them a returned buffer goes back to the system.
  static constexpr std::size_t kMaxIdleBuffers = 128;

 private:
  CPageBlock m_bytes;
};
