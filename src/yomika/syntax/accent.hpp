// Accent decomposition: ASCII letter-and-mark pairs inside 〔…〕 become accented letters.
#pragma once

#include <string>
#include <string_view>

namespace yomika::syntax {

// Rewrites every 〔…〕 content holding mark characters. Called only when text holds "〔".
std::string decompose_accents(std::string_view text);

}  // namespace yomika::syntax
