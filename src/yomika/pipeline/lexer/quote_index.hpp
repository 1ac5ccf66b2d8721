// The quoted-target resolver's last resort: a suffix array of the text's characters and a
// range-minimum structure over it, which give the first occurrence of any target in O(m log n).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace yomika::classify::quote {

// The index: the suffix array of the source's characters, and a range-minimum structure over it
// (minima of blocks of 64 entries, and a sparse table over minima of 64 blocks).
//
// A target that begins a character can only occur at a character boundary of valid UTF-8, so
// where characters are several bytes long only those suffixes are indexed: a third of the bytes
// for Japanese text, and three times less work. The characters are sorted by code point, which
// is also the order of their UTF-8 bytes, so the array is in byte order and a target is looked up
// by comparing bytes. The array then holds character numbers, in the order of their byte
// offsets, and a table of where every 64th character starts with a bit per byte for the starts
// between them gives a character's offset. A text of mostly one-byte characters is indexed by
// its bytes instead (every byte offset, the bytes themselves the symbols): a target that begins
// a character matches only where a character begins, so the answers are the same, and the index
// is smaller than one of its characters would be.
//
// PERF NOTES. Memory, not time, bounds this structure: the resolver must always be able to
// afford it, within a limit proportional to the text. The sort (SA-IS) keeps its work in the array
// itself (the sorted LMS substrings, their names and the reduced text all live in the array), the
// types of the suffixes are bits and the characters' ranks take two bytes where they fit, so
// the build needs about 6.5 bytes per character besides a bit per byte of text (4.2 bytes per
// byte when the bytes are indexed), and the finished index 4.2 bytes per character. The first
// version kept offsets, ranks, LMS ranks, names and the sorted LMS suffixes in arrays of their
// own, some 30 bytes per character: 13 times a Japanese text of hostile notes, and 57 times one
// of ASCII.
struct SuffixIndex {
  static constexpr uint32_t kBlock = 64;
  std::string_view text;
  bool by_bytes = false;                      // every byte offset is indexed
  std::vector<uint32_t> sa;                   // character numbers (byte offsets), in suffix order
  std::vector<uint64_t> starts;               // bit i: a character starts at byte i
  std::vector<uint32_t> every64;              // byte offset of character 64k
  std::vector<uint32_t> block_min;            // block_min[b] = min of entries [64b, 64b + 64)
  std::vector<std::vector<uint32_t>> levels;  // levels[k][s] = min of superblocks [s, s + 2^k) of 64 blocks

  enum class Unit : uint8_t { Cheaper, Characters, Bytes };

  // The index of t, which holds `chars` characters of which `distinct` different ones, none of
  // four bytes unless `astral`: by characters or by bytes, whichever takes less memory to build
  // (tests may ask for either).
  SuffixIndex(std::string_view t, std::size_t chars, std::size_t distinct, bool astral, Unit unit = Unit::Cheaper);

  // Bytes the index takes at its peak while it is built, as the constructor would build it.
  static uint64_t build_bytes(std::size_t bytes, std::size_t chars, std::size_t distinct, bool astral);

  // Bytes the finished index keeps.
  uint64_t bytes() const;

  // Start of the first occurrence of t, or kEmpty.
  uint32_t first_occurrence(std::string_view t) const;

  // Byte offset of character c.
  uint32_t offset(uint32_t c) const;

 private:
  void index_characters(std::size_t chars_hint);
  // The least entry of sa[lo, hi).
  uint32_t min_entry(uint32_t lo, uint32_t hi) const;
};

// The suffix array of s[0, n), symbols in [0, k), into sa (n entries), as if a symbol smaller than
// every other followed s[n - 1]. Exposed for tests.
void suffix_array(const uint32_t* s, uint32_t n, uint32_t k, uint32_t* sa);

}  // namespace yomika::classify::quote
