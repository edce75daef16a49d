// Interning table: hash, probe, grow.
#include "core/string_pool.h"

#include <cstdlib>
#include <cstring>
#include <new>

// One stored text: its hash and length up front so that probing rarely touches
// the characters of a different text.
struct CStringPool::Entry {
  std::uint32_t hash;
  std::uint32_t length;
  char text[1];

  static Entry* Create(std::string_view text, std::uint32_t hash) {
    void* block = std::malloc(offsetof(Entry, text) + text.size() + 1);
    if (block == nullptr) return nullptr;
    Entry* entry = static_cast<Entry*>(block);
    entry->hash = hash;
    entry->length = static_cast<std::uint32_t>(text.size());
    std::memcpy(entry->text, text.data(), text.size());
    entry->text[text.size()] = '\0';
    return entry;
  }

  bool Holds(std::string_view other, std::uint32_t otherHash) const {
    return hash == otherHash && length == other.size() &&
           std::memcmp(text, other.data(), other.size()) == 0;
  }
};

CStringPool::Table::Table(std::size_t size)
    : capacity(size), slots(new (std::nothrow) std::atomic<Entry*>[size]) {
  if (!slots) {
    capacity = 0;
    return;
  }
  for (std::size_t i = 0; i < size; ++i) slots[i].store(nullptr, std::memory_order_relaxed);
}

CStringPool::~CStringPool() {
  Table* table = m_table.load(std::memory_order_relaxed);
  if (table == nullptr) return;
  for (std::size_t i = 0; i < table->capacity; ++i) std::free(table->slots[i].load());
}

std::size_t CStringPool::StoredLength(const char* stored) {
  const char* start = stored - offsetof(Entry, text);
  return reinterpret_cast<const Entry*>(start)->length;
}

std::uint32_t CStringPool::Hash(std::string_view text) {
  std::uint32_t h = 0;
  for (unsigned char b : text) h = h * 33u + b;
  return h;
}

// Walks downward from the text's home slot. Returns the slot of the match (and
// sets *found) or the first empty slot (leaving *found null).
std::ptrdiff_t CStringPool::Probe(const Table& table, std::string_view text, std::uint32_t hash,
                                  Entry** found) {
  const std::size_t mask = table.capacity - 1;
  std::size_t slot = hash & mask;
  *found = nullptr;
  for (;;) {
    Entry* entry = table.slots[slot].load(std::memory_order_acquire);
    if (entry == nullptr) return static_cast<std::ptrdiff_t>(slot);
    if (entry->Holds(text, hash)) {
      *found = entry;
      return static_cast<std::ptrdiff_t>(slot);
    }
    slot = (slot + mask) & mask;  // previous slot, 0 wraps to the last
  }
}

const char* CStringPool::Lookup(std::string_view text) const {
  const Table* table = m_table.load(std::memory_order_acquire);
  if (table == nullptr) return nullptr;
  Entry* found = nullptr;
  Probe(*table, text, Hash(text), &found);
  return found ? found->text : nullptr;
}

const char* CStringPool::Intern(const char* text) {
  if (text == nullptr) return nullptr;
  return Intern(std::string_view(text));
}

const char* CStringPool::Intern(std::string_view text) {
  if (const char* stored = Lookup(text)) return stored;
  if (text.size() > UINT32_MAX) return nullptr;

  std::lock_guard<std::mutex> guard(m_insertLock);
  const std::uint32_t hash = Hash(text);
  if (m_table.load(std::memory_order_relaxed) == nullptr) {
    auto first = std::make_unique<Table>(kInitialCapacity);
    if (first->capacity == 0) return nullptr;
    m_threshold = kInitialCapacity / 2;
    m_table.store(first.get(), std::memory_order_release);
    m_tables.push_back(std::move(first));
  }
  Entry* found = nullptr;
  std::ptrdiff_t slot = Probe(*m_table.load(std::memory_order_relaxed), text, hash, &found);
  if (found) return found->text;  // another thread stored it meanwhile
  if (m_count == m_threshold) {
    Grow();
    if (m_count == m_threshold) return nullptr;  // no memory for a larger table
    slot = Probe(*m_table.load(std::memory_order_relaxed), text, hash, &found);
  }
  Entry* entry = Entry::Create(text, hash);
  if (entry == nullptr) return nullptr;
  m_table.load(std::memory_order_relaxed)->slots[slot].store(entry, std::memory_order_release);
  ++m_count;
  return entry->text;
}

void CStringPool::Grow() {
  const Table& old = *m_table.load(std::memory_order_relaxed);
  auto bigger = std::make_unique<Table>(old.capacity * 2);
  if (bigger->capacity == 0) return;
  for (std::size_t i = 0; i < old.capacity; ++i) {
    Entry* entry = old.slots[i].load(std::memory_order_relaxed);
    if (entry == nullptr) continue;
    Entry* ignored = nullptr;
    std::ptrdiff_t slot = Probe(*bigger, std::string_view(entry->text, entry->length),
                                entry->hash, &ignored);
    bigger->slots[slot].store(entry, std::memory_order_relaxed);
  }
  m_threshold = bigger->capacity / 2;
  m_table.store(bigger.get(), std::memory_order_release);
  m_tables.push_back(std::move(bigger));
}

std::size_t CStringPool::GetCount() const {
  std::lock_guard<std::mutex> guard(m_insertLock);
  return m_count;
}

CStringPool& GetStringPool() {
  // Constructed in place and never destroyed (see the header).
  alignas(CStringPool) static unsigned char storage[sizeof(CStringPool)];
  static CStringPool* pool = ::new (storage) CStringPool();
  return *pool;
}
