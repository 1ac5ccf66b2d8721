// Large buffers and tables: huge pages on request, and zeroed tables mapped straight from the
// system. Every allocation of many megabytes in the core and the binding goes through here.
#pragma once

#include <cstddef>
#include <utility>

namespace yomika {

// Below this size a buffer is not worth the advice: four huge pages.
inline constexpr std::size_t kHugeAdviceMin = std::size_t{8} << 20;

// Asks the system to back the whole 2 MiB pages inside [p, p + bytes) with huge pages, for a buffer
// of at least `at_least` bytes that is about to be written through (an arena block, an output
// string): a first touch then faults once per 2 MiB instead of once per 4 KiB. Measured on a
// 64 MB source parsed once, page faults were over half the time, and the parse went from 240 to
// 450 MB/s with the arena's blocks advised (500 with the output string too). Only a hint: where
// the system has no huge pages on request nothing changes.
void advise_huge_pages(void* p, std::size_t bytes, std::size_t at_least = kHugeAdviceMin);

// Gives the whole pages inside [p, p + bytes) back to the system when they are at least
// `at_least` bytes, keeping the range usable: it reads as zeros and is faulted in again when
// touched. For a large table that dies long before the buffer that holds it, so that the memory
// of the rest of the work is not counted on top of it.
void release_pages(void* p, std::size_t bytes, std::size_t at_least = kHugeAdviceMin);

// A zeroed block of memory for a table that is read at random. From 2 MiB on it is mapped
// directly, in huge pages where the system gives them, and its pages are made writable up front:
// in small pages its first touches and its address translations would cost more than filling the
// table. Smaller blocks come from calloc. Failure to allocate is fatal.
class ZeroedPages {
 public:
  ZeroedPages() = default;
  explicit ZeroedPages(std::size_t bytes);
  ZeroedPages(ZeroedPages&& o) noexcept { swap(o); }
  ZeroedPages& operator=(ZeroedPages&& o) noexcept {
    swap(o);
    return *this;
  }
  ZeroedPages(const ZeroedPages&) = delete;
  ZeroedPages& operator=(const ZeroedPages&) = delete;
  ~ZeroedPages();

  void* data() const { return data_; }

 private:
  void swap(ZeroedPages& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(bytes_, o.bytes_);
    std::swap(mapped_, o.mapped_);
  }
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

// `count` slots of a trivial type whose zero is "empty", in ZeroedPages.
template <class Slot>
class ZeroedTable {
 public:
  ZeroedTable() = default;
  explicit ZeroedTable(std::size_t count) : pages_(count * sizeof(Slot)), slots_(static_cast<Slot*>(pages_.data())) {}

  Slot& operator[](std::size_t i) { return slots_[i]; }
  const Slot& operator[](std::size_t i) const { return slots_[i]; }

 private:
  ZeroedPages pages_;
  Slot* slots_ = nullptr;
};

}  // namespace yomika
