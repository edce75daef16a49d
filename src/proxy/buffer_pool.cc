// The receive buffers of the proxy workers, lent out per piece of traffic.
#include "proxy/buffer_pool.h"

#include <mutex>
#include <new>
#include <utility>
#include <vector>

namespace {

struct CBufferPool {
  std::mutex lock;
  std::vector<std::unique_ptr<char[]>> idle;
};

// Never destroyed: detached workers may still return buffers while the process ends.
CBufferPool& GetBufferPool() {
  alignas(CBufferPool) static unsigned char storage[sizeof(CBufferPool)];
  static CBufferPool* const pool = ::new (storage) CBufferPool();
  return *pool;
}

}  // namespace

CRelayBuffer::CRelayBuffer() {
  CBufferPool& pool = GetBufferPool();
  {
    std::lock_guard lock(pool.lock);
    if (!pool.idle.empty()) {
      m_bytes = std::move(pool.idle.back());
      pool.idle.pop_back();
    }
  }
  if (!m_bytes) m_bytes = std::make_unique_for_overwrite<char[]>(kRelayBufferSize);
}

CRelayBuffer::~CRelayBuffer() {
  CBufferPool& pool = GetBufferPool();
  std::lock_guard lock(pool.lock);
  if (pool.idle.size() < kMaxIdleBuffers) pool.idle.push_back(std::move(m_bytes));
}
