// The notation serializer: writes a parse result back as notation in one fixed form.
#pragma once

#include <string>

#include "yomika/pipeline/pipeline.hpp"

namespace yomika::render {

std::string serialize(const ParseResult& result);

}  // namespace yomika::render
