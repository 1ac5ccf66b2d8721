// The throughput paths against their plain counterparts: sequence and byte-set searches, the
// scanner's block masks, Phase 0 written straight into the arena, tokens and pairing a piece at a
// time, accent edits, arena blocks reused across documents, and the registry
// cursor of the renderers.
#include <cstdint>
#include <cstring>
#include <random>
#include <span>
#include <string>
#include <thread>
#include <vector>

#if defined(__linux__)
#include <sys/mman.h>
#include <unistd.h>
#endif

#include "testing.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/pairing.hpp"
#include "yomika/render/walk.hpp"
#include "yomika/scan/byte_search.hpp"
#include "yomika/scan/triggers.hpp"
#include "yomika/syntax/accent.hpp"

using yomika::Arena;
using yomika::ArenaVec;
using yomika::Diagnostic;
using yomika::Diagnostics;

namespace {

// Texts made of the pieces that the fast paths treat specially, so that every kind of hit, miss
// and near miss comes up, in short and long texts.
std::string random_text(std::mt19937& rng, std::size_t pieces) {
  static const char* const kPieces[] = {
      "あ",  "漢",  "〔",  "〕",  "「",  "」",  "《",  "》",  "《《", "｜",  "［",  "］",  "＃",
      "※",   "\n",  "\r",  "\r\n", "-",   "=",   "_",   "----------", "==========", "　",  " ",
      "e'",  "AE&", "o:",  "x'",  "&",   "<",   ">",   "\"",  "'",   "\xEE\x80\x81", "\xEE\x80\x84",
      "\xEE\x80\x85", "\xE3\x80", "a",  "\xEF\xBB\xBF"};
  std::string s;
  for (std::size_t i = 0; i < pieces; ++i) s += kPieces[rng() % (sizeof kPieces / sizeof kPieces[0])];
  return s;
}

std::size_t naive_seq3(const std::string& s, std::size_t from, const char* seq) {
  for (std::size_t i = from; i + 3 <= s.size(); ++i)
    if (std::memcmp(s.data() + i, seq, 3) == 0) return i;
  return s.size();
}

std::size_t naive_any(const std::string& s, std::size_t from, std::string_view set) {
  for (std::size_t i = from; i < s.size(); ++i)
    if (set.find(s[i]) != std::string_view::npos) return i;
  return s.size();
}

std::vector<std::string> sanitize_plain(const std::string& in, Diagnostics& warnings) {
  yomika::lex::Sanitized s;
  yomika::lex::sanitize(in, s, warnings);
  return {std::string(s.text)};
}

}  // namespace

TEST(find_seq3_find_any_and_any_masks_against_naive) {
  std::mt19937 rng(4242);
  const char* const seqs[] = {"\xE3\x80\x94", "\xE3\x80\x95", "abc", "\n\n\n"};
  const std::string_view sets[] = {std::string_view("\n\xEE&<>\"'", 7), "&<>\"'", "-=_", "\r", "abcdefgh"};
  int bad = 0;
  for (int round = 0; round < 600 && bad == 0; ++round) {
    const std::string s = random_text(rng, round < 300 ? static_cast<std::size_t>(round % 40) : 50 + rng() % 600);
    for (std::size_t from = 0; from <= s.size() + 1; from += 1 + rng() % 11) {
      for (const char* q : seqs)
        if (yomika::scan::find_seq3(s.data(), s.size(), from, q[0], q[1], q[2]) !=
            (from > s.size() ? s.size() : naive_seq3(s, from, q)))
          ++bad;
      for (std::string_view set : sets)
        if (yomika::scan::find_any(s.data(), s.size(), from, set.data(), set.size()) != naive_any(s, from, set))
          ++bad;
    }
    // The masks, from any start, over windows that run past the end.
    const std::size_t from = rng() % (s.size() + 1);
    const std::size_t blocks = 1 + (s.size() - from) / 64 + rng() % 2;
    std::vector<uint64_t> masks(blocks);
    const std::string_view set = sets[rng() % 5];
    yomika::scan::any_masks(s.data(), s.size(), from, set.data(), set.size(), blocks, masks.data());
    for (std::size_t k = 0; k < blocks; ++k)
      for (std::size_t j = 0; j < 64; ++j) {
        const std::size_t at = from + 64 * k + j;
        const bool want = at < s.size() && set.find(s[at]) != std::string_view::npos;
        if (((masks[k] >> j) & 1) != want) ++bad;
      }
  }
  CHECK_EQ(bad, 0);
}

#if defined(__linux__)
TEST(find_seq3_and_find_any_never_read_past_the_end) {
  const std::size_t page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
  char* base = static_cast<char*>(mmap(nullptr, 2 * page, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0));
  mprotect(base + page, page, PROT_NONE);
  for (std::size_t len = 0; len <= 200; ++len) {
    char* at = base + page - len;
    std::memset(at, 'a', len);
    if (len >= 2) std::memcpy(at + len - 2, "\xE3\x80", 2);  // a sequence cut short by the end
    for (std::size_t from = 0; from <= len; from += 5) {
      CHECK_EQ(yomika::scan::find_seq3(at, len, from, '\xE3', '\x80', '\x94'), len);
      CHECK_EQ(yomika::scan::find_any(at, len, from, "\n\xEE<", 3), len);
    }
  }
  munmap(base, 2 * page);
}
#endif

// Every bit of the masks against the scanner's offsets and a plain byte test, over block
// windows that start anywhere, end past the text and cover the zero-padded tail.
TEST(block_masks_agree_with_the_scanner) {
  std::mt19937 rng(99);
  int bad = 0;
  for (int round = 0; round < 300 && bad == 0; ++round) {
    const std::string s = random_text(rng, 1 + rng() % 400);
    Arena a;
    ArenaVec<uint32_t> triggers = yomika::scan::scan_triggers_scalar(s, a);
    std::vector<bool> is_trigger(s.size() + 256, false);
    for (uint32_t t : triggers) is_trigger[t] = true;
    const std::size_t from = rng() % (s.size() + 1);
    const std::size_t blocks = 1 + (s.size() - from) / 64 + rng() % 2;
    std::vector<uint64_t> trig(blocks), feeds(blocks);
    yomika::scan::block_masks(s, from, blocks, '\n', trig.data(), feeds.data());
    for (std::size_t k = 0; k < blocks; ++k)
      for (std::size_t j = 0; j < 64; ++j) {
        const std::size_t at = from + 64 * k + j;
        const bool want_t = at < s.size() && is_trigger[at];
        const bool want_f = at < s.size() && s[at] == '\n';
        if (((trig[k] >> j) & 1) != want_t || ((feeds[k] >> j) & 1) != want_f) ++bad;
      }
  }
  CHECK_EQ(bad, 0);
}

// The arena path of Phase 0 gives the same text and warnings as the plain one, which applies
// its steps one after another, also where the steps meet (rule lines inside 〔…〕, marks next to
// line feeds, sentinels after rewrites that change lengths).
TEST(sanitize_into_matches_sanitize) {
  std::mt19937 rng(2024);
  const std::string fixed[] = {
      "",
      "plain",
      "a\n----------\n〔e'〕",
      "〔a'\n----------\nb'〕",
      "〔M'〕\xEE\x80\x81",
      "\xEF\xBB\xBF\xEF\xBB\xBF〔AE&〕\r\n==========\r\nx",
      "〔a〔e'〕b〕\n----------",
      "〔〕〔x'〕〔",
  };
  int bad = 0;
  auto check = [&](const std::string& in) {
    Diagnostics w1, w2;
    const std::string want = sanitize_plain(in, w1)[0];
    Arena a;
    const std::string_view got = yomika::lex::sanitize_into(in, a, w2);
    bool same = got == want && w1.size() == w2.size();
    for (std::size_t i = 0; same && i < w1.size(); ++i)
      same = w1[i].codepoint == w2[i].codepoint && w1[i].span.start == w2[i].span.start;
    if (testing::check_fails(!same)) {
      ++bad;
      testing::fail(__FILE__, __LINE__, "sanitize_into differs for " + testing::show(in));
    }
  };
  for (const std::string& in : fixed) check(in);
  for (int round = 0; round < 3000 && bad < 3; ++round) check(random_text(rng, rng() % 60));
  CHECK_EQ(bad, 0);
}

// decompose_accents is the accent edits applied in one copy; no edits means the text is kept.
TEST(accent_edits_cover_exactly_the_marked_contents) {
  struct Row {
    const char* in;
    std::size_t edits;
    const char* out;
  };
  const Row rows[] = {
      {"〔cafe'〕", 1, "〔café〕"},
      {"〔abc〕〔〕", 0, "〔abc〕〔〕"},
      {"〔x'〕", 1, "〔x'〕"},  // a mark but no key: visited, bytes unchanged
      {"〔a〔e'〕b〕", 1, "〔a〔é〕b〕"},
      {"x'y〔", 0, "x'y〔"},
      {"〔M'〕〔o:〕", 2, "〔Ḿ〕〔ö〕"},
  };
  for (const Row& r : rows) {
    std::vector<yomika::syntax::AccentEdit> edits;
    std::string rewritten;
    yomika::syntax::accent_edits(r.in, edits, rewritten);
    CHECK_EQ(edits.size(), r.edits);
    CHECK_EQ(yomika::syntax::decompose_accents(r.in), std::string(r.out));
  }
}

// Tokens a piece at a time, and tokens paired as they are cut a piece of events at a time (as the
// pipeline runs them), give the tokens, events, pairs and diagnostics of the whole stream: pieces
// of every size down to one block's room or one event, brackets
// left open at the end and at line feeds (more Unclosed events than a piece has tokens), and
// texts longer than one scanned chunk.
TEST(pairing_a_piece_at_a_time_matches_pairing) {
  std::mt19937 rng(31337);
  int bad = 0;
  for (int round = 0; round < 1500 && bad == 0; ++round) {
    std::string s = random_text(rng, round % 50 == 0 ? 3000 : rng() % 80);
    if (round % 10 == 0)
      for (int i = 0; i < 200; ++i) s += "「";
    if (round % 10 == 5)
      for (int i = 0; i < 300; ++i) s += "［\n";
    if (round % 10 == 7) {
      for (int i = 0; i < 300; ++i) s += "［";
      s += "\n";
    }
    Arena a1;
    ArenaVec<yomika::lex::Token> t1;
    std::string refusal;
    yomika::lex::build_tokens(s, a1, t1, refusal);
    Diagnostics d1, d2;
    yomika::Paired p1 = yomika::pair_brackets(t1, a1, d1);

    std::vector<yomika::lex::Token> t2;
    yomika::lex::TokenStream tokens(s);
    std::vector<yomika::lex::Token> piece(yomika::lex::TokenStream::kMinRoom + rng() % 300);
    while (const std::size_t got = tokens.next(piece.data(), piece.size()))
      t2.insert(t2.end(), piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got));

    std::vector<yomika::PairedEvent> e2;
    yomika::PairingStream pairing(d2);
    yomika::lex::TokenStream stream(s);
    const std::size_t events_a_piece = 1 + rng() % 600;
    for (;;) {
      const std::span<const yomika::PairedEvent> got = pairing.pair_next(stream, events_a_piece);
      if (got.empty()) break;
      e2.insert(e2.end(), got.begin(), got.end());
    }
    const auto& pairs2 = pairing.pairs();

    bool same = t1.size == t2.size() && p1.events.size == e2.size() && p1.pairs.size == pairs2.size() &&
                d1.size() == d2.size();
    for (std::size_t i = 0; same && i < t1.size; ++i)
      same = t1[i].tag == t2[i].tag && t1[i].kind == t2[i].kind && t1[i].start == t2[i].start && t1[i].end == t2[i].end;
    for (std::size_t i = 0; same && i < p1.events.size; ++i) {
      const yomika::PairedEvent &x = p1.events[i], &y = e2[i];
      same = x.tag == y.tag && x.kind == y.kind && x.start == y.start && x.end == y.end;
    }
    for (std::size_t i = 0; same && i < p1.pairs.size; ++i)
      same = std::memcmp(&p1.pairs[i].open_start, &pairs2[i].open_start, 16) == 0 && p1.pairs[i].kind == pairs2[i].kind;
    for (std::size_t i = 0; same && i < d1.size(); ++i)
      same = d1[i].kind == d2[i].kind && d1[i].span.start == d2[i].span.start && d1[i].detail == d2[i].detail;
    if (!same) ++bad;
  }
  CHECK_EQ(bad, 0);
}

// A document's first block is handed to the next arena of a similar size on the same thread;
// capacity still reports what was asked for, and the memory is usable to its full size. Run on
// a thread of its own, which starts with nothing kept.
TEST(arena_reuses_the_first_block_of_an_ended_arena) {
  std::thread([] {
  void* first = nullptr;
  {
    Arena a;
    CHECK(a.try_reserve(1 << 20));
    first = a.alloc(16, 16);
  }
  {
    Arena b;
    CHECK(b.try_reserve(3 << 18));  // three quarters of the first: takes the kept block
    CHECK_EQ(b.capacity(), std::size_t{3 << 18});
    CHECK(b.alloc(16, 16) == first);
    char* big = static_cast<char*>(b.alloc((3 << 18) - 64, 1));
    std::memset(big, 1, (3 << 18) - 64);
  }
  {
    Arena c;
    CHECK(c.try_reserve(1 << 10));  // far smaller: does not pin the large block
    CHECK(c.alloc(16, 16) != first);
  }
  {
    Arena d;
    CHECK(d.try_reserve(1 << 21));  // larger than the kept block: a fresh one
    CHECK(d.alloc(16, 16) != first);
  }
  }).join();
}

// The cursor answers ascending questions as the tree search does, for registries of every size
// (complete and ragged last levels), with positions between, on and past the keys.
TEST(registry_cursor_matches_the_search) {
  std::mt19937 rng(5);
  int bad = 0;
  for (std::size_t n = 0; n < 300 && bad == 0; ++n) {
    std::vector<uint32_t> positions;
    std::vector<yomika::RegistryEntry> entries;
    uint32_t at = rng() % 5;
    for (std::size_t k = 0; k < n; ++k) {
      positions.push_back(at);
      yomika::RegistryEntry e;
      e.kind = static_cast<yomika::EntryKind>(rng() % 4);
      e.amount = static_cast<uint8_t>(k);
      entries.push_back(e);
      at += 3 + rng() % 4;
    }
    const yomika::SentinelRegistry r = yomika::build_registry(positions, entries);
    yomika::render::RegistryCursor cursor(r);
    for (uint32_t h = 0; h < at + 8; h += 1 + rng() % 3) {
      const auto kind = static_cast<yomika::EntryKind>(rng() % 4);
      const yomika::RegistryEntry want = yomika::render::matched_entry(r, h, kind);
      const yomika::RegistryEntry got = cursor.matched(h, kind);
      if (want.kind != got.kind || want.amount != got.amount) ++bad;
    }
  }
  CHECK_EQ(bad, 0);
}
