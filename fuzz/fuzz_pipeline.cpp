// libFuzzer entry point: arbitrary bytes, made valid UTF-8 or read as notation pieces, through the
// whole pipeline and every output.
#include <cstddef>
#include <cstdint>

#include "invariants.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  yomika::fuzz::check_invariants(yomika::fuzz::decode_input(data, size));
  return 0;
}
