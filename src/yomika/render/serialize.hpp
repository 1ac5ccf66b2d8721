// The notation serializer: writes a parse result back as notation in one fixed form.
#pragma once

#include <string>

#include "yomika/pipeline/pipeline.hpp"

namespace yomika::render {

// `buffer` is storage to write into: its bytes are dropped, its capacity is used (a caller that
// keeps one buffer for many documents writes into memory whose pages are present).
std::string serialize(const ParseResult& result, std::string buffer = {});

}  // namespace yomika::render
