// The quoted-target resolver's last resort: a suffix array of the text's characters and a
// range-minimum structure over it, which give the first occurrence of any target in O(m log n).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace yomika::classify::quote {

// The index: the suffix array of the source's characters, holding byte offsets, and a
// range-minimum structure over it (block minima of 64 entries and a sparse table over the blocks).
//
// A target that begins a character can only occur at a character boundary of valid UTF-8, so only
// those suffixes are indexed: a third of the bytes for Japanese text, and three times less work.
// The characters are sorted by code point, which is also the order of their UTF-8 bytes, so the
// array is in byte order and a target is looked up by comparing bytes.
struct SuffixIndex {
  static constexpr uint32_t kBlock = 64;
  std::string_view text;
  std::vector<uint32_t> sa;
  std::vector<std::vector<uint32_t>> levels;  // levels[k][b] = min of blocks [b, b + 2^k)

  explicit SuffixIndex(std::string_view t);

  // Start of the first occurrence of t, or kEmpty.
  uint32_t first_occurrence(std::string_view t) const;

 private:
  // The least entry of sa[lo, hi).
  uint32_t min_entry(uint32_t lo, uint32_t hi) const;
};

}  // namespace yomika::classify::quote
