// The receive buffers of the proxy workers, lent out per piece of traffic.
#include "proxy/buffer_pool.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

struct CBufferPool {
  std::mutex lock;
  std::vector<CPageBlock> idle;
};

// Never destroyed: detached workers may still return buffers while the process ends.
CBufferPool& GetBufferPool() {
  alignas(CBufferPool) static unsigned char storage[sizeof(CBufferPool)];
  static CBufferPool* const pool = ::new (storage) CBufferPool();
  return *pool;
}

}  // namespace

CRelayBuffer::CRelayBuffer() : m_bytes(nullptr, CPageRelease{kRelayBufferSize}) {
  CBufferPool& pool = GetBufferPool();
  {
    std::lock_guard lock(pool.lock);
    if (!pool.idle.empty()) {
      m_bytes = std::move(pool.idle.back());
      pool.idle.pop_back();
    }
  }
  if (!m_bytes) m_bytes = AllocatePages(kRelayBufferSize);
  if (!m_bytes) throw std::bad_alloc();
}

CRelayBuffer::~CRelayBuffer() {
  CBufferPool& pool = GetBufferPool();
  std::lock_guard lock(pool.lock);
  if (m_bytes && pool.idle.size() < kMaxIdleBuffers) pool.idle.push_back(std::move(m_bytes));
}
