// How many browser connections may be open at once.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

// Each browser connection takes a slot while it is open; the listener accepts the
// next connection only while a slot is free, so that a flood of idle connections
// waits in the listen queue instead of taking the descriptors that the panel, the
// configuration file and the connections already served need.
class CConnectionSlots {
 public:
  // Descriptors kept for everything that is not a browser connection, and those
  // a browser connection counts for (its own and one server connection's).
  static constexpr std::size_t kReservedDescriptors = 64;
  static constexpr std::size_t kDescriptorsPerConnection = 2;

  // Sizes the slots to what `descriptorLimit` open descriptors allow.
  void SetCapacityFor(std::size_t descriptorLimit);
  // Waits at most `limit` for a free slot; true when there is one.
  bool WaitForFree(std::chrono::milliseconds limit);
  void Take();
  void Give();

 private:
  std::mutex m_lock;
  std::condition_variable m_freed;
  std::size_t m_capacity = 1024;
  std::size_t m_taken = 0;
};

// The process's one set of slots.
CConnectionSlots& GetConnectionSlots();
