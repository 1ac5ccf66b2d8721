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
  bool has_last_ = false;
  std::string_view last_;
  // The table answer given before last_, when it was a short string: a constructor re-interning
  // the two strings a classifier has just interned finds both without probing the table.
  std::string_view prev_short_;
};

}  // namespace yomika
