// CTrafficText: bounded access to one received piece of traffic, rewritten in place.
#pragma once

#include <cstddef>
#include <string_view>

#include "rules/byte_search.h"

// The caller's buffer holds `length` received bytes followed by a 0 byte. The text
// is the part before the first 0 byte: every search stops there. Writes are
// clipped to the buffer, so nothing outside [buffer, buffer + length) is ever
// read or changed, and the length never changes. The terminating 0 byte at
// buffer[length] is never touched.
class CTrafficText {
 public:
  static constexpr std::size_t npos = std::string_view::npos;

  CTrafficText(char* buffer, std::size_t length);

  char* GetBuffer() const { return m_buffer; }
  std::size_t GetLength() const { return m_length; }
  // Position of the first 0 byte (the buffer length when there is none).
  std::size_t GetTextEnd() const { return m_textEnd; }
  std::string_view GetText() const { return {m_buffer, m_textEnd}; }

  // Leftmost occurrence at or after `from` of a needle prepared for searching; an
  // empty needle is found at `from` itself.
  std::size_t Find(const CSearchNeedle& needle, std::size_t from) const {
    return needle.FindIn(GetText(), from);
  }
  // Leftmost occurrence of `needle` at or after `from` and before `before`.
  std::size_t FindByte(char needle, std::size_t from, std::size_t before) const;

  // Overwrites [from, to) with spaces (clipped to the buffer).
  void Blank(std::size_t from, std::size_t to);
  // Copies `bytes`, which hold no 0 byte, to `at` (clipped to the buffer).
  void Write(std::size_t at, std::string_view bytes);
  // Copies the `count` bytes of the text at `from` to `to`; the two ranges may
  // overlap (clipped to the buffer).
  void Move(std::size_t to, std::size_t from, std::size_t count);

  // Grows with every write, so that what was read from the text can be reused
  // for as long as the text stays unchanged.
  unsigned GetWriteCount() const { return m_writeCount; }

 private:
  // A write of [from, to) over the first 0 byte lengthens the text up to the next one.
  void UpdateTextEnd(std::size_t from, std::size_t to);

  char* m_buffer;
  std::size_t m_length;
  std::size_t m_textEnd;
  unsigned m_writeCount = 0;
};

// True for the bytes that separate attributes: 1 to 32 and 128 to 255.
inline bool IsBlankByte(char c) { return c != '\0' && static_cast<signed char>(c) <= 32; }
