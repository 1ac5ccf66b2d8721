// The document's bump allocator and the growable arrays that live in it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <type_traits>
#include <vector>

#include "yomika/alloc/fatal.hpp"

namespace yomika {

// Bump allocator with document lifetime. Allocations are never freed one by one; only the most
// recent allocation can be grown in place or given back. reset() drops every allocation but
// keeps the first block, so a long-lived document that is parsed many times stays at one block.
class Arena {
 public:
  Arena() = default;
  ~Arena();
  Arena(const Arena&) = delete;
  Arena& operator=(const Arena&) = delete;

  // Reserves the first block. Returns false (and reserves nothing) when the memory cannot be
  // had, so that the caller can raise MemoryError instead of aborting.
  bool try_reserve(std::size_t bytes);

  // Allocation failure here is fatal.
  void* alloc(std::size_t size, std::size_t align = alignof(std::max_align_t));

  template <class T>
  T* alloc_array(std::size_t n) {
    static_assert(std::is_trivially_destructible_v<T>, "arena objects are never destroyed");
    if (n > SIZE_MAX / sizeof(T)) alloc_failed(SIZE_MAX);
    return static_cast<T*>(alloc(n * sizeof(T), alignof(T)));
  }

  // Copies bytes into the arena and returns a view of the copy.
  std::string_view copy(std::string_view bytes);

  // Grows the most recent allocation in place. False when p is not the most recent allocation or
  // the block has no room; the caller then allocates anew and copies.
  bool grow_last(void* p, std::size_t old_size, std::size_t new_size);

  // Gives back the most recent allocation; anything else is ignored.
  void give_back(void* p, std::size_t size);

  // Scratch memory for a table that dies before the arena's other allocations do (the interner's
  // slots die with assembly): taken from the top of the current block, below any scratch taken
  // already, so that the bump allocations below it keep their room, and given back all at once
  // by drop_scratch. Memory that does not fit there comes from alloc and stays until reset.
  void* scratch(std::size_t size, std::size_t align = alignof(std::max_align_t));

  // Gives back every scratch allocation still in the current block.
  void drop_scratch();

  // Drops every allocation, keeps the first block for reuse, frees the others.
  void reset();

  // Bytes held in blocks (capacity, not use).
  std::size_t capacity() const { return capacity_; }

 private:
  struct Block {
    Block* next;
    std::size_t size;  // usable bytes after the header
    std::size_t held;  // bytes allocated after the header (at least size: a reused block may be larger)
  };
  static constexpr std::size_t kHeader = 32;
  void new_block(std::size_t at_least);

  Block* first_ = nullptr;
  Block* current_ = nullptr;
  char* cur_ = nullptr;
  char* end_ = nullptr;
  char* last_ = nullptr;  // start of the most recent allocation
  std::size_t capacity_ = 0;
  Block* scratch_block_ = nullptr;  // the block whose top holds scratch, and its end without it
  char* scratch_end_ = nullptr;
  char* scratch_low_ = nullptr;  // the lowest scratch taken there
  // Scratch of blocks that the arena has left behind, given back to the system at drop_scratch.
  struct Range {
    char* begin;
    char* end;
  };
  std::vector<Range> left_scratch_;
};

// A growable array in an arena. Growth doubles and extends in place when it is the arena's most
// recent allocation; the old storage otherwise stays in the arena until the document goes.
template <class T>
struct ArenaVec {
  static_assert(std::is_trivially_copyable_v<T>);
  T* data = nullptr;
  std::size_t size = 0;
  std::size_t cap = 0;

  void reserve(Arena& arena, std::size_t n) {
    if (n <= cap) return;
    if (data && arena.grow_last(data, cap * sizeof(T), n * sizeof(T))) {
      cap = n;
      return;
    }
    T* fresh = arena.alloc_array<T>(n);
    if (size) std::memcpy(static_cast<void*>(fresh), data, size * sizeof(T));
    data = fresh;
    cap = n;
  }
  void push_back(Arena& arena, const T& v) {
    if (size == cap) reserve(arena, cap * 2 > size + 1 ? cap * 2 : (cap + 8));
    data[size++] = v;
  }
  void give_back(Arena& arena) {
    if (data) arena.give_back(data, cap * sizeof(T));
  }
  T& operator[](std::size_t i) { return data[i]; }
  const T& operator[](std::size_t i) const { return data[i]; }
  T* begin() { return data; }
  T* end() { return data + size; }
  const T* begin() const { return data; }
  const T* end() const { return data + size; }
  bool empty() const { return size == 0; }
};

}  // namespace yomika
