// Assembly: walks the paired events, classifies bracket bodies and writes the normalized text,
// the sentinel registry and the source-node table.
#pragma once

#include <string_view>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"

namespace yomika {

// Fills everything of `out` but `sanitized` (set by the driver) and moves `diagnostics` into it.
void assemble(std::string_view sanitized, const Paired& paired, Arena& arena, std::vector<Diagnostic>&& diagnostics,
              ParseResult& out);

}  // namespace yomika
