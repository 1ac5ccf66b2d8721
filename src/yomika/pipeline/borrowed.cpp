// STUB: replaced by assembly.
#include "yomika/pipeline/borrowed.hpp"

namespace yomika {
void assemble(std::string_view sanitized, const Paired&, Arena&, std::vector<Diagnostic>&& diagnostics,
              ParseResult& out) {
  out.normalized = sanitized;
  out.diagnostics = std::move(diagnostics);
}
}  // namespace yomika
