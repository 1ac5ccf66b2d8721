// Byte searches shared by every stage: one, two or three byte values, found a block at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "yomika/alloc/arena.hpp"

namespace yomika::scan {

// Offset of the first byte == a in [from, n), or n.
inline std::size_t find_byte(const char* p, std::size_t n, std::size_t from, char a) {
  if (from >= n) return n;
  const void* hit = std::memchr(p + from, a, n - from);
  return hit ? static_cast<std::size_t>(static_cast<const char*>(hit) - p) : n;
}

// Offset of the first byte equal to a or b in [from, n), or n.
std::size_t find_byte2(const char* p, std::size_t n, std::size_t from, char a, char b);

// Offset of the first byte equal to a, b or c in [from, n), or n.
std::size_t find_byte3(const char* p, std::size_t n, std::size_t from, char a, char b, char c);

// Offset of the first occurrence of the three-byte sequence a b c starting in [from, n), or n.
// Made for one UTF-8 character, such as the lead and continuation bytes of "〔".
std::size_t find_seq3(const char* p, std::size_t n, std::size_t from, char a, char b, char c);

// Offset of the first byte in [from, n) equal to one of set[0, count), or n. count is 1 to 8.
// For scanners that stop at any of several bytes (line feeds, sentinels and the characters that
// need escaping): one pass over the bytes instead of one per byte value.
std::size_t find_any(const char* p, std::size_t n, std::size_t from, const char* set, std::size_t count);

// The same set as bit masks, for walks that stop often: bit j of masks[k] is set when the byte at
// from + 64k + j is one of set[0, count) (count 1 to 8), for `blocks` 64-byte blocks. Positions
// at or past n are never set.
void any_masks(const char* p, std::size_t n, std::size_t from, const char* set, std::size_t count,
               std::size_t blocks, uint64_t* masks);

// Appends to `out` the offset of every byte == a in text, ascending. text.size() must fit
// 32 bits. One pass of 64-byte blocks; the cost does not depend on how dense the hits are.
void collect_byte(std::string_view text, char a, Arena& arena, ArenaVec<uint32_t>& out);

}  // namespace yomika::scan
