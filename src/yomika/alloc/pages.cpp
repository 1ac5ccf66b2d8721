// Large buffers and tables: huge-page advice and zeroed mappings.
#include "yomika/alloc/pages.hpp"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "yomika/alloc/fatal.hpp"

namespace yomika {

namespace {
constexpr std::uintptr_t kHugePage = std::uintptr_t{2} << 20;
// ZeroedPages maps blocks from kMapAt on: a table freed on the heap would stay there as free space.
constexpr std::size_t kMapAt = std::size_t{256} << 10;
constexpr std::size_t kMapGrowth = std::size_t{1} << 20;  // a GrowBlock maps its storage from here on
}  // namespace

void advise_huge_pages(void* p, std::size_t bytes, std::size_t at_least) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (bytes < at_least || bytes < kHugePage) return;
  // Only whole huge pages can be backed by one; the pieces at the ends stay as they are.
  const auto b = (reinterpret_cast<std::uintptr_t>(p) + kHugePage - 1) & ~(kHugePage - 1);
  const auto e = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(kHugePage - 1);
  if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_HUGEPAGE);
#else
  (void)p;
  (void)bytes;
  (void)at_least;
#endif
}

void release_pages(void* p, std::size_t bytes, std::size_t at_least) {
#if defined(__linux__) && defined(MADV_DONTNEED)
  if (bytes < at_least) return;
  const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
  const auto b = (reinterpret_cast<std::uintptr_t>(p) + page - 1) & ~(page - 1);
  const auto e = (reinterpret_cast<std::uintptr_t>(p) + bytes) & ~(page - 1);
  if (e > b) madvise(reinterpret_cast<void*>(b), e - b, MADV_DONTNEED);
#else
  (void)p;
  (void)bytes;
  (void)at_least;
#endif
}

ZeroedPages::ZeroedPages(std::size_t bytes) {
  bytes_ = bytes;
#if defined(__linux__)
  if (bytes >= kMapAt) {
    data_ = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (data_ == MAP_FAILED) alloc_failed(bytes);
    mapped_ = true;
#ifdef MADV_HUGEPAGE
    madvise(data_, bytes, MADV_HUGEPAGE);
#endif
    // Filling reads every slot before writing it: page by page, each first read would map the
    // shared zero page and the write after it copy a fresh one. Asking for writable pages up
    // front takes one call; where the system cannot, they are written here.
#ifdef MADV_POPULATE_WRITE
    if (madvise(data_, bytes, MADV_POPULATE_WRITE) != 0) std::memset(data_, 0, bytes);
#else
    std::memset(data_, 0, bytes);
#endif
    return;
  }
#endif
  data_ = std::calloc(bytes, 1);
  if (data_ == nullptr) alloc_failed(bytes);
}

void GrowBlock::grow(std::size_t bytes, std::size_t used) {
  if (!try_grow(bytes, used)) alloc_failed(bytes);
}

bool GrowBlock::try_grow(std::size_t bytes, std::size_t used) {
  if (bytes <= bytes_) return true;
#if defined(__linux__) && defined(MREMAP_MAYMOVE)
  if (bytes >= kMapGrowth) {
    const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    if (bytes > SIZE_MAX - page) return false;
    bytes = (bytes + page - 1) & ~(page - 1);
    void* p = mapped_ ? mremap(data_, bytes_, bytes, MREMAP_MAYMOVE) : MAP_FAILED;
    if (p == MAP_FAILED) {
      // A heap block, or a mapping the system will not move in one piece (advice over a part of
      // it split it): the bytes kept are copied into a fresh mapping.
      p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
      if (p == MAP_FAILED) return false;
      if (used) std::memcpy(p, data_, used);
      if (mapped_) {
        munmap(data_, bytes_);
      } else {
        // The heap keeps a freed block as free space, its pages still held: they are given back
        // first (the allocator's own words lie outside the block's whole pages).
        release_pages(data_, bytes_, 0);
        std::free(data_);
      }
      mapped_ = true;
    }
    data_ = p;
    bytes_ = bytes;
    return true;
  }
#endif
  (void)used;
  void* p = std::realloc(data_, bytes);
  if (p == nullptr) return false;
  data_ = p;
  bytes_ = bytes;
  return true;
}

void GrowBlock::advise_huge_pages(std::size_t at_least) {
#if defined(__linux__) && defined(MADV_HUGEPAGE)
  if (mapped_ && bytes_ >= at_least && bytes_ >= kHugePage) madvise(data_, bytes_, MADV_HUGEPAGE);
#else
  (void)at_least;
#endif
}

void GrowBlock::shrink(std::size_t bytes) {
#if defined(__linux__) && defined(MREMAP_MAYMOVE)
  if (!mapped_ || bytes >= bytes_) return;
  const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  bytes = (bytes + page - 1) & ~(page - 1);
  if (bytes == 0 || bytes >= bytes_) return;
  if (mremap(data_, bytes_, bytes, 0) == MAP_FAILED) return;  // it stays as large as it was
  bytes_ = bytes;
#else
  (void)bytes;
#endif
}

OwnedBlock::~OwnedBlock() {
#if defined(__linux__)
  if (mapped_) {
    munmap(data_, bytes_);
    return;
  }
#endif
  std::free(data_);
}

}  // namespace yomika
