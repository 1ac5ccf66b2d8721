// Whole-pipeline throughput on the real texts: parse to the normalized text, render to HTML, and
// both together, in MB/s of source beside a memcpy of the same bytes measured in the same run.
// Measured twice: the books concatenated into one document of at least 8 MB, and each book as a
// document of its own (repeated to the same volume). They differ because one unclosed 「 keeps
// everything after it as plain text: in the concatenation that swallows every later book.
//
// Usage: bench_pipeline [corpus-dir]   (default: ../shared/corpus beside the repository)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_common.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/html.hpp"


using bench::best_seconds;
using bench::memcpy_seconds;

int main(int argc, char** argv) {
  bench::Corpus corpus;
  if (!bench::load_corpus(argc, argv, corpus)) return 0;
  const std::string& one = corpus.joined;
  const std::vector<std::string>& books = corpus.books;
  const std::string text = bench::repeat_to(one, bench::kMinBytes);
  const std::size_t n = text.size();
  const double mb = static_cast<double>(n) / 1e6;

  // The document keeps one arena across runs, as a Document does across calls.
  yomika::Arena arena;
  yomika::reserve_arena(arena, n);
  yomika::YomikaDoc doc{text, &arena};
  std::string refusal;

  std::size_t html_bytes = 0, nodes = 0, normalized = 0;
  {
    yomika::ParseResult r;
    yomika::parse_document(doc, r, refusal);
    nodes = r.node_count;
    normalized = r.normalized.size();
    html_bytes = yomika::render::render_result_html(r).size();
  }
  std::printf("corpus: %zu files, %.1f MB after repetition; %zu nodes, normalized %.1f MB, HTML %.1f MB\n\n",
              books.size(), mb, nodes, static_cast<double>(normalized) / 1e6, static_cast<double>(html_bytes) / 1e6);

  struct Row {
    const char* name;
    double seconds;
  };
  std::vector<Row> rows;
  rows.push_back({"memcpy", memcpy_seconds(text)});
  rows.push_back({"parse_document", best_seconds([&] {
                    yomika::ParseResult r;
                    yomika::parse_document(doc, r, refusal);
                    return r.normalized.size();
                  })});
  {
    // Rendering alone, over one parse result kept for the purpose.
    yomika::Arena kept;
    yomika::reserve_arena(kept, n);
    yomika::YomikaDoc kept_doc{text, &kept};
    yomika::ParseResult r;
    yomika::parse_document(kept_doc, r, refusal);
    rows.push_back({"render_result_html", best_seconds([&] { return yomika::render::render_result_html(r).size(); })});
  }
  rows.push_back({"render_html (whole pipeline)", best_seconds([&] {
                    std::string out;
                    yomika::render::render_html(doc, out, refusal);
                    return out.size();
                  })});

  // Each book its own document, as often as the concatenation repeats them.
  const std::size_t copies = n / one.size();
  std::size_t book_nodes = 0;
  for (const std::string& b : books) {
    yomika::Arena a;
    yomika::ParseResult r;
    yomika::parse_document(yomika::YomikaDoc{b, &a}, r, refusal);
    book_nodes += r.node_count * copies;
  }
  rows.push_back({"render_html, one doc per book", best_seconds([&] { return bench::render_each_book(books, copies); })});
  std::printf("one document per book: %zu nodes over the same %.1f MB\n\n", book_nodes, mb);

  const double base = rows[0].seconds;
  std::printf("%-30s %10s %12s %10s\n", "stage", "ms", "MB/s", "x memcpy");
  for (const Row& r : rows)
    std::printf("%-30s %10.2f %12.1f %10.1f\n", r.name, r.seconds * 1e3, mb / r.seconds, r.seconds / base);
  return 0;
}
