// Phase 1 token stream: the cases of the notation's front end, merging of doubled ruby
// brackets, the stream's covering invariants on random texts, and the length refusal.
#include <cstdint>
#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"

using yomika::Arena;
using yomika::ArenaVec;
using yomika::lex::Token;
using yomika::lex::TokenTag;
using yomika::scan::TriggerKind;

namespace {

// Tokens written compactly: "T0-3" text, "L5" line feed, "Bar0-3" and so on for triggers.
std::string show(const Token& t) {
  static const char* const names[] = {"Bar",   "RubyOpen",     "RubyClose",     "DRubyOpen", "DRubyClose",
                                      "BrOpen", "BrClose",     "Hash",          "RefMark",   "TortOpen",
                                      "TortClose", "QuoteOpen", "QuoteClose"};
  switch (t.tag) {
    case TokenTag::Text: return std::string("T").append(std::to_string(t.start)).append("-").append(std::to_string(t.end));
    case TokenTag::LineFeed: return std::string("L").append(std::to_string(t.start));
    case TokenTag::Trigger:
      return std::string(names[static_cast<int>(t.kind)]) + std::to_string(t.start) + "-" + std::to_string(t.end);
  }
  return "?";
}

std::string tokens_of(std::string_view text) {
  Arena a;
  ArenaVec<Token> toks;
  std::string refusal;
  if (!yomika::lex::build_tokens(text, a, toks, refusal)) return "refused: " + refusal;
  std::string out;
  for (const Token& t : toks) {
    if (!out.empty()) out += ' ';
    out += show(t);
  }
  return out;
}

}  // namespace

TEST(tokens_table) {
  struct Row {
    const char* text;
    const char* want;
  };
  const Row rows[] = {
      {"", ""},
      {"abc", "T0-3"},
      {"\n", "L0"},
      {"a\n\nb", "T0-1 L1 L2 T3-4"},
      {"｜漢字《かんじ》", "Bar0-3 T3-9 RubyOpen9-12 T12-21 RubyClose21-24"},
      {"《《a》》", "DRubyOpen0-6 T6-7 DRubyClose7-13"},
      {"《《《", "DRubyOpen0-6 RubyOpen6-9"},
      {"《《《《", "DRubyOpen0-6 DRubyOpen6-12"},
      {"》》》", "DRubyClose0-6 RubyClose6-9"},
      {"《》", "RubyOpen0-3 RubyClose3-6"},
      {"》《", "RubyClose0-3 RubyOpen3-6"},
      {"《a《", "RubyOpen0-3 T3-4 RubyOpen4-7"},
      {"《\n《", "RubyOpen0-3 L3 RubyOpen4-7"},
      {"「」", "QuoteOpen0-3 QuoteClose3-6"},
      {"ab」", "T0-2 QuoteClose2-5"},
      {"a\n", "T0-1 L1"},
      {"※［＃〔〕］", "RefMark0-3 BrOpen3-6 Hash6-9 TortOpen9-12 TortClose12-15 BrClose15-18"},
      {"a|#[b", "T0-5"},
      {"、〈〉", "T0-9"},
  };
  for (const Row& r : rows) CHECK_EQ(tokens_of(r.text), std::string(r.want));
}

// Every byte is in exactly one token; text tokens are non-empty, never adjacent and hold no
// trigger or line feed; triggers cover 3 bytes (6 when doubled); starts strictly ascend.
TEST(tokens_cover_random_texts) {
  std::mt19937 rng(99);
  const char* const pieces[] = {"《", "》", "｜", "［", "］", "＃", "※", "〔", "〕", "「", "」",
                                "\n", "a",  "漢", "、", "〈", "\xE3\x80\x8E"};
  int bad = 0;
  for (int round = 0; round < 2000 && bad == 0; ++round) {
    std::string s;
    std::size_t parts = rng() % 60;
    for (std::size_t k = 0; k < parts; ++k) s += pieces[rng() % (sizeof pieces / sizeof pieces[0])];
    Arena a;
    ArenaVec<Token> toks;
    std::string refusal;
    if (!yomika::lex::build_tokens(s, a, toks, refusal)) { ++bad; continue; }
    uint32_t cursor = 0;
    bool prev_text = false;
    for (const Token& t : toks) {
      uint32_t end = t.tag == TokenTag::LineFeed ? t.start + 1 : t.end;
      if (t.start != cursor || end <= t.start) ++bad;
      std::string_view body(s.data() + t.start, end - t.start);
      if (t.tag == TokenTag::Text) {
        if (prev_text) ++bad;
        if (body.find('\n') != body.npos) ++bad;
        for (const char* trig : {"《", "》", "｜", "［", "］", "＃", "※", "〔", "〕", "「", "」"})
          if (body.find(trig) != body.npos) ++bad;
      } else if (t.tag == TokenTag::LineFeed) {
        if (body != "\n") ++bad;
      } else {
        bool dbl = t.kind == TriggerKind::DoubleRubyOpen || t.kind == TriggerKind::DoubleRubyClose;
        if (body.size() != (dbl ? 6u : 3u)) ++bad;
      }
      prev_text = t.tag == TokenTag::Text;
      cursor = end;
    }
    if (cursor != s.size()) ++bad;
  }
  CHECK_EQ(bad, 0);
}

TEST(tokens_many_lines_grow_past_the_guess) {
  std::string s;
  for (int i = 0; i < 5000; ++i) s += i % 3 ? "ab\n" : "\n\n";
  Arena a;
  ArenaVec<Token> toks;
  std::string refusal;
  CHECK(yomika::lex::build_tokens(s, a, toks, refusal));
  std::size_t feeds = 0;
  for (const Token& t : toks) feeds += t.tag == TokenTag::LineFeed;
  CHECK_EQ(feeds, static_cast<std::size_t>(std::count(s.begin(), s.end(), '\n')));
}

// The refusal comes before any byte is read, so a view longer than its memory is safe here.
TEST(tokens_refuse_texts_beyond_32_bit_offsets) {
  if constexpr (sizeof(std::size_t) > 4) {
    char byte = 'a';
    Arena a;
    ArenaVec<Token> toks;
    std::string refusal;
    std::string_view huge(&byte, std::size_t{1} << 32);
    CHECK(!yomika::lex::build_tokens(huge, a, toks, refusal));
    CHECK_EQ(refusal, std::string("source too long for u32 span offsets (4294967296 bytes)"));
    CHECK_EQ(toks.size, std::size_t{0});
  }
}
