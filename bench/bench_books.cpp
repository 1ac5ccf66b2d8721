// The C++ core on real books, one document per book, as a caller converts them: source to HTML,
// to the nodes report and to notation text, each book timed alone (best of kRuns, every run
// enough copies of the book to make up kBatchBytes) beside memcpy of the same bytes. The total is
// the bytes of all books over the sum of their best times; the densest book is the one with the
// most constructs per byte.
//
// Usage: bench_books [corpus-dir] [--tsv]   (default: ../shared/corpus beside the repository)
// --tsv prints one line per book (name, bytes, nodes, pairs, seconds per document for memcpy,
// HTML, nodes, serialize) for bench/suite.py, which runs two builds' copies in turn and keeps the
// best of each.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "bench_common.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/html.hpp"
#include "yomika/render/serialize.hpp"
#include "yomika/wire/json.hpp"

namespace {

constexpr int kRuns = 7;
constexpr std::size_t kBatchBytes = 4u << 20;

struct BookFigures {
  std::string name;
  std::size_t bytes = 0, nodes = 0, pairs = 0;
  double memcpy = 0, html = 0, nodes_json = 0, serialize = 0;  // seconds per document
};

// Best seconds per document of `fn` over one batch of copies of a book.
template <class Fn>
double per_document(std::size_t bytes, Fn&& fn) {
  const std::size_t copies = bytes >= kBatchBytes ? 1 : kBatchBytes / (bytes ? bytes : 1);
  const double s = bench::best_seconds(
      [&] {
        std::size_t total = 0;
        for (std::size_t c = 0; c < copies; ++c) total += fn();
        return total;
      },
      kRuns);
  return s / static_cast<double>(copies);
}

BookFigures measure(const std::string& name, const std::string& book) {
  BookFigures f;
  f.name = name;
  f.bytes = book.size();
  std::string refusal;
  {
    yomika::Arena a;
    yomika::reserve_arena(a, book.size());
    yomika::ParseResult r;
    yomika::parse_document(yomika::YomikaDoc{book, &a}, r, refusal);
    f.nodes = r.node_count;
    f.pairs = r.pair_count;
  }
  std::vector<char> dst(book.size() + 1, 1);
  f.memcpy = per_document(book.size(), [&] {
    std::memcpy(dst.data(), book.data(), book.size());
    return static_cast<std::size_t>(dst[book.size() / 2]);
  });
  // Every document gets an arena of its own, as parse_to_html and a fresh Document do.
  f.html = per_document(book.size(), [&] {
    yomika::Arena a;
    yomika::reserve_arena(a, book.size());
    std::string out;
    yomika::render::render_html(yomika::YomikaDoc{book, &a}, out, refusal);
    return out.size();
  });
  f.nodes_json = per_document(book.size(), [&] {
    yomika::Arena a;
    yomika::reserve_arena(a, book.size());
    yomika::ParseResult r;
    yomika::parse_document(yomika::YomikaDoc{book, &a}, r, refusal);
    return yomika::wire::serialize_nodes(r.nodes, r.node_count).size();
  });
  f.serialize = per_document(book.size(), [&] {
    yomika::Arena a;
    yomika::reserve_arena(a, book.size());
    yomika::ParseResult r;
    yomika::parse_document(yomika::YomikaDoc{book, &a}, r, refusal);
    return yomika::render::serialize(r).size();
  });
  return f;
}

}  // namespace

int main(int argc, char** argv) {
  bool tsv = false;
  std::vector<char*> args{argv[0]};
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tsv") == 0) {
      tsv = true;
    } else {
      args.push_back(argv[i]);
    }
  }
  bench::Corpus corpus;
  if (!bench::load_corpus(static_cast<int>(args.size()), args.data(), corpus)) return 0;

  std::vector<BookFigures> figures;
  for (std::size_t i = 0; i < corpus.books.size(); ++i)
    figures.push_back(measure(corpus.names[i], corpus.books[i]));

  if (tsv) {
    for (const BookFigures& f : figures)
      std::printf("%s\t%zu\t%zu\t%zu\t%.9g\t%.9g\t%.9g\t%.9g\n", f.name.c_str(), f.bytes, f.nodes, f.pairs, f.memcpy,
                  f.html, f.nodes_json, f.serialize);
    return 0;
  }
  std::printf("%-20s %8s %8s %8s %10s %9s %10s %10s\n", "book", "MB", "nodes", "pairs", "HTML MB/s", "x memcpy",
              "nodes MB/s", "text MB/s");
  double bytes = 0, html = 0, densest_rate = -1, densest_mbs = 0;
  std::string densest;
  for (const BookFigures& f : figures) {
    const double mb = static_cast<double>(f.bytes) / 1e6;
    std::printf("%-20s %8.2f %8zu %8zu %10.0f %9.1f %10.0f %10.0f\n", f.name.c_str(), mb, f.nodes, f.pairs,
                mb / f.html, f.html / f.memcpy, mb / f.nodes_json, mb / f.serialize);
    bytes += mb;
    html += f.html;
    const double density = static_cast<double>(f.nodes) / static_cast<double>(f.bytes);
    if (density > densest_rate) {
      densest_rate = density;
      densest = f.name;
      densest_mbs = mb / f.html;
    }
  }
  std::printf("\nall books, source to HTML: %.0f MB/s (total bytes over total best times)\n", bytes / html);
  std::printf("densest book (%s, %.1f nodes per KB): %.0f MB/s\n", densest.c_str(), densest_rate * 1000, densest_mbs);
  return 0;
}
