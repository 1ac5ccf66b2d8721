// Phase 0: byte-order marks, line endings, rule-line separation, sentinel replacement, and the
// no-copy path for text that needs none of them; the map from sanitized offsets back to the source.
#include <iterator>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "testing.hpp"
#include "yomika/pipeline/lexer/phase0_sanitize.hpp"

using yomika::Diagnostic;
using yomika::Diagnostics;
using yomika::DiagnosticKind;
using yomika::lex::Sanitized;

namespace {

struct Warning {
  uint32_t codepoint;
  uint32_t start;
};

struct Case {
  const char* name;
  std::string in;
  std::string out;
  std::vector<Warning> warnings;
};

const std::string kBom = "\xEF\xBB\xBF";
const std::string kIdeographicSpace = "\xE3\x80\x80";
const std::string kFffd = "\xEF\xBF\xBD";
std::string pua(int k) { return std::string("\xEE\x80") + static_cast<char>(0x80 + k); }  // U+E000 + k

const std::vector<Case>& cases() {
  static const std::vector<Case> table = {
      // Byte-order marks.
      {"three_leading_boms", kBom + kBom + kBom + "abc", "abc", {}},
      {"only_a_bom", kBom, "", {}},
      {"bom_after_text_stays", "a" + kBom, "a" + kBom, {}},
      {"partial_bom_stays", "\xEF\xBB" "a", "\xEF\xBB" "a", {}},
      // Line endings.
      {"crlf_lone_cr_and_cr_crlf", "a\r\nb\rc\r\r\nd", "a\nb\nc\n\nd", {}},
      {"cr_at_end", "a\r", "a\n", {}},
      {"cr_at_start", "\r\na", "\na", {}},
      {"lf_cr_stays_two_lines", "a\n\rb", "a\n\nb", {}},
      {"only_crs", "\r\r\r", "\n\n\n", {}},
      // Rule lines.
      {"rule_under_text", "abc\n----------", "abc\n\n----------", {}},
      {"nine_is_not_a_rule", "abc\n---------", "abc\n---------", {}},
      {"rule_after_blank", "abc\n\n----------", "abc\n\n----------", {}},
      {"rule_on_first_line", "----------\nabc", "----------\nabc", {}},
      {"rule_after_white_space_line", "abc\n " + kIdeographicSpace + "\n==========",
       "abc\n " + kIdeographicSpace + "\n==========", {}},
      {"ideographic_spaces_around_rule", "abc\n" + kIdeographicSpace + "----------" + kIdeographicSpace,
       "abc\n\n" + kIdeographicSpace + "----------" + kIdeographicSpace, {}},
      {"two_adjacent_rules", "abc\n----------\n==========", "abc\n\n----------\n\n==========", {}},
      {"underscores_and_tabs", "x\n\t__________\t\ny", "x\n\n\t__________\t\ny", {}},
      {"mixed_rule_bytes", "abc\n-----=====", "abc\n-----=====", {}},
      {"rule_then_text_on_line", "abc\n----------x", "abc\n----------x", {}},
      {"space_inside_rule", "abc\n----- -----", "abc\n----- -----", {}},
      {"hyphens_then_rule_on_one_line", "abc\n1-85 ----------", "abc\n1-85 ----------", {}},
      {"rule_after_a_line_of_hyphens", "1-85-54\n----------", "1-85-54\n\n----------", {}},
      {"fullwidth_dashes", "abc\n\xEF\xBC\x8D\xEF\xBC\x8D\xEF\xBC\x8D\xEF\xBC\x8D",
       "abc\n\xEF\xBC\x8D\xEF\xBC\x8D\xEF\xBC\x8D\xEF\xBC\x8D", {}},
      {"rule_after_crlf", "abc\r\n----------\r\n", "abc\n\n----------\n", {}},
      {"no_break_space_trims", "abc\n\xC2\xA0----------\xC2\x85", "abc\n\n\xC2\xA0----------\xC2\x85", {}},
      {"em_quad_and_line_separator", "a\n\xE2\x80\x83==========\xE2\x80\xA8", "a\n\n\xE2\x80\x83==========\xE2\x80\xA8",
       {}},
      {"not_white_space_e2_80_8b", "a\n\xE2\x80\x8B==========", "a\n\xE2\x80\x8B==========", {}},
      {"truncated_space_at_end", "a\n==========\xE3\x80", "a\n==========\xE3\x80", {}},
      // Sentinel characters.
      {"e002_at_offset_6", "abcdef" + pua(2) + "g", "abcdef" + kFffd + "g", {{0xE002, 6}}},
      {"all_four_sentinels", pua(1) + pua(2) + pua(3) + pua(4), kFffd + kFffd + kFffd + kFffd,
       {{0xE001, 0}, {0xE002, 3}, {0xE003, 6}, {0xE004, 9}}},
      {"e000_and_e005_are_text", pua(0) + pua(5), pua(0) + pua(5), {}},
      {"truncated_sentinel_at_end", "a\xEE\x80", "a\xEE\x80", {}},
      {"sentinel_after_crlf_shifts", "a\r\n" + pua(1), "a\n" + kFffd, {{0xE001, 2}}},
      {"sentinel_after_bom", kBom + pua(4), kFffd, {{0xE004, 0}}},
      {"sentinel_after_separated_rule", "a\n----------\n" + pua(3), "a\n\n----------\n" + kFffd, {{0xE003, 14}}},
      // Untouched.
      {"empty", "", "", {}},
      {"plain_japanese", "吾輩は猫である。\n名前はまだ無い。", "吾輩は猫である。\n名前はまだ無い。", {}},
  };
  return table;
}

}  // namespace

TEST(sanitize_table) {
  for (const Case& c : cases()) {
    Sanitized s;
    Diagnostics warnings;
    yomika::lex::sanitize(c.in, s, warnings);
    if (testing::check_fails(std::string(s.text) != c.out)) {
      testing::fail(__FILE__, __LINE__, std::string("case ") + c.name + ": text " + testing::show(std::string(s.text)));
    }
    bool same = warnings.size() == c.warnings.size();
    for (std::size_t i = 0; same && i < warnings.size(); ++i) {
      const Diagnostic& d = warnings[i];
      same = d.kind == DiagnosticKind::SourceContainsPua && d.codepoint == c.warnings[i].codepoint &&
             d.span.start == c.warnings[i].start && d.span.end == c.warnings[i].start + 3;
    }
    if (testing::check_fails(!same)) testing::fail(__FILE__, __LINE__, std::string("case ") + c.name + ": warnings differ");
  }
}

TEST(sanitize_appends_warnings_after_existing_ones) {
  Diagnostics warnings = {Diagnostic{}, Diagnostic{}};
  Sanitized s;
  yomika::lex::sanitize(std::string("x").append(pua(1)), s, warnings);
  CHECK_EQ(warnings.size(), std::size_t{3});
  CHECK_EQ(warnings[2].span.start, 1u);
}

TEST(sanitize_copies_nothing_when_nothing_changes) {
  const std::string inputs[] = {"", "plain text", "吾輩は猫\nである", kBom + "after a mark", "---------\n＝＝＝",
                                "〕abc〕", pua(0) + "\xEE\x81\x81"};
  for (const std::string& in : inputs) {
    Sanitized s;
    Diagnostics warnings;
    yomika::lex::sanitize(in, s, warnings);
    CHECK(!s.copied);
    CHECK(s.owned.empty());
    CHECK(s.text.data() + s.text.size() == in.data() + in.size());
  }
}

TEST(sanitize_reuses_result_object) {
  Sanitized s;
  Diagnostics warnings;
  yomika::lex::sanitize("a\r\nb", s, warnings);
  CHECK(s.copied);
  std::string plain = "plain";
  yomika::lex::sanitize(plain, s, warnings);
  CHECK(!s.copied);
  CHECK_EQ(std::string(s.text), plain);
}

TEST(rule_line_check_and_separation_alone) {
  CHECK(yomika::lex::has_rule_line("text\n==========\n"));
  CHECK(yomika::lex::has_rule_line("__________"));
  CHECK(!yomika::lex::has_rule_line(""));
  CHECK(!yomika::lex::has_rule_line("text\n=========\n"));
  CHECK_EQ(yomika::lex::separate_rule_lines("a\n----------\nb\n----------\n"), std::string("a\n\n----------\nb\n\n----------\n"));
  CHECK_EQ(yomika::lex::separate_rule_lines("\n----------"), std::string("\n----------"));
}

TEST(sanitize_long_text_with_many_line_endings) {
  std::string in, want;
  for (int i = 0; i < 20000; ++i) {
    in += "行" + std::to_string(i) + (i % 3 == 0 ? "\r\n" : i % 3 == 1 ? "\r" : "\n");
    want += "行" + std::to_string(i) + "\n";
  }
  Sanitized s;
  Diagnostics warnings;
  yomika::lex::sanitize(in, s, warnings);
  CHECK(std::string(s.text) == want);
  CHECK(warnings.empty());
}

namespace {

struct MapCase {
  const char* name;
  std::string in;
  std::vector<std::pair<std::size_t, std::size_t>> sanitized_to_source;
};

}  // namespace

TEST(source_map_table) {
  const MapCase cases[] = {
      {"untouched", "abc", {{0, 0}, {2, 2}, {3, 3}}},
      {"boms", kBom + kBom + "ab", {{0, 6}, {2, 8}}},
      {"crlf_and_lone_cr", "a\r\r\nb\r\nc", {{1, 1}, {2, 2}, {3, 4}, {4, 5}, {5, 7}}},
      {"rule_under_text", "x\n----------\nabc」", {{2, 2}, {3, 2}, {13, 12}, {17, 16}}},
      {"same_length_accent", "〔cafe'〕で」", {{6, 6}, {8, 8}, {14, 14}}},
      {"longer_accent", "〔m'〕」", {{3, 3}, {6, 5}, {9, 8}}},
      {"shorter_ligature", "〔ae&e'〕」", {{3, 3}, {5, 6}, {10, 11}}},
      {"everything", kBom + "x\r\n----------\r\n〔m'〕」", {{0, 3}, {1, 4}, {2, 6}, {3, 6}, {13, 16}, {14, 18}, {17, 21}, {20, 23}, {23, 26}}},
      {"rule_inside_accent", "〔ae&\r\n----------\r\nm'〕」", {{3, 3}, {5, 6}, {6, 8}, {7, 8}, {17, 18}, {18, 20}, {21, 22}, {24, 25}}},
  };
  for (const MapCase& c : cases) {
    const yomika::lex::SourceMap map = yomika::lex::source_map(c.in);
    CHECK_EQ(map.source_size, c.in.size());
    for (auto [s, want] : c.sanitized_to_source) {
      if (testing::check_fails(map.to_source(s) != want)) {
        testing::fail(__FILE__, __LINE__, std::string("case ") + c.name + ": " + std::to_string(s) + " -> " +
                                              std::to_string(map.to_source(s)) + ", want " + std::to_string(want));
      }
    }
  }
}

// Random texts of the pieces that the steps change: every sanitized byte must come back to a
// source byte that explains it.
TEST(source_map_explains_every_sanitized_byte) {
  static const char* const kPieces[] = {"あ", "〔", "〕", "」", "\n", "\r", "\r\n", "-", "----------", "==========",
                                        "　", " ", "e'", "AE&", "m'", "o:", "x'", "&", "a", "\xEE\x80\x81",
                                        "\xEF\xBB\xBF", "\xE3\x80"};
  std::mt19937 rng(18);
  for (int round = 0; round < 3000; ++round) {
    std::string in = rng() % 4 == 0 ? kBom : "";
    const std::size_t pieces = rng() % (round < 2000 ? 12 : 200);
    for (std::size_t i = 0; i < pieces; ++i) in += kPieces[rng() % std::size(kPieces)];
    Sanitized s;
    Diagnostics warnings;
    yomika::lex::sanitize(in, s, warnings);
    const std::string out(s.text);
    const yomika::lex::SourceMap map = yomika::lex::source_map(in);
    CHECK_EQ(map.sanitized_size, out.size());
    CHECK_EQ(map.to_source(out.size()), in.size());
    std::size_t previous = 0;
    for (std::size_t i = 0; i < out.size(); ++i) {
      const std::size_t at = map.to_source(i);
      const auto o = static_cast<unsigned char>(out[i]);
      const auto b = at < in.size() ? static_cast<unsigned char>(in[at]) : 0;
      bool explained;
      if (o == '\n') {
        // a line end of the file, or the line feed put before a rule line (it comes from there)
        explained = b == '\n' || b == '\r' || map.to_source(i + 1) == at;
      } else if ((o & 0xC0) == 0x80) {
        explained = true;  // inside a character; only character starts are asked
      } else {
        const bool accent = o >= 0xC3 && ((b | 0x20) >= 'a' && (b | 0x20) <= 'z');
        const bool replaced = out.compare(i, 3, kFffd) == 0 && b == 0xEE;
        explained = b == o || accent || replaced;
      }
      if (testing::check_fails(!explained || at < previous)) {
        testing::fail(__FILE__, __LINE__, "round " + std::to_string(round) + ": sanitized " + std::to_string(i) +
                                              " -> " + std::to_string(at) + " in " + testing::show(in));
        return;
      }
      previous = at;
    }
  }
}
