// Accent decomposition: which 〔…〕 contents are rewritten, and how keys and ligatures are read.
#include <string>
#include <string_view>

#include "testing.hpp"
#include "yomika/syntax/accent.hpp"

using yomika::syntax::decompose_accents;

namespace {
struct Row {
  const char* name;
  std::string_view in;
  std::string_view out;
};
}  // namespace

TEST(accent_rewrites_table) {
  const Row rows[] = {
      {"same_length", "〔cafe'〕", "〔café〕"},
      {"three_byte_result", "〔M'〕", "〔Ḿ〕"},
      {"ligature_first", "〔AE&on〕", "〔Æon〕"},
      {"ring", "〔A&〕", "〔Å〕"},
      {"sharp_s", "〔s&〕", "〔ß〕"},
      {"ligature_needs_matching_case", "〔Ae&〕", "〔Ae&〕"},
      {"all_four_ligatures", "〔AE&OE&ae&oe&〕", "〔ÆŒæœ〕"},
      {"no_marks", "〔abc〕", "〔abc〕"},
      {"empty", "〔〕", "〔〕"},
      {"unclosed", "x'y〔", "x'y〔"},
      {"outside_brackets", "cafe'", "cafe'"},
      {"outside_next_to_inside", "e'〔e'〕e'", "e'〔é〕e'"},
      {"nested_open_is_content", "〔a〔e'〕b〕", "〔a〔é〕b〕"},
      {"not_a_key", "〔x'〕", "〔x'〕"},
      {"stroke_not_for_e", "〔e/〕", "〔e/〕"},
      {"greedy_left", "〔A'E'〕", "〔ÁÉ〕"},
      {"consumed_letter_not_reused", "〔e''〕", "〔é'〕"},
      {"mark_first", "〔'e'〕", "〔'é〕"},
      {"lone_mark", "〔'〕", "〔'〕"},
      {"key_split_by_close", "〔e〕'", "〔e〕'"},
      {"ligature_cut_by_close", "〔AE〕&", "〔AE〕&"},
      {"ligature_falls_back_to_key", "〔ae'〕", "〔aé〕"},
      {"ligature_beats_key", "〔OE&:〕", "〔Œ:〕"},
      {"key_then_ligature_tail", "〔aAE&〕", "〔aÆ〕"},
      {"multibyte_kept", "〔日本e^語〕", "〔日本ê語〕"},
      {"multibyte_before_mark", "〔é'〕", "〔é'〕"},
      {"every_mark_once", "〔a`a'a^a:a~a_c,o/a&〕", "〔àáâäãāçøå〕"},
      {"two_spans", "〔e'〕と〔u:〕", "〔é〕と〔ü〕"},
      {"unclosed_after_closed", "〔e'〕〔e'", "〔é〕〔e'"},
      {"stray_close_first", "〕e'〔e'〕", "〕e'〔é〕"},
      {"no_bracket_at_all", "plain text", "plain text"},
      {"empty_text", "", ""},
      {"text_after_close", "〔n~〕o espan~ol", "〔ñ〕o espan~ol"},
      {"corpus_line", "〔Gou^ter,en regrettant l'e'te' blanc et torride,〕",
       "〔Goûter,en regrettant ĺété blanc et torride,〕"},
  };
  for (const Row& r : rows) {
    std::string got = decompose_accents(r.in);
    if (testing::check_fails(got != r.out)) {
      testing::fail(__FILE__, __LINE__,
                    std::string(r.name) + ": got \"" + got + "\", want \"" + std::string(r.out) + "\"");
    }
  }
}

// Every mark against every ASCII letter: exactly the 110 keys are rewritten, each to one
// character, and every other pair comes back unchanged.
TEST(accent_key_count) {
  const std::string marks = "`'^:~_,/&";
  int rewritten = 0;
  for (char m : marks) {
    for (char l = 'A'; l <= 'z'; ++l) {
      std::string in = "〔";
      in += l;
      in += m;
      in += "〕";
      std::string got = decompose_accents(in);
      if (got == in) continue;
      ++rewritten;
      std::string_view inner = std::string_view(got).substr(3, got.size() - 6);
      CHECK(inner.size() == 2 || inner.size() == 3);
      CHECK(static_cast<unsigned char>(inner[0]) >= 0xC0);
    }
  }
  CHECK_EQ(rewritten, 110);
}

// Decomposing twice changes nothing more: no key survives a pass, so a text written back from a
// parse reads back the same.
TEST(accent_is_idempotent) {
  const std::string_view inputs[] = {
      "〔AE&&e''oe&:a&&〕", "〔'e'〕", "〔e'〕〔e'", "〔a〔e'〕b〕", "〔Ae&〕", "〔l'e'te'〕",
  };
  for (std::string_view in : inputs) {
    std::string once = decompose_accents(in);
    CHECK_EQ(decompose_accents(once), once);
  }
}

// Many openers and no closer: one forward pass, the text handed back as it was.
TEST(accent_many_unclosed_openers) {
  std::string in;
  for (int i = 0; i < 100000; ++i) in += "〔e'";
  CHECK_EQ(decompose_accents(in), in);
  std::string closed;
  for (int i = 0; i < 100000; ++i) closed += "〔e'〕";
  std::string want;
  for (int i = 0; i < 100000; ++i) want += "〔é〕";
  CHECK_EQ(decompose_accents(closed), want);
}
