// Memory taken from the system in whole pages and given back to it when freed.
#pragma once

#include <cstddef>
#include <memory>

struct CPageRelease {
  std::size_t size;
  void operator()(char* pages) const;
};

// `size` bytes in pages of their own, or null. Unlike the heap's memory, which
// keeps what a burst freed, the pages leave the process as the handle goes.
using CPageBlock = std::unique_ptr<char[], CPageRelease>;
CPageBlock AllocatePages(std::size_t size);
