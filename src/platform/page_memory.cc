// Memory taken from the system in whole pages and given back to it when freed.
#include "platform/page_memory.h"

#include <sys/mman.h>

void CPageRelease::operator()(char* pages) const { ::munmap(pages, size); }

CPageBlock AllocatePages(std::size_t size) {
  void* pages = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (pages == MAP_FAILED) return CPageBlock(nullptr, CPageRelease{size});
  return CPageBlock(static_cast<char*>(pages), CPageRelease{size});
}
