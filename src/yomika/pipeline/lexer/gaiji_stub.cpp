// STUB: replaced by the gaiji classifier.
#include "yomika/pipeline/lexer/phase3_classify.hpp"

namespace yomika::classify {
Hit classify_gaiji(Context&, const Body&, uint32_t) { return {}; }
}  // namespace yomika::classify
