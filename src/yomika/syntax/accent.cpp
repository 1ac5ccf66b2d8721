// STUB: replaced by the accent decomposition.
#include "yomika/syntax/accent.hpp"

namespace yomika::syntax {
std::string decompose_accents(std::string_view text) { return std::string(text); }
}  // namespace yomika::syntax
