// The per-document string interner: every string of a node is stored once, in the arena.
#pragma once

#include <cstdint>
#include <string_view>

#include "yomika/alloc/arena.hpp"

namespace yomika {

uint64_t fx_hash(std::string_view bytes);

class Interner {
 public:
  // A table slot: an interned string (at most 64 bytes) and the high 32 bits of its hash; empty
  // when data is null.
  struct Slot {
    const char* data;
    uint32_t size;
    uint32_t hash;
    std::string_view view() const { return {data, size}; }
  };

  // Slot table of the smallest power of two >= max(64, source_len / 32), in the arena's scratch,
  // zeroed.
  Interner(Arena& arena, std::size_t source_len);

  std::string_view intern(std::string_view bytes);

  // Gives the slot table back to the arena (its scratch: see Arena::scratch). The interned
  // strings stay; nothing may be interned after this.
  void release();

  std::size_t capacity() const { return capacity_; }
  std::size_t count() const { return count_; }
  Arena& arena() { return *arena_; }

 private:
  void grow();
  Arena* arena_;
  Slot* slots_;
  std::size_t capacity_;
  std::size_t count_ = 0;
  // The last answer (none while last_data_ is null), and the table answer given before it when
  // that was a short string (none while prev_data_ is null): a constructor re-interning the two
  // strings a classifier has just interned finds both without probing the table.
  //
  // PERF: kept as separate pointers and lengths, so that each is stored and loaded whole. As two
  // views, one was copied to the other with a 16-byte load over the two 8-byte stores that had
  // just written it, which stalls until the stores are done: a sixth of the interner's time.
  const char* last_data_ = nullptr;
  const char* prev_data_ = nullptr;
  uint32_t last_size_ = 0;
  uint32_t prev_size_ = 0;
};

}  // namespace yomika
