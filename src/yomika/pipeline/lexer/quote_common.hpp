// What the quoted-target resolver's tables share: the position that means none, and the last step
// of their hashes.
#pragma once

#include <cstdint>

namespace yomika::classify::quote {

// No position: a target that does not occur, an empty slot, a minimum over nothing.
inline constexpr uint32_t kEmpty = 0xFFFFFFFFu;

// Spreads every bit of h over the whole word, so that a table may take any bits of the result.
inline uint64_t mix(uint64_t h) {
  h ^= h >> 33;
  h *= 0xFF51AFD7ED558CCDull;
  h ^= h >> 33;
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 33);
}

}  // namespace yomika::classify::quote
