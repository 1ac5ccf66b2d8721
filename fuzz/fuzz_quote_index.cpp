// libFuzzer entry point for the quoted-target resolver's gram filter, its tables of runs and its
// suffix index. The resolver answers from memmem until its scans have read twice the text (plus
// 256 KiB), then through the filter, tables of runs and finally a suffix array as its scans read
// more; the pipeline fuzzer's short inputs never get there, so this target starts the resolver
// with no budget or a small one and checks every answer against a plain substring search.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "invariants.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"

namespace {

uint64_t next(uint64_t& s) {  // splitmix64
  uint64_t z = (s += 0x9E3779B97F4A7C15ull);
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
  return z ^ (z >> 31);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  if (size == 0 || size > 4096) return 0;
  // Short inputs are repeated: periodic texts are the hard case for the suffix sort.
  const std::string piece = yomika::fuzz::to_valid_utf8(data, size);
  std::string text = piece;
  while (text.size() < 2048) text += piece;
  const auto n = static_cast<uint32_t>(text.size());

  // No scanning budget: the filter and the suffix index answer from the first question. A small
  // one: memmem, the filter, tables of runs (once four targets of one length got through) and
  // the suffix index in turn over the 400 questions.
  yomika::classify::QuoteResolver resolver(text, data[0] % 2 ? 0 : 3000);
  // The resolver keys its memo by the targets' bytes, so every target must outlive it.
  std::vector<std::string> targets;
  targets.reserve(400);

  uint64_t seed = 0x5EED;
  for (std::size_t i = 0; i < size; ++i) seed = seed * 131 + data[i];
  for (int q = 0; q < 400; ++q) {
    const uint64_t r = next(seed);
    std::size_t at = r % n, len = 1 + (r >> 16) % 16;
    std::string target = text.substr(at, len);
    if ((r >> 32) % 3 == 0) target.back() = static_cast<char>(target.back() ^ (1 + (r >> 40) % 3));
    const auto before = static_cast<uint32_t>((r >> 44) % (n + 1));
    targets.push_back(target);
    const bool want = std::string_view(text).substr(0, before).find(target) != std::string_view::npos;
    if (resolver.occurs_before(targets.back(), before) != want) {
      std::fprintf(stderr, "quote index disagrees with plain search: target of %zu bytes at %zu, before %u\n",
                   target.size(), at, before);
      std::abort();
    }
  }
  return 0;
}
