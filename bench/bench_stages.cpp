// Throughput of every stage of the core, one at a time and as a whole, beside memcpy of the same
// bytes measured in the same run, on three texts: the books concatenated into one document of at
// least 8 MB, a synthetic text with no notation at all, and a synthetic text dense with every
// construct. Each stage runs on the previous stage's output made outside the clock; the figure is
// MB/s of source and the stage's time as a multiple of memcpy's (best of kRuns each). The machine
// is shared and noisy: the ratios are the figures to compare between runs.
//
// Usage: bench_stages [corpus-dir]   (default: ../shared/corpus beside the repository)
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "bench_common.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/borrowed.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/pairing.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/render/html.hpp"
#include "yomika/render/serialize.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/wire/json.hpp"

namespace {

constexpr int kRuns = 9;
using bench::kMinBytes;
using bench::memcpy_seconds;
using bench::repeat_to;

double best_seconds(const std::function<std::size_t()>& fn) { return bench::best_seconds(fn, kRuns); }

// Prose of kana and kanji with punctuation and paragraphs, and no trigger character at all.
std::string plain_text() {
  const std::string unit =
      "\xE3\x80\x80夕方から降り出した雨は、夜になっても止まなかった。駅前の古本屋は、いつもより早く灯り"
      "を落としかけていた。店主の老人は帳場に座り、濡れた傘から落ちる雫を数えていた。\n"
      "\xE3\x80\x80閉店の時刻を過ぎても、客は来ない。そのとき戸が鳴り、若い女が入ってきた。女は奥の棚"
      "の前で足を止め、小さく何かを言った。\n\n";
  return repeat_to(unit, kMinBytes);
}

// Every construct the notation knows, a few times per line: ruby in both forms, double ruby,
// emphasis marks, vertical-in-horizontal, gaiji in both forms, indents, alignment, breaks,
// containers, headings, kaeriten, warichu, verbatim annotations, accents, quotes and a rule line.
std::string dense_text() {
  const std::string unit =
      "駅前の｜古本屋《ふるほんや》は帳場《ちょうば》の奥、《《ここにあった》》と言う。\n"
      "客は来ない［＃「来ない」に傍点］。波［＃「波」に波線］と線［＃「線」の左に傍線］。\n"
      "昭和31［＃「31」は縦中横］年、※［＃「木＋駟のつくり」、第3水準1-85-8］の並木。\n"
      "※［＃「てへん＋劣」、U+6318、12-3］と※［＃二の字点、1-2-22］。\n"
      "［＃３字下げ］本文［＃地付き］終［＃地から２字上げ］終\n"
      "［＃ここから２字下げ］\n字下げの中《なか》の行。\n［＃ここで字下げ終わり］\n"
      "［＃罫囲み］\n囲みの中。\n［＃罫囲み終わり］\n"
      "［＃ここから地から１字上げ］\n上げた行。\n［＃ここで地付き終わり］\n"
      "見出し［＃「見出し」は大見出し］。読［＃レ］書［＃一］む［＃二］。\n"
      "前［＃割り注］割注の中身［＃割り注終わり］後。［＃挿絵（fig01.png）入る］\n"
      "〔cafe'〕と〔Ame'lie〕の話。「引用《いんよう》の中」は文字のまま。［＃ほげ］\n"
      "［＃改ページ］\n［＃改段］\n"
      "　罫線の前の行\n----------\n\n";
  return repeat_to(unit, kMinBytes);
}

struct Figures {
  std::vector<double> seconds;  // parallel to the row names; negative: not measured
};

// Measures every row on one text. `books`, when given, adds the one-document-per-book row.
Figures measure(const std::string& text, const std::vector<std::string>* books, std::size_t copies) {
  Figures f;
  const std::size_t n = text.size();
  std::string refusal;

  f.seconds.push_back(memcpy_seconds(text, kRuns));

  // Sanitize.
  f.seconds.push_back(best_seconds([&] {
    yomika::Diagnostics d;
    yomika::lex::Sanitized s;
    yomika::lex::sanitize(text, s, d);
    return s.text.size();
  }));
  yomika::Diagnostics warnings;
  yomika::lex::Sanitized sanitized;
  yomika::lex::sanitize(text, sanitized, warnings);
  const std::string_view src = sanitized.text;

  yomika::Arena work;
  work.try_reserve(4 * n);
  // Trigger scan.
  f.seconds.push_back(best_seconds([&] {
    work.reset();
    return yomika::scan::scan_triggers(src, work).size;
  }));
  // Tokens (the scan, the line feeds and their merge).
  f.seconds.push_back(best_seconds([&] {
    work.reset();
    yomika::ArenaVec<yomika::lex::Token> toks;
    yomika::lex::build_tokens(src, work, toks, refusal);
    return toks.size;
  }));
  yomika::Arena kept;
  kept.try_reserve(4 * n);
  yomika::ArenaVec<yomika::lex::Token> tokens;
  yomika::lex::build_tokens(src, kept, tokens, refusal);
  // Pairing.
  f.seconds.push_back(best_seconds([&] {
    work.reset();
    yomika::Diagnostics d = warnings;
    return yomika::pair_brackets(tokens, work, d).events.size;
  }));
  yomika::Diagnostics diagnostics = warnings;
  yomika::Paired paired = yomika::pair_brackets(tokens, kept, diagnostics);
  // Assembly.
  f.seconds.push_back(best_seconds([&] {
    work.reset();
    yomika::ParseResult r;
    yomika::assemble(src, paired, work, yomika::Diagnostics(diagnostics), r);
    return r.normalized.size();
  }));

  // The renderers and the wire format over one parse result kept for the purpose.
  yomika::Arena result_arena;
  yomika::reserve_arena(result_arena, n);
  yomika::ParseResult r;
  yomika::parse_document(yomika::YomikaDoc{text, &result_arena}, r, refusal);
  f.seconds.push_back(best_seconds([&] { return yomika::render::render_result_html(r).size(); }));
  f.seconds.push_back(best_seconds([&] { return yomika::render::serialize(r).size(); }));
  f.seconds.push_back(best_seconds([&] { return yomika::wire::serialize_nodes(r.nodes, r.node_count).size(); }));
  f.seconds.push_back(best_seconds([&] { return yomika::wire::serialize_pairs(r.pairs, r.pair_count).size(); }));
  f.seconds.push_back(best_seconds([&] { return yomika::wire::serialize_diagnostics(r.diagnostics).size(); }));

  // The whole road, source to HTML: with the document's arena kept across calls (a Document),
  // and with a fresh arena per call (parse_to_html).
  yomika::Arena doc_arena;
  yomika::reserve_arena(doc_arena, n);
  f.seconds.push_back(best_seconds([&] {
    std::string out;
    yomika::render::render_html(yomika::YomikaDoc{text, &doc_arena}, out, refusal);
    return out.size();
  }));
  f.seconds.push_back(best_seconds([&] {
    yomika::Arena a;
    yomika::reserve_arena(a, n);
    std::string out;
    yomika::render::render_html(yomika::YomikaDoc{text, &a}, out, refusal);
    return out.size();
  }));
  if (books) {
    f.seconds.push_back(best_seconds([&] { return bench::render_each_book(*books, copies); }));
  } else {
    f.seconds.push_back(-1);
  }
  return f;
}

const char* const kRowNames[] = {
    "memcpy",
    "sanitize",
    "scan (triggers)",
    "tokens",
    "pairing",
    "assembly",
    "HTML (render only)",
    "serialize",
    "JSON nodes",
    "JSON pairs",
    "JSON diagnostics",
    "whole: source to HTML",
    "whole, fresh arena per call",
    "whole, one document per book",
};

void describe(const char* name, const std::string& text) {
  yomika::Arena a;
  yomika::reserve_arena(a, text.size());
  yomika::ParseResult r;
  std::string refusal;
  yomika::parse_document(yomika::YomikaDoc{text, &a}, r, refusal);
  std::string html = yomika::render::render_result_html(r);
  std::printf("%-8s %6.1f MB, %8zu nodes, %8zu pairs, %6zu diagnostics, HTML %.1f MB\n", name,
              static_cast<double>(text.size()) / 1e6, r.node_count, r.pair_count, r.diagnostics.size(),
              static_cast<double>(html.size()) / 1e6);
}

}  // namespace

int main(int argc, char** argv) {
  // Without the corpus the synthetic texts are still measured.
  bench::Corpus corpus;
  bench::load_corpus(argc, argv, corpus);
  const std::vector<std::string>& books = corpus.books;
  const std::string& one = corpus.joined;

  struct Column {
    const char* name;
    std::string text;
    bool books;
  };
  std::vector<Column> columns;
  if (one.empty()) {
    std::printf("measuring the synthetic texts only\n\n");
  } else {
    columns.push_back({"corpus", repeat_to(one, kMinBytes), true});
  }
  columns.push_back({"plain", plain_text(), false});
  columns.push_back({"dense", dense_text(), false});

  for (const Column& c : columns) describe(c.name, c.text);
  std::printf("\n");

  std::vector<Figures> figures;
  for (const Column& c : columns) {
    const std::size_t copies = one.empty() ? 0 : c.text.size() / one.size();
    figures.push_back(measure(c.text, c.books ? &books : nullptr, copies));
  }

  std::printf("%-30s", "stage");
  for (const Column& c : columns) std::printf(" %9s MB/s %8s", c.name, "x memcpy");
  std::printf("\n");
  for (std::size_t row = 0; row < std::size(kRowNames); ++row) {
    std::printf("%-30s", kRowNames[row]);
    for (std::size_t k = 0; k < columns.size(); ++k) {
      const double s = figures[k].seconds[row];
      if (s < 0) {
        std::printf(" %14s %8s", "-", "-");
        continue;
      }
      const double mb = static_cast<double>(columns[k].text.size()) / 1e6;
      std::printf(" %14.0f %8.1f", mb / s, s / figures[k].seconds[0]);
    }
    std::printf("\n");
  }
  std::printf("\n(x memcpy: the stage's time as a multiple of memcpy of the same bytes, same run)\n");
  return 0;
}
