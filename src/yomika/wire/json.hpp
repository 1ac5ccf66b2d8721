// The JSON wire format of nodes(), pairs() and diagnostics(): one envelope, compact, fixed key order.
#pragma once

#include <string>

#include "yomika/pipeline/pipeline.hpp"

namespace yomika::wire {

std::string serialize_nodes(const SourceNode* nodes, std::size_t count);
std::string serialize_pairs(const BracketPair* pairs, std::size_t count);
std::string serialize_diagnostics(const Diagnostics& diagnostics);

}  // namespace yomika::wire
