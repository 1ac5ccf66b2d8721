// The per-document string interner: every string of a node is stored once, in the arena.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "yomika/alloc/arena.hpp"

namespace yomika {

// FxHash over whole words: eight bytes a step, then four, two and one for the rest.
//
// PERF: node strings are readings and bases of two to six characters (six to eighteen bytes); a
// step per byte made the hash a chain of a dozen dependent multiplications per string, a tenth of
// the interner's time. Inline, so that the interner's probe follows it without a call.
inline uint64_t fx_hash(std::string_view bytes) {
  constexpr uint64_t kSeed = 0x517CC1B727220A95ull;
  auto step = [](uint64_t h, uint64_t w) { return (((h << 5) | (h >> 59)) ^ w) * kSeed; };
  const char* p = bytes.data();
  std::size_t n = bytes.size();
  uint64_t h = 0;
  for (; n >= 8; p += 8, n -= 8) {
    uint64_t w;
    std::memcpy(&w, p, 8);
    h = step(h, w);
  }
  if (n >= 4) {
    uint32_t w;
    std::memcpy(&w, p, 4);
    h = step(h, w);
    p += 4;
    n -= 4;
  }
  if (n >= 2) {
    uint16_t w;
    std::memcpy(&w, p, 2);
    h = step(h, w);
    p += 2;
    n -= 2;
  }
  if (n) h = step(h, static_cast<unsigned char>(*p));
  return h;
}

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
  // zeroed, taken at the first request that reaches it: a text without constructs needs none.
  Interner(Arena& arena, std::size_t source_len);
  // The same for the document whose (sanitized) text is `source`, in the same arena: a string
  // that is part of that text is answered with itself, as stored already.
  Interner(Arena& arena, std::string_view source);

  // PERF: nearly every string of a node (a base, a reading, a note) is a piece of the document's
  // text, which lives in the arena as long as the nodes do: such a string needs neither a copy
  // nor a table, and only strings made up elsewhere (joined targets, canonical note texts) reach
  // the table. Hashing and probing the table for every base and reading was a sixth of a parse.
  std::string_view intern(std::string_view bytes) {
    const auto off = reinterpret_cast<std::uintptr_t>(bytes.data()) - source_begin_;
    if (off <= source_size_ && bytes.size() <= source_size_ - off) return bytes;
    return intern_elsewhere(bytes);
  }

  // Gives the slot table back to the arena (its scratch: see Arena::scratch). The interned
  // strings stay; nothing may be interned after this.
  void release();

  std::size_t capacity() const { return capacity_; }
  std::size_t count() const { return count_; }
  Arena& arena() { return *arena_; }

 private:
  std::string_view intern_elsewhere(std::string_view bytes);
  void grow();
  Arena* arena_;
  // The document's text, by address; without one no address is inside it.
  std::uintptr_t source_begin_ = UINTPTR_MAX;
  std::size_t source_size_ = 0;
  Slot* slots_ = nullptr;
  std::size_t capacity_;
  std::size_t count_ = 0;
  std::size_t limit_ = 0;  // the count at which the table grows (7/8 full), 0 before it exists
  // The last answer (none while last_data_ is null): the same string asked again is found
  // without the table.
  const char* last_data_ = nullptr;
  uint32_t last_size_ = 0;
};

}  // namespace yomika
