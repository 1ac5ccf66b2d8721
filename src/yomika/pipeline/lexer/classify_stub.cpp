// STUB: replaced by the classifiers (annotation, inline, gaiji).
#include "yomika/pipeline/lexer/phase3_classify.hpp"

namespace yomika::classify {
struct QuoteResolver::Impl {};
QuoteResolver::QuoteResolver(std::string_view) {}
QuoteResolver::~QuoteResolver() = default;
bool QuoteResolver::occurs_before(std::string_view, uint32_t) { return false; }
Classification classify_annotation(Context&, const Body&, uint32_t, uint32_t) { return {}; }
Hit classify_ruby(Context&, const Body&, uint32_t) { return {}; }
Hit classify_double_ruby(Context&, const Body&, uint32_t) { return {}; }
Content build_content(Context&, const Body&, uint32_t, uint32_t, uint32_t, uint32_t) { return {}; }
}  // namespace yomika::classify
