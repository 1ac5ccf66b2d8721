// Gaiji references ※［＃…］: which rule names the character, and the resolution itself.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "yomika/syntax/node.hpp"

namespace yomika::classify {

// The rule that settled a resolution, in the order the rules are tried.
enum class GaijiRule : uint8_t {
  MentionPair = 0,  // mention names a cell of two code points
  Mention = 1,      // mention names a cell of one code point
  CodePoint = 2,    // mention is U+ and a Unicode scalar value
  Description = 3,  // description is in the description table
  BareCell = 4,     // mention is a bare plane-row-cell (1-12-21) of a level-3 or level-4 cell
  CodePointFirst = 5,  // mention begins with U+ and a code point, then 、 (U+5A2C、28-13)
  SingleChar = 6,   // description is itself one character
  Unresolved = 7,
};

struct GaijiOutcome {
  GaijiResolution resolution;
  GaijiRule rule;
};

// First success wins: mention tables, the U+ code point, the description table, a bare
// plane-row-cell read as the cell it abbreviates, a code point that leads a longer mention, a
// one-character description; otherwise Unresolved. A mention that resolves nothing does not stop
// the rest.
GaijiOutcome resolve_gaiji_with_rule(std::optional<std::string_view> mention, std::string_view description);

inline GaijiResolution resolve_gaiji(std::optional<std::string_view> mention, std::string_view description) {
  return resolve_gaiji_with_rule(mention, description).resolution;
}

}  // namespace yomika::classify
