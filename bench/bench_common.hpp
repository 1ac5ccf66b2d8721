// What the C++ benchmarks share: the corpus of real texts, repetition to a minimum size, and a
// best-of-N timer whose results cannot be optimised away.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstring>
#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/html.hpp"

namespace bench {

// Big enough that one run takes milliseconds and leaves the caches.
inline constexpr std::size_t kMinBytes = 8u << 20;

inline volatile std::size_t g_sink;  // keeps results alive so the optimizer cannot drop the work

// Shortest of `runs` timings of fn, in seconds; fn returns something derived from its work.
template <class Fn>
double best_seconds(Fn&& fn, int runs = 7) {
  double best = 1e30;
  for (int r = 0; r < runs; ++r) {
    auto t0 = std::chrono::steady_clock::now();
    g_sink = fn();
    auto t1 = std::chrono::steady_clock::now();
    best = std::min(best, std::chrono::duration<double>(t1 - t0).count());
  }
  return best;
}

// Best time of a memcpy of text into a buffer whose pages are already in: the yardstick every
// stage is measured against.
inline double memcpy_seconds(const std::string& text, int runs = 7) {
  const std::size_t n = text.size();
  std::vector<char> dst(n, 1);
  return best_seconds([&] {
    std::memcpy(dst.data(), text.data(), n);
    return static_cast<std::size_t>(n ? dst[n / 2] : 0);
  }, runs);
}

inline std::string repeat_to(const std::string& unit, std::size_t at_least) {
  std::string out;
  if (unit.empty()) return out;
  out.reserve(at_least + unit.size());
  while (out.size() < at_least) out += unit;
  return out;
}

// The books of the corpus folder (its .txt files, each ending in a line feed), in name order.
struct Corpus {
  std::filesystem::path dir;
  std::vector<std::string> books;
  std::vector<std::string> names;  // each book's file name without .txt
  std::string joined;  // the books one after another
};

// Reads the folder given as argv[1], or ../shared/corpus beside the repository. Prints why and
// returns false when there is nothing to measure, so that the benchmark can exit cleanly.
inline bool load_corpus(int argc, char** argv, Corpus& out) {
  namespace fs = std::filesystem;
  out.dir = argc > 1 ? fs::path(argv[1]) : fs::path(__FILE__).parent_path().parent_path() / ".." / "shared" / "corpus";
  std::error_code ec;
  if (!fs::is_directory(out.dir, ec)) {
    std::printf("corpus folder %s not found; nothing to measure\n", out.dir.string().c_str());
    return false;
  }
  std::vector<fs::path> files;
  for (const auto& e : fs::directory_iterator(out.dir, ec))
    if (e.is_regular_file() && e.path().extension() == ".txt") files.push_back(e.path());  // not MANIFEST.tsv
  std::sort(files.begin(), files.end());
  for (const auto& f : files) {
    std::ifstream in(f, std::ios::binary);
    std::string book(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>{});
    if (!book.empty() && book.back() != '\n') book += '\n';
    out.joined += book;
    out.books.push_back(std::move(book));
    out.names.push_back(f.stem().string());
  }
  if (out.joined.empty()) {
    std::printf("corpus folder %s holds no text; nothing to measure\n", out.dir.string().c_str());
    return false;
  }
  return true;
}

// Bytes of HTML from rendering every book as its own document, `copies` times over: real texts
// as a reader converts them, since the books joined into one document leave few constructs.
inline std::size_t render_each_book(const std::vector<std::string>& books, std::size_t copies) {
  std::size_t total = 0;
  std::string refusal;
  for (std::size_t c = 0; c < copies; ++c)
    for (const std::string& b : books) {
      yomika::Arena a;
      yomika::reserve_arena(a, b.size());
      std::string out;
      yomika::render::render_html(yomika::YomikaDoc{b, &a}, out, refusal);
      total += out.size();
    }
  return total;
}

}  // namespace bench
