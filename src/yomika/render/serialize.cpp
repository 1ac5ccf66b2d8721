// STUB: replaced by the notation serializer.
#include "yomika/render/serialize.hpp"

namespace yomika::render {
std::string serialize(const ParseResult& r) { return std::string(r.normalized); }
}  // namespace yomika::render
