// The per-document string interner (open addressing, FxHash, a one-entry cache).
//
// PERF NOTES. A slot keeps its string's hash (its high 32 bits) in the room a view's 64-bit
// length would take, so slots stay 16 bytes. Growing then re-inserts without hashing the
// strings again, and a probe compares bytes only where the hashes agree: at up to 7/8 load the
// probe runs are long, and strings of one length (thirty-odd bytes for the notes of a
// note-dense text) would otherwise be compared byte by byte all along them. On 1 MB of distinct
// notes, rehashing at the table's growths took more than the interning itself.
#include "yomika/syntax/intern.hpp"

#include <cstring>
#include <type_traits>

#include "yomika/alloc/pages.hpp"

namespace yomika {

namespace {
constexpr std::size_t kTableRelease = std::size_t{1} << 20;  // tables worth giving back when they grow

std::size_t initial_capacity(std::size_t source_len) {
  std::size_t want = source_len / 32;
  if (want < 64) want = 64;
  std::size_t cap = 64;
  while (cap < want) cap <<= 1;
  return cap;
}

// Node strings are short (a reading, a base word): compared inline, without a library call, and
// a view compared with itself (re-interning an interned string) is equal without reading it.
inline bool same(std::string_view a, std::string_view b) {
  const std::size_t n = a.size();
  if (n != b.size()) return false;
  if (a.data() == b.data() || n == 0) return true;
  if (n > 16) return std::memcmp(a.data(), b.data(), n) == 0;
  if (n >= 8) {
    uint64_t x0, x1, y0, y1;
    std::memcpy(&x0, a.data(), 8);
    std::memcpy(&y0, b.data(), 8);
    std::memcpy(&x1, a.data() + n - 8, 8);
    std::memcpy(&y1, b.data() + n - 8, 8);
    return ((x0 ^ y0) | (x1 ^ y1)) == 0;
  }
  for (std::size_t i = 0; i < n; ++i)
    if (a[i] != b[i]) return false;
  return true;
}
// An empty slot has no data pointer; every byte of one is zero, so the table is cleared as bytes
// (one slot per 32 source bytes: a memset rather than a loop of stores).
static_assert(std::is_trivially_copyable_v<Interner::Slot>);
void clear_slots(Interner::Slot* slots, std::size_t n) {
  std::memset(static_cast<void*>(slots), 0, n * sizeof(Interner::Slot));
}
}  // namespace

// The slot table lives in the arena's scratch, from the top of its block down: it dies with
// assembly, and the records, the nodes and the pairs allocated after it take its room then. As a
// bump allocation it stayed in the arena to the end of the parse (a third of a megabyte per MB
// of source), which is what made a parse outgrow the arena's first block.
Interner::Interner(Arena& arena, std::size_t source_len) : arena_(&arena), capacity_(initial_capacity(source_len)) {}

Interner::Interner(Arena& arena, std::string_view source) : Interner(arena, source.size()) {
  if (source.data() == nullptr) return;
  source_begin_ = reinterpret_cast<std::uintptr_t>(source.data());
  source_size_ = source.size();
}

void Interner::grow() {
  if (slots_ == nullptr) {
    slots_ = static_cast<Slot*>(arena_->scratch(capacity_ * sizeof(Slot), alignof(Slot)));
    clear_slots(slots_, capacity_);
    limit_ = capacity_ / 8 * 7;
    return;
  }
  std::size_t cap = capacity_ * 2;
  Slot* fresh = static_cast<Slot*>(arena_->scratch(cap * sizeof(Slot), alignof(Slot)));
  clear_slots(fresh, cap);
  std::size_t mask = cap - 1;
  for (std::size_t i = 0; i < capacity_; ++i) {
    if (slots_[i].data == nullptr) continue;
    std::size_t j = slots_[i].hash & mask;
    while (fresh[j].data != nullptr) j = (j + 1) & mask;
    fresh[j] = slots_[i];
  }
  // The old table stays in the scratch until release; its pages go back to the system now.
  release_pages(slots_, capacity_ * sizeof(Slot), kTableRelease);
  slots_ = fresh;
  capacity_ = cap;
  limit_ = capacity_ / 8 * 7;
}

std::string_view Interner::intern_elsewhere(std::string_view bytes) {
  if (last_data_ != nullptr && same(std::string_view(last_data_, last_size_), bytes))
    return std::string_view(last_data_, last_size_);
  if (bytes.size() > 64) {
    const std::string_view copy = arena_->copy(bytes);
    last_data_ = copy.data();
    last_size_ = static_cast<uint32_t>(copy.size());
    return copy;
  }
  if (count_ >= limit_) grow();
  std::size_t mask = capacity_ - 1;
  // The high 32 bits: enough for the slot index of any table a 4 GiB source can need, and the
  // half every input bit reaches (a product's low bits depend only on its factors' low bits).
  const auto h = static_cast<uint32_t>(fx_hash(bytes) >> 32);
  std::size_t i = h & mask;
  for (;;) {
    Slot& slot = slots_[i];
    if (slot.data == nullptr) {
      const std::string_view copy = arena_->copy(bytes);
      slot = Slot{copy.data(), static_cast<uint32_t>(copy.size()), h};
      ++count_;
      last_data_ = copy.data();
      last_size_ = static_cast<uint32_t>(copy.size());
      return copy;
    }
    if (slot.hash == h && same(slot.view(), bytes)) {
      last_data_ = slot.data;
      last_size_ = slot.size;
      return slot.view();
    }
    i = (i + 1) & mask;
  }
}

void Interner::release() { arena_->drop_scratch(); }

}  // namespace yomika
