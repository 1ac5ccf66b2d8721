// The quoted-target resolver's memo: what is known of each target asked about, so that a target
// asked again before other notes costs no new search.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>
#include <vector>

#include "yomika/pipeline/lexer/quote_common.hpp"

namespace yomika::classify::quote {

// What is known of each target asked about, by its bytes: open addressing over views of the
// targets (the caller keeps them alive), at most half full.
class Memo {
 public:
  // What is known of one target: no occurrence ends at or before `clear_until`, and the first
  // occurrence ends at or before `first_end` (kEmpty: none found yet). Once an occurrence has
  // been found by a search from clear_until, the two meet and the answer is settled for every
  // bracket.
  struct Known {
    uint32_t clear_until = 0;
    uint32_t first_end = kEmpty;
  };

  // What is known of `key`, a new entry when there is none. Null when the key has no entry and
  // the memo, to take it, would grow past `limit` bytes (counting the old and the new table
  // while it doubles): the caller then searches without keeping what it finds.
  Known* find_or_add(std::string_view key, uint64_t limit) {
    const uint64_t h = hash(key);
    if (2 * (count_ + 1) > entries_.size()) {
      if (!entries_.empty()) {
        Entry* e = find(key, h);
        if (e->key.data() != nullptr) return &e->known;
      }
      if (grown_bytes() > limit) return nullptr;
      grow();
    }
    Entry* e = find(key, h);
    if (e->key.data() == nullptr) {
      e->key = key.data() ? key : std::string_view("", 0);
      e->hash = h;
      ++count_;
    }
    return &e->known;
  }

  // Bytes of the table.
  uint64_t bytes() const { return entries_.size() * sizeof(Entry); }
  // Bytes while the table doubles: the old and the new one.
  uint64_t grown_bytes() const { return (entries_.empty() ? 64 : 3 * entries_.size()) * sizeof(Entry); }

 private:
  struct Entry {
    std::string_view key;  // no data: an empty entry
    uint64_t hash = 0;
    Known known;
  };

  static uint64_t hash(std::string_view key) {
    uint64_t h = key.size() * 0x9E3779B97F4A7C15ull;
    std::size_t i = 0;
    for (; i + 8 <= key.size(); i += 8) {
      uint64_t w;
      std::memcpy(&w, key.data() + i, 8);
      h = (h ^ w) * 0xFF51AFD7ED558CCDull;
      h ^= h >> 32;
    }
    if (i < key.size()) {
      uint64_t w = 0;
      std::memcpy(&w, key.data() + i, key.size() - i);
      h = (h ^ w) * 0xC4CEB9FE1A85EC53ull;
    }
    // The table takes the low bits, which the products above fill from low input bits only.
    return mix(h);
  }

  // The entry of key, or the empty one where it would go.
  Entry* find(std::string_view key, uint64_t h) {
    const std::size_t mask = entries_.size() - 1;
    for (std::size_t i = h & mask;; i = (i + 1) & mask) {
      Entry& e = entries_[i];
      if (e.key.data() == nullptr) return &e;
      if (e.hash == h && e.key == key) return &e;
    }
  }

  void grow() {
    std::vector<Entry> old(entries_.empty() ? 64 : 2 * entries_.size());
    old.swap(entries_);
    const std::size_t mask = entries_.size() - 1;
    for (const Entry& e : old) {
      if (e.key.data() == nullptr) continue;
      std::size_t i = e.hash & mask;
      while (entries_[i].key.data() != nullptr) i = (i + 1) & mask;
      entries_[i] = e;
    }
  }

  std::vector<Entry> entries_;
  std::size_t count_ = 0;
};

}  // namespace yomika::classify::quote
