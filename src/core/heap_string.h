// CHeapString: an owned, growable text used for working buffers.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

// The empty string owns no block. The text is NUL-terminated and ends at its
// first NUL: constructing from a text and a length stops early at a NUL byte.
// The length is kept beside the block so appending is amortised constant time.
class CHeapString {
 public:
  CHeapString() = default;
  explicit CHeapString(std::string_view text);
  CHeapString(const CHeapString& other);
  CHeapString(CHeapString&& other) noexcept;
  CHeapString& operator=(const CHeapString& other);
  CHeapString& operator=(CHeapString&& other) noexcept;
  CHeapString& operator=(std::string_view text);
  ~CHeapString() = default;

  void Clear();

  // The characters, or nullptr for the empty string.
  const char* GetText() const { return m_block.get(); }
  std::string_view View() const { return {m_block.get(), m_length}; }
  std::string ToString() const { return std::string(View()); }

  int GetLength() const { return static_cast<int>(m_length); }
  bool IsEmpty() const { return m_length == 0; }

  CHeapString& Append(std::string_view text);
  CHeapString& Append(const CHeapString& other) { return Append(other.View()); }

 private:
  struct FreeBlock {
    void operator()(char* block) const { std::free(block); }
  };
  void Assign(std::string_view text);

  std::unique_ptr<char, FreeBlock> m_block;
  std::size_t m_length = 0;
  std::size_t m_capacity = 0;  // characters the block holds before its NUL
};
