// libFuzzer entry point: arbitrary bytes, made valid UTF-8, through the whole pipeline.
#include <cstddef>
#include <cstdint>

#include "invariants.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size > (1u << 20)) return 0;
  yomika::fuzz::check_invariants(yomika::fuzz::to_valid_utf8(data, size));
  return 0;
}
