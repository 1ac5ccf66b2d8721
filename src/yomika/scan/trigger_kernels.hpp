// The trigger scanner's block kernels, one per instruction set, for tests and benchmarks.
#pragma once

#include <cstdint>
#include <string_view>

#include "yomika/alloc/arena.hpp"

namespace yomika::scan::kernels {

// True when the processor runs the 32-byte kernel.
bool has_avx2();

// Each appends the offset of every trigger in text to `out`, exactly as scan_triggers does.
// scan_avx2 may only be called when has_avx2() holds; where a kernel cannot be built for the
// target it falls back to the plain scanner.
void scan_sse2(std::string_view text, Arena& arena, ArenaVec<uint32_t>& out);
void scan_avx2(std::string_view text, Arena& arena, ArenaVec<uint32_t>& out);

}  // namespace yomika::scan::kernels
