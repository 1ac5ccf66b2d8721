// Peak memory of one parse: the resident memory parse_document adds at its highest (its arena,
// the result's tables, and every table the stages build on the way), above what the process held
// with the text read, as a multiple of the text's size. The outputs are not made: a report can
// be larger than its text by its nature (a diagnostic per reserved character), a parse need not.
// Run once per text, in a fresh process, so that no memory kept from an earlier parse is counted
// as present; bench/bench_adversarial.py --memory runs it over every adversarial text.
//
// Usage: bench_parse_memory FILE   (prints: bytes, peak bytes above the text, seconds)
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#if defined(__linux__)
#include <malloc.h>
#endif

#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"

namespace {

// A field of /proc/self/status in bytes, 0 where there is none.
long long status_bytes(const char* key) {
  std::ifstream f("/proc/self/status");
  std::string line;
  const std::size_t n = std::strlen(key);
  while (std::getline(f, line)) {
    if (line.compare(0, n, key) == 0 && line.size() > n && line[n] == ':') return std::atoll(line.c_str() + n + 1) * 1024;
  }
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_parse_memory FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>{});
#if defined(__linux__)
  malloc_trim(0);
#endif
  // The high-water mark starts again here, where the system allows it.
  std::ofstream("/proc/self/clear_refs") << "5";
  const long long before = status_bytes("VmRSS");
  const auto t0 = std::chrono::steady_clock::now();
  {
    yomika::Arena arena;
    yomika::reserve_arena(arena, text.size());
    yomika::ParseResult result;
    std::string refusal;
    yomika::parse_document(yomika::YomikaDoc{text, &arena}, result, refusal);
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
  std::printf("%zu %lld %.6f\n", text.size(), status_bytes("VmHWM") - before, seconds);
  return 0;
}
