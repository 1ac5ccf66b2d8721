// Large buffers and tables: huge pages on request, and zeroed tables mapped straight from the
// system. Every allocation of many megabytes in the core and the binding goes through here.
#pragma once

#include <cstddef>
#include <cstring>
#include <initializer_list>
#include <type_traits>
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

// A block from the system (mapped) or the heap, given back the way it came; moved, never copied.
class OwnedBlock {
 public:
  OwnedBlock() = default;
  OwnedBlock(OwnedBlock&& o) noexcept { swap(o); }
  OwnedBlock& operator=(OwnedBlock&& o) noexcept {
    swap(o);
    return *this;
  }
  OwnedBlock(const OwnedBlock&) = delete;
  OwnedBlock& operator=(const OwnedBlock&) = delete;
  ~OwnedBlock();

  void* data() const { return data_; }
  std::size_t bytes() const { return bytes_; }

 protected:
  void swap(OwnedBlock& o) noexcept {
    std::swap(data_, o.data_);
    std::swap(bytes_, o.bytes_);
    std::swap(mapped_, o.mapped_);
  }
  void* data_ = nullptr;
  std::size_t bytes_ = 0;
  bool mapped_ = false;
};

// A zeroed block of memory for a table that is read at random. From 256 KiB on it is mapped
// directly, so that freeing it gives its pages back (a table outgrown on the heap stays there as
// free space, held pages beside the parse), in huge pages where the system gives them, and its
// pages are made writable up front: in small pages its first touches and its address
// translations would cost more than filling the table. Smaller blocks come from calloc. Failure
// to allocate is fatal.
class ZeroedPages : public OwnedBlock {
 public:
  ZeroedPages() = default;
  explicit ZeroedPages(std::size_t bytes);
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

// The storage of a growable array that may grow large. Below a megabyte it lives on the heap,
// where a parse's tables find memory warm from the parse before; from there on in a mapping of
// its own, which grows by moving its pages rather than copying them: a doubling copy holds the
// old and the new array at once, twice the array's memory at its peak, and these arrays (a bracket
// body, the open-bracket stack, the pairs and nodes of a text of nothing else) grow with a hostile
// text. The heap block it leaves for the mapping has its pages given back rather than kept as
// free space. (Mapping from 256 KiB instead cost a book 9 % of its parse in fresh pages.)
class GrowBlock : public OwnedBlock {
 public:
  // Grows to at least `bytes`, keeping the first `used` bytes. Failure to allocate is fatal.
  void grow(std::size_t bytes, std::size_t used);
  // The same for a caller that reports the failure itself: false, with the block as it was.
  bool try_grow(std::size_t bytes, std::size_t used);
  // Asks for huge pages over the whole of a mapped block of at least `at_least` bytes (nothing for
  // a heap block). Advice over a part of it would split the mapping, and a split mapping cannot
  // be moved whole when it grows.
  void advise_huge_pages(std::size_t at_least = kHugeAdviceMin);
  // Gives back what lies beyond the first `bytes` of a mapped block (nothing of a heap block).
  void shrink(std::size_t bytes);
};

// An array of trivially copyable records in a GrowBlock; capacity doubles.
template <class T>
class GrowArray {
  static_assert(std::is_trivially_copyable_v<T>);

 public:
  GrowArray() = default;
  GrowArray(GrowArray&& o) noexcept { swap(o); }
  GrowArray& operator=(GrowArray&& o) noexcept {
    swap(o);
    return *this;
  }
  GrowArray(std::initializer_list<T> items) { append(items.begin(), items.size()); }
  GrowArray(const GrowArray& o) { append(o.data_, o.size_); }
  GrowArray& operator=(const GrowArray& o) {
    if (this != &o) {
      clear();
      append(o.data_, o.size_);
    }
    return *this;
  }

  std::size_t size() const { return size_; }
  bool empty() const { return size_ == 0; }
  T* data() { return data_; }
  const T* data() const { return data_; }
  T& operator[](std::size_t i) { return data_[i]; }
  const T& operator[](std::size_t i) const { return data_[i]; }
  T* begin() { return data_; }
  T* end() { return data_ + size_; }
  const T* begin() const { return data_; }
  const T* end() const { return data_ + size_; }
  std::size_t capacity() const { return cap_; }
  T& back() { return data_[size_ - 1]; }
  const T& back() const { return data_[size_ - 1]; }
  void push_back(const T& v) {
    if (size_ == cap_) grow();
    data_[size_++] = v;
  }
  void pop_back() { --size_; }
  // A large array emptied to a quarter gives half its storage back.
  void pop_back_and_trim() {
    --size_;
    if (size_ < cap_ / 4 && cap_ * sizeof(T) >= (std::size_t{4} << 20)) {
      block_.shrink(cap_ / 2 * sizeof(T));
      take_storage();
    }
  }
  void append(const T* p, std::size_t n) {
    if (n == 0) return;
    if (size_ + n > cap_) reserve(size_ + n > 2 * cap_ ? size_ + n : 2 * cap_);
    std::memcpy(static_cast<void*>(data_ + size_), p, n * sizeof(T));
    size_ += n;
  }
  void reserve(std::size_t n) {
    if (n <= cap_) return;
    block_.grow(n * sizeof(T), size_ * sizeof(T));
    take_storage();
  }
  // Keeps the storage for the next use.
  void clear() { size_ = 0; }

 private:
  void swap(GrowArray& o) noexcept {
    std::swap(block_, o.block_);
    std::swap(data_, o.data_);
    std::swap(size_, o.size_);
    std::swap(cap_, o.cap_);
  }
  void grow() { reserve(cap_ < 16 ? 16 : cap_ * 2); }
  // The block's storage, kept at hand for the inline paths.
  void take_storage() {
    data_ = static_cast<T*>(block_.data());
    cap_ = block_.bytes() / sizeof(T);
  }
  GrowBlock block_;
  T* data_ = nullptr;
  std::size_t size_ = 0;
  std::size_t cap_ = 0;
};

}  // namespace yomika
