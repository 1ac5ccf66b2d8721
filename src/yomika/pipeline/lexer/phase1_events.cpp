// STUB: replaced by Phase 1.
#include "yomika/pipeline/lexer/phase1_events.hpp"

namespace yomika::lex {
bool build_tokens(std::string_view text, Arena&, ArenaVec<Token>&, std::string& refusal) {
  if (text.size() > UINT32_MAX) {
    refusal = "source too long for u32 span offsets (" + std::to_string(text.size()) + " bytes)";
    return false;
  }
  return true;
}
}  // namespace yomika::lex
