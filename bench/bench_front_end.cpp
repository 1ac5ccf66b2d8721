// Front-end throughput on the real texts: trigger scan, line-feed search, tokens, pairing and
// the whole front end, in MB/s beside a memcpy of the same bytes measured in the same run.
//
// Usage: bench_front_end [corpus-dir]   (default: ../shared/corpus beside the repository)
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "bench_common.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/pairing.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/scan/trigger_kernels.hpp"
#include "yomika/scan/triggers.hpp"

using yomika::Arena;
using yomika::ArenaVec;

using bench::best_seconds;
using bench::memcpy_seconds;

int main(int argc, char** argv) {
  bench::Corpus corpus;
  if (!bench::load_corpus(argc, argv, corpus)) return 0;
  const std::string& one = corpus.joined;
  const std::string text = bench::repeat_to(one, bench::kMinBytes);
  const std::size_t n = text.size();
  const double mb = static_cast<double>(n) / 1e6;

  Arena arena;
  arena.try_reserve(4 * n);

  // Counts for the record, from one untimed pass.
  std::size_t triggers = 0, tokens = 0, pairs = 0;
  {
    arena.reset();
    triggers = yomika::scan::scan_triggers(text, arena).size;
    ArenaVec<yomika::lex::Token> toks;
    std::string refusal;
    yomika::lex::build_tokens(text, arena, toks, refusal);
    tokens = toks.size;
    yomika::Diagnostics d;
    pairs = yomika::pair_brackets(toks, arena, d).pairs.size;
  }
  std::printf("corpus: %zu files, %.1f MB after repetition; %zu triggers, %zu tokens, %zu pairs\n", corpus.books.size(), mb,
              triggers, tokens, pairs);
  std::printf("kernel: %s\n\n", yomika::scan::kernels::has_avx2() ? "avx2" : "sse2");

  struct Row {
    const char* name;
    double seconds;
  };
  std::vector<Row> rows;

  rows.push_back({"memcpy", memcpy_seconds(text)});
  rows.push_back({"scan_triggers", best_seconds([&] {
                    arena.reset();
                    return yomika::scan::scan_triggers(text, arena).size;
                  })});
  rows.push_back({"scan_triggers sse2", best_seconds([&] {
                    arena.reset();
                    ArenaVec<uint32_t> out;
                    yomika::scan::kernels::scan_sse2(text, arena, out);
                    return out.size;
                  })});
  rows.push_back({"scan_triggers_scalar", best_seconds([&] {
                    arena.reset();
                    return yomika::scan::scan_triggers_scalar(text, arena).size;
                  })});
  rows.push_back({"trigger and line-feed masks", best_seconds([&] {
                    constexpr std::size_t kBlocks = 64;
                    uint64_t trig[kBlocks], feeds[kBlocks];
                    std::size_t bits = 0;
                    for (std::size_t base = 0; base < n; base += 64 * kBlocks) {
                      const std::size_t blocks = std::min<std::size_t>(kBlocks, (n - base + 63) / 64);
                      yomika::scan::block_masks(text, base, blocks, '\n', trig, feeds);
                      for (std::size_t k = 0; k < blocks; ++k) bits += __builtin_popcountll(trig[k] | feeds[k]);
                    }
                    return bits;
                  })});
  rows.push_back({"line-feed search", best_seconds([&] {
                    arena.reset();
                    ArenaVec<uint32_t> out;
                    out.reserve(arena, n / 64);
                    yomika::scan::collect_byte(text, '\n', arena, out);
                    return out.size;
                  })});
  rows.push_back({"build_tokens", best_seconds([&] {
                    arena.reset();
                    ArenaVec<yomika::lex::Token> toks;
                    std::string refusal;
                    yomika::lex::build_tokens(text, arena, toks, refusal);
                    return toks.size;
                  })});
  {
    // Pairing alone, on a token stream built once outside the clock.
    Arena token_arena;
    ArenaVec<yomika::lex::Token> toks;
    std::string refusal;
    yomika::lex::build_tokens(text, token_arena, toks, refusal);
    rows.push_back({"pair_brackets", best_seconds([&] {
                      arena.reset();
                      yomika::Diagnostics d;
                      return yomika::pair_brackets(toks, arena, d).events.size;
                    })});
  }
  rows.push_back({"sanitize", best_seconds([&] {
                    yomika::Diagnostics d;
                    yomika::lex::Sanitized s;
                    yomika::lex::sanitize(text, s, d);
                    return s.text.size();
                  })});
  // The same road with Phase 0 left out, to tell its share from the rest.
  rows.push_back({"front end less sanitize (copy, tokens, pairing)", best_seconds([&] {
                    arena.reset();
                    yomika::Diagnostics d;
                    std::string_view copy = arena.copy(text);
                    ArenaVec<yomika::lex::Token> toks;
                    std::string refusal;
                    yomika::lex::build_tokens(copy, arena, toks, refusal);
                    return yomika::pair_brackets(toks, arena, d).events.size;
                  })});
  rows.push_back({"front end (sanitize, copy, tokens, pairing)", best_seconds([&] {
                    arena.reset();
                    yomika::Diagnostics d;
                    yomika::lex::Sanitized s;
                    yomika::lex::sanitize(text, s, d);
                    std::string_view copy = arena.copy(s.text);
                    ArenaVec<yomika::lex::Token> toks;
                    std::string refusal;
                    yomika::lex::build_tokens(copy, arena, toks, refusal);
                    return yomika::pair_brackets(toks, arena, d).events.size;
                  })});
  // The road parse_document takes: Phase 0 written straight into the arena, then the tokens
  // paired as they are cut, a piece at a time.
  rows.push_back({"front end as parsed (sanitize_into, pieces)", best_seconds([&] {
                    arena.reset();
                    yomika::Diagnostics d;
                    std::string_view copy = yomika::lex::sanitize_into(text, arena, d);
                    yomika::PairingStream pairing(d);
                    yomika::lex::TokenStream stream(copy);
                    std::size_t total = 0;
                    while (const std::size_t got = pairing.pair_next(stream, 512).size()) total += got;
                    return total;
                  })});

  const double base = rows[0].seconds;
  std::printf("%-50s %10s %8s\n", "stage", "MB/s", "x memcpy");
  for (const Row& r : rows) std::printf("%-50s %10.0f %8.2f\n", r.name, mb / r.seconds, base / r.seconds);
  return 0;
}
