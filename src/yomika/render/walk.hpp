// The sentinel walk that the HTML renderer and the notation serializer share: finding the bytes
// they stop at, and fetching the registry entry of each sentinel they meet (model/sentinel.hpp
// tells its kind) with the kind check.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "yomika/alloc/fatal.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/veb/eytzinger.hpp"

namespace yomika::render {

// A reference for tests and benchmarks: the sentinel's entry by a registry search (Absent if none of `kind`).
inline RegistryEntry matched_entry(const SentinelRegistry& registry, std::size_t h, EntryKind kind) {
  if (h > UINT32_MAX) fatal("normalized fits u32 per Phase 0 cap");
  RegistryEntry e = find_entry(registry, static_cast<uint32_t>(h));
  if (e.kind != kind) return RegistryEntry{};
  return e;
}

// The same answers as matched_entry for positions asked in ascending order, which is how a walk
// meets its sentinels: a cursor steps through the keys in order (in-order successor in the
// Eytzinger layout, constant time amortized) instead of searching the tree for each one.
//
// PERF: a search is a chain of dependent loads down the tree, the lower levels missing the cache
// on a text with tens of thousands of constructs; the cursor reads keys and entries nearly in
// sequence.
//
// The entries are read from `in_order` when given (the source-node table of the same parse holds
// the same entries in ascending position order, so the k-th key in order is record k): a read in
// sequence rather than one scattered across the tree's levels.
class RegistryCursor {
 public:
  explicit RegistryCursor(const SentinelRegistry& r, const SourceNode* in_order = nullptr, std::size_t count = 0)
      : r_(r), n_(r.keys.size()), in_order_(count == r.keys.size() ? in_order : nullptr) {
    i_ = leftmost(0);
  }

  // Over a parse result's keys in ascending order when it has them (positions, one per record of
  // its node table, as a parse leaves them): the k-th key is then read in sequence, and the
  // registry is not used.
  explicit RegistryCursor(const ParseResult& r) : RegistryCursor(r.registry, r.nodes, r.node_count) {
    if (r.positions != nullptr) {
      n_ = r.node_count;
      in_order_ = r.nodes;
      positions_ = r.positions;
    }
  }

  // h must not be below the position of the previous call.
  RegistryEntry matched(std::size_t h, EntryKind kind) {
    if (h > UINT32_MAX) fatal("normalized fits u32 per Phase 0 cap");
    if (positions_ != nullptr) {
      while (k_ < n_ && positions_[k_] < h) ++k_;
      if (k_ >= n_ || positions_[k_] != h) return RegistryEntry{};
      const RegistryEntry& e = in_order_[k_].entry;
      return e.kind == kind ? e : RegistryEntry{};
    }
    while (i_ < n_ && r_.keys[i_] < h) {
      i_ = next(i_);
      ++k_;
    }
    if (i_ >= n_ || r_.keys[i_] != h) return RegistryEntry{};
    const RegistryEntry& e = in_order_ ? in_order_[k_].entry : r_.values[i_];
    return e.kind == kind ? e : RegistryEntry{};
  }

  // Rank among the keys of the last position matched: its record in the source-node table.
  std::size_t rank() const { return k_; }

 private:
  std::size_t leftmost(std::size_t i) const {
    if (i >= n_) return n_;
    while (2 * i + 1 < n_) i = 2 * i + 1;
    return i;
  }
  // The slot of the next larger key, or n_.
  std::size_t next(std::size_t i) const {
    if (2 * i + 2 < n_) return leftmost(2 * i + 2);
    while (i > 0 && i % 2 == 0) i = (i - 1) / 2;  // up while a right child
    return i == 0 ? n_ : (i - 1) / 2;
  }

  const SentinelRegistry& r_;
  std::size_t n_;
  const SourceNode* in_order_;
  const uint32_t* positions_ = nullptr;
  std::size_t i_;
  std::size_t k_ = 0;  // rank of slot i_ among the keys
};

// The stops of a walk of the normalized text in ascending order, from bit masks of 64-byte blocks
// made a chunk at a time.
//
// PERF: one pass finds every byte that matters, so the text is read once, and the next stop is
// a count of trailing zeros. Separate searches for line feeds and sentinels and for each
// character to escape read the text four times; one search per stop still cost a call and a
// set-up per line and per construct.
class Stops {
 public:
  // Stops at each of the `count` bytes of `set` (at most eight).
  Stops(std::string_view text, const char* set, std::size_t count)
      : p_(text.data()), n_(text.size()), set_(set), count_(count) {}

  // The first stop at or after from, or n.
  std::size_t next(std::size_t from) {
    if (from >= n_) return n_;
    std::size_t block = from / 64;
    std::size_t i = block - first_;  // wraps around below the chunk: one comparison for both sides
    uint64_t m;
    if (i >= loaded_) i = load(block);
    m = masks_[i] & (~uint64_t{0} << (from % 64));
    while (m == 0) {
      if (++block * 64 >= n_) return n_;
      if (++i >= loaded_) i = load(block);
      m = masks_[i];
    }
    return block * 64 + static_cast<std::size_t>(__builtin_ctzll(m));
  }

 private:
  static constexpr std::size_t kChunk = 64;
  // Loads the chunk that starts at `block` and returns its first index, 0.
  std::size_t load(std::size_t block) {
    first_ = block;
    const std::size_t left = (n_ - block * 64 + 63) / 64;
    loaded_ = left < kChunk ? left : kChunk;
    scan::any_masks(p_, n_, block * 64, set_, count_, loaded_, masks_);
    return 0;
  }
  const char* p_;
  std::size_t n_;
  const char* set_;
  std::size_t count_;
  std::size_t first_ = 0;   // the first block of the chunk loaded
  std::size_t loaded_ = 0;  // its blocks; none at first
  uint64_t masks_[kChunk];
};

}  // namespace yomika::render
