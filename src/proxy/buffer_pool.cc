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
  std::vector<std::unique_ptr<char[]>> idleBatches;

  std::vector<std::unique_ptr<char[]>>& IdleOf(BufferSize size) {
    return size == BufferSize::kPiece ? idle : idleBatches;
  }
};

// Never destroyed: detached workers may still return buffers while the process ends.
CBufferPool& GetBufferPool() {
  alignas(CBufferPool) static unsigned char storage[sizeof(CBufferPool)];
  static CBufferPool* const pool = ::new (storage) CBufferPool();
  return *pool;
}

}  // namespace

CRelayBuffer::CRelayBuffer(BufferSize size) : m_size(size) {
  CBufferPool& pool = GetBufferPool();
  {
    std::lock_guard lock(pool.lock);
    std::vector<std::unique_ptr<char[]>>& idle = pool.IdleOf(size);
    if (!idle.empty()) {
      m_bytes = std::move(idle.back());
      idle.pop_back();
    }
  }
  if (!m_bytes) m_bytes = std::make_unique_for_overwrite<char[]>(BufferCapacity(size) + 1);
}

CRelayBuffer::~CRelayBuffer() {
  CBufferPool& pool = GetBufferPool();
  std::lock_guard lock(pool.lock);
  std::vector<std::unique_ptr<char[]>>& idle = pool.IdleOf(m_size);
  const std::size_t kept = m_size == BufferSize::kPiece ? kMaxIdleBuffers : kMaxIdleBatchBuffers;
  if (idle.size() < kept) idle.push_back(std::move(m_bytes));
}
