// Accent decomposition: ASCII letter-and-mark pairs inside 〔…〕 become accented letters.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace yomika::syntax {

// A reference for tests and benchmarks: the accent edits applied on their own (Phase 0 applies them as it copies).
std::string decompose_accents(std::string_view text);

// The rewrites of decompose_accents, for a caller that applies them while copying the text once:
// for every 〔…〕 content holding a mark character, its byte range [start, end) of text, and the
// bytes that replace it, appended to `rewritten` at [out_start, out_start + out_len). Ascending.
// No edits: decompose_accents would return the text unchanged.
struct AccentEdit {
  std::size_t start, end;
  std::size_t out_start, out_len;
};
void accent_edits(std::string_view text, std::vector<AccentEdit>& edits, std::string& rewritten);

}  // namespace yomika::syntax
