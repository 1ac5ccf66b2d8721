// The per-document string interner (open addressing, FxHash, a one-entry cache).
#include "yomika/syntax/intern.hpp"

#include <cstring>

namespace yomika {

uint64_t fx_hash(std::string_view bytes) {
  uint64_t h = 0;
  for (unsigned char b : bytes) h = (((h << 5) | (h >> 59)) ^ b) * 0x517CC1B727220A95ull;
  return h;
}

namespace {
std::size_t initial_capacity(std::size_t source_len) {
  std::size_t want = source_len / 32;
  if (want < 64) want = 64;
  std::size_t cap = 64;
  while (cap < want) cap <<= 1;
  return cap;
}

bool same(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (a.empty() || std::memcmp(a.data(), b.data(), a.size()) == 0);
}
}  // namespace

Interner::Interner(Arena& arena, std::size_t source_len) : arena_(&arena) {
  capacity_ = initial_capacity(source_len);
  slots_ = arena.alloc_array<std::string_view>(capacity_);
  for (std::size_t i = 0; i < capacity_; ++i) slots_[i] = std::string_view();
}

void Interner::grow() {
  std::size_t cap = capacity_ * 2;
  std::string_view* fresh = arena_->alloc_array<std::string_view>(cap);
  for (std::size_t i = 0; i < cap; ++i) fresh[i] = std::string_view();
  std::size_t mask = cap - 1;
  for (std::size_t i = 0; i < capacity_; ++i) {
    if (slots_[i].data() == nullptr) continue;
    std::size_t j = fx_hash(slots_[i]) & mask;
    while (fresh[j].data() != nullptr) j = (j + 1) & mask;
    fresh[j] = slots_[i];
  }
  // The old table stays in the arena unless it happens to be the most recent allocation, which
  // it never is here since the new table was allocated after it.
  slots_ = fresh;
  capacity_ = cap;
}

std::string_view Interner::intern(std::string_view bytes) {
  if (has_last_ && same(last_, bytes)) return last_;
  if (bytes.size() > 64) {
    last_ = arena_->copy(bytes);
    has_last_ = true;
    return last_;
  }
  if (count_ * 8 >= capacity_ * 7) grow();
  std::size_t mask = capacity_ - 1;
  std::size_t i = fx_hash(bytes) & mask;
  for (;;) {
    std::string_view& slot = slots_[i];
    if (slot.data() == nullptr) {
      slot = arena_->copy(bytes);
      ++count_;
      last_ = slot;
      has_last_ = true;
      return slot;
    }
    if (same(slot, bytes)) {
      last_ = slot;
      has_last_ = true;
      return slot;
    }
    i = (i + 1) & mask;
  }
}

void Interner::release() {
  arena_->give_back(slots_, capacity_ * sizeof(std::string_view));
}

}  // namespace yomika
