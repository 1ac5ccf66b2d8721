// Gaiji: table lookups by exact key, the resolution order, and classification of ※［＃…］ bodies.
#include <cstdio>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing.hpp"
#include "yomika/alloc/arena.hpp"
#include "yomika/pipeline/lexer/gaiji.hpp"
#include "yomika/pipeline/lexer/phase1_events.hpp"
#include "yomika/pipeline/lexer/phase3_classify.hpp"
#include "yomika/pipeline/pairing.hpp"
#include "yomika/pipeline/pipeline.hpp"
#include "yomika/syntax/gaiji_tables.hpp"

namespace {

using namespace yomika;
using classify::GaijiRule;
namespace gt = yomika::syntax::gaiji;

constexpr uint32_t kNone = 0xFFFFFFFFu;  // "no code point" in the tables below

std::string cell_key(int level, int plane, uint16_t key) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "第%d水準%d-%d-%d", level, plane, key >> 8, key & 0xFF);
  return buf;
}

// ---- Tables -------------------------------------------------------------------------------------

TEST(gaiji_tables_have_the_standard_sizes_and_ascending_keys) {
  CHECK_EQ(gt::kPlane1Cells.size, 1893u);
  CHECK_EQ(gt::kPlane1PairCells.size, 25u);
  CHECK_EQ(gt::kPlane2Cells.size, 2436u);
  for (const gt::CellTable* t : {&gt::kPlane1Cells, &gt::kPlane2Cells})
    for (uint32_t i = 1; i < t->size; ++i) CHECK(t->keys[i - 1] < t->keys[i]);
  for (uint32_t i = 1; i < gt::kPlane1PairCells.size; ++i)
    CHECK(gt::kPlane1PairCells.keys[i - 1] < gt::kPlane1PairCells.keys[i]);
  auto rows = gt::description_rows();
  for (std::size_t i = 1; i < rows.size(); ++i) CHECK(rows[i - 1].description < rows[i].description);
}

// Every key, spelled as the notation spells it, finds its own value, and only in its own table.
TEST(gaiji_every_cell_is_found_by_its_mention) {
  int misses = 0;
  for (uint32_t i = 0; i < gt::kPlane1Cells.size; ++i) {
    std::string k = cell_key(3, 1, gt::kPlane1Cells.keys[i]);
    if (gt::find_mention(k) != std::optional<uint32_t>(gt::kPlane1Cells.code_points[i])) ++misses;
    if (gt::find_two_code_points(k)) ++misses;
  }
  for (uint32_t i = 0; i < gt::kPlane2Cells.size; ++i) {
    std::string k = cell_key(4, 2, gt::kPlane2Cells.keys[i]);
    if (gt::find_mention(k) != std::optional<uint32_t>(gt::kPlane2Cells.code_points[i])) ++misses;
    if (gt::find_two_code_points(k)) ++misses;
  }
  for (uint32_t i = 0; i < gt::kPlane1PairCells.size; ++i) {
    std::string k = cell_key(3, 1, gt::kPlane1PairCells.keys[i]);
    if (gt::find_two_code_points(k) != std::optional<std::string_view>(gt::kPlane1PairCells.texts[i])) ++misses;
    if (gt::find_mention(k)) ++misses;
  }
  CHECK_EQ(misses, 0);
}

struct MentionCase {
  const char* name;
  std::string_view key;
  uint32_t expected;
};

TEST(gaiji_mention_keys_match_as_exact_strings) {
  const MentionCase cases[] = {
      {"plane1 sample", "第3水準1-85-8", 0xFA41},
      {"plane1 row 13", "第3水準1-13-35", 0x334D},
      {"plane1 row 10", "第3水準1-10-1", 0x0104},
      {"plane2 last", "第4水準2-94-86", 0x2A6B2},
      {"plane2 row 1", "第4水準2-1-57", 0x5010},
      {"leading zero row", "第3水準1-05-90", kNone},
      {"leading zero cell", "第3水準1-85-08", kNone},
      {"trailing space", "第3水準1-85-8 ", kNone},
      {"trailing text", "第3水準1-85-8x", kNone},
      {"three-digit cell", "第3水準1-85-800", kNone},
      {"level 4 with plane 1", "第4水準1-85-8", kNone},
      {"level 3 with plane 2", "第3水準2-94-86", kNone},
      {"cell 95", "第3水準1-85-95", kNone},
      {"row 0", "第3水準1-0-1", kNone},
      {"JIS X 0208 cell", "第3水準1-16-1", kNone},
      {"plane2 row not in the standard", "第4水準2-2-1", kNone},
      {"two-code-point cell", "第3水準1-5-87", kNone},
      {"bare plane-row-cell", "1-85-8", kNone},
      {"missing cell", "第3水準1-85-", kNone},
      {"missing cell and hyphen", "第3水準1-85", kNone},
      {"prefix only", "第3水準1-", kNone},
      {"empty", "", kNone},
  };
  for (const auto& c : cases) {
    auto got = gt::find_mention(c.key);
    uint32_t v = got ? *got : kNone;
    if (v != c.expected) std::fprintf(stderr, "  case %s\n", c.name);
    CHECK_EQ(v, c.expected);
  }
  CHECK(gt::find_two_code_points("第3水準1-5-87") == std::optional<std::string_view>("\u30AB\u309A"));
  CHECK(gt::find_two_code_points("第3水準1-11-70") == std::optional<std::string_view>("\u02E5\u02E9"));
  CHECK(!gt::find_two_code_points("第3水準1-05-87"));
  CHECK(!gt::find_two_code_points("第4水準2-5-87"));
}

// ---- Resolution order ---------------------------------------------------------------------------

struct ResolveCase {
  const char* name;
  std::optional<std::string_view> mention;
  std::string_view description;
  GaijiRule rule;
  uint32_t ch;  // Char resolutions only
};

TEST(gaiji_resolution_order_and_code_point_rule) {
  const ResolveCase cases[] = {
      {"mention before description", "第3水準1-85-8", "木＋駟のつくり", GaijiRule::Mention, 0xFA41},
      {"two code points", "第3水準1-5-87", "カ゚", GaijiRule::MentionPair, 0},
      {"code point", "U+4E00", "ほげ", GaijiRule::CodePoint, 0x4E00},
      {"code point lower case", "U+4e00", "ほげ", GaijiRule::CodePoint, 0x4E00},
      {"code point one digit", "U+A", "ほげ", GaijiRule::CodePoint, 0x0A},
      {"code point six digits", "U+10FFFF", "ほげ", GaijiRule::CodePoint, 0x10FFFF},
      {"code point with plus sign", "U++41", "ほげ", GaijiRule::CodePoint, 0x41},
      {"lone plus", "U++", "ほげ", GaijiRule::Unresolved, 0},
      {"minus sign", "U+-41", "ほげ", GaijiRule::Unresolved, 0},
      {"two plus signs", "U+++41", "ほげ", GaijiRule::Unresolved, 0},
      {"prefix only", "U+", "あ", GaijiRule::SingleChar, 0x3042},
      {"surrogate falls through", "U+D800", "ほげ", GaijiRule::Unresolved, 0},
      {"surrogate then description", "U+DFFF", "丸1", GaijiRule::Description, 0x2460},
      {"beyond Unicode", "U+110000", "ほげ", GaijiRule::Unresolved, 0},
      {"too long (9 bytes)", "U+0004E00", "ほげ", GaijiRule::Unresolved, 0},
      {"non-hex digit", "U+4G00", "ほげ", GaijiRule::Unresolved, 0},
      {"lower-case prefix", "u+4E00", "ほげ", GaijiRule::Unresolved, 0},
      {"code point before a page reference", "U+5A2C、28-13", "女＋武", GaijiRule::CodePointFirst, 0x5A2C},
      {"code point before a bare comma", "U+5A2C、", "女＋武", GaijiRule::CodePointFirst, 0x5A2C},
      {"description before a leading code point", "U+5A2C、28-13", "丸1", GaijiRule::Description, 0x2460},
      {"leading surrogate", "U+D800、28-13", "ほげ", GaijiRule::Unresolved, 0},
      {"leading code point of seven digits", "U+0005A2C、1", "ほげ", GaijiRule::Unresolved, 0},
      {"bare plane 1 cell", "1-85-8", "ほげ", GaijiRule::BareCell, 0xFA41},
      {"bare plane 2 cell", "2-94-86", "ほげ", GaijiRule::BareCell, 0x2A6B2},
      {"bare cell after the description", "1-85-8", "丸1", GaijiRule::Description, 0x2460},
      {"page and line", "56-1", "ほげ", GaijiRule::Unresolved, 0},
      {"bare plane 3", "3-1-1", "ほげ", GaijiRule::Unresolved, 0},
      {"bare cell of two code points", "1-5-87", "ほげ", GaijiRule::BareCell, 0},
      {"mention misses, description hits", "1-2-22", "二の字点", GaijiRule::Description, 0x303B},
      {"no mention, description", std::nullopt, "丸1", GaijiRule::Description, 0x2460},
      {"astral description", std::nullopt, "木＋厚", GaijiRule::Description, 0x23594},
      {"private-use description", std::nullopt, "虫＋罔", GaijiRule::Description, 0x10486A},
      {"description of one character in the table", std::nullopt, "〻", GaijiRule::Description, 0x303B},
      {"single character", std::nullopt, "あ", GaijiRule::SingleChar, 0x3042},
      {"single astral character", std::nullopt, "𠀋", GaijiRule::SingleChar, 0x2000B},
      {"single ASCII character", "", "a", GaijiRule::SingleChar, 0x61},
      {"two characters", std::nullopt, "ほげ", GaijiRule::Unresolved, 0},
      {"empty mention", "", "ほげ", GaijiRule::Unresolved, 0},
  };
  for (const auto& c : cases) {
    auto out = classify::resolve_gaiji_with_rule(c.mention, c.description);
    if (out.rule != c.rule) std::fprintf(stderr, "  case %s\n", c.name);
    CHECK_EQ(static_cast<int>(out.rule), static_cast<int>(c.rule));
    using S = GaijiResolution::State;
    S want = c.rule == GaijiRule::Unresolved ? S::Unresolved : c.rule == GaijiRule::MentionPair ? S::Text : S::Char;
    if (c.rule == GaijiRule::BareCell && c.ch == 0) want = S::Text;
    CHECK_EQ(static_cast<int>(out.resolution.state), static_cast<int>(want));
    if (want == S::Char) CHECK_EQ(out.resolution.ch, c.ch);
  }
  CHECK_EQ(classify::resolve_gaiji("第3水準1-5-87", "x").text, std::string_view("\u30AB\u309A"));
}

// ---- Classification over real bodies ------------------------------------------------------------

// Runs the front end over src and collects the frame of the first ［, with links as assembly
// builds them (a closer links to the nearest open entry of its kind on the frame's stack).
struct Frame {
  Arena arena;
  std::vector<PairedEvent> ev;
  std::vector<uint32_t> link;
};

bool collect_frame(std::string_view src, Frame& f) {
  ArenaVec<lex::Token> tokens;
  std::string refusal;
  if (!lex::build_tokens(src, f.arena, tokens, refusal)) return false;
  Diagnostics diags;
  Paired paired = pair_brackets(tokens, f.arena, diags);
  std::vector<std::pair<uint8_t, uint32_t>> stack;
  bool open = false;
  for (const PairedEvent& e : paired.events) {
    if (!open) {
      if (e.tag != EventTag::PairOpen || e.kind != static_cast<uint8_t>(PairKind::Bracket)) continue;
      open = true;
    }
    uint32_t idx = static_cast<uint32_t>(f.ev.size());
    f.ev.push_back(e);
    f.link.push_back(classify::kNoLink);
    if (e.tag == EventTag::PairOpen) {
      stack.push_back({e.kind, idx});
    } else if (e.tag == EventTag::PairClose) {
      for (std::size_t j = stack.size(); j-- > 0;) {
        if (stack[j].first != e.kind) continue;
        f.link[idx] = stack[j].second;
        f.link[stack[j].second] = idx;
        stack.erase(stack.begin() + static_cast<std::ptrdiff_t>(j));
        break;
      }
      if (stack.empty()) return true;
    }
  }
  return open;
}

struct ClassifyCase {
  const char* name;
  std::string_view src;  // text after ※: the frame is its first ［
  bool ok;
  std::string_view description;
  std::optional<std::string_view> mention;
  GaijiResolution::State state;
  uint32_t ch;
};

using St = GaijiResolution::State;

const ClassifyCase kClassifyCases[] = {
    {"mention wins over description", "［＃「木＋駟のつくり」、第3水準1-85-8］", true, "木＋駟のつくり", "第3水準1-85-8",
     St::Char, 0xFA41},
    {"two code points", "［＃「カ゚」、第3水準1-5-87］", true, "カ゚", "第3水準1-5-87", St::Text, 0},
    {"code point", "［＃「ほげ」、U+4E00］", true, "ほげ", "U+4E00", St::Char, 0x4E00},
    {"surrogate code point", "［＃「ほげ」、U+D800］", true, "ほげ", "U+D800", St::Unresolved, 0},
    {"plain bare plane-row-cell", "［＃二の字点、1-2-22］", true, "二の字点", "1-2-22", St::Char, 0x303B},
    {"plain without comma", "［＃二の字点］", false, "", std::nullopt, St::Unresolved, 0},
    {"quoted, no mention", "［＃「丸1」］", true, "丸1", std::nullopt, St::Char, 0x2460},
    {"quoted description table", "［＃「〻」］", true, "〻", std::nullopt, St::Char, 0x303B},
    {"quoted single character", "［＃「あ」］", true, "あ", std::nullopt, St::Char, 0x3042},
    {"empty quote, plain rejects 「」", "［＃「」、第3水準1-5-90］", false, "", std::nullopt, St::Unresolved, 0},
    {"text after quote ignored", "［＃「ほげ」ふが］", true, "ほげ", std::nullopt, St::Unresolved, 0},
    {"only the first quote pair, mention last", "［＃「田＋劵」の「力」に代えて「土」、第4水準2-3-69］", true, "田＋劵",
     "第4水準2-3-69", St::Char, 0x5424},
    {"words, then a page reference", "［＃「ほげ」の説明、56-1］", true, "ほげ", "56-1", St::Unresolved, 0},
    {"words ending in no mention", "［＃「ほげ」の説明、ふが］", true, "ほげ", std::nullopt, St::Unresolved, 0},
    {"component by substitution", "［＃「りっしんべん＋（「夢」の「夕」に代えて「目」）」、第4水準2-12-81］", true,
     "りっしんべん＋（「夢」の「夕」に代えて「目」）", "第4水準2-12-81", St::Char, 0x61F5},
    {"plain bare cell", "［＃ローマ数字1小文字、1-12-21］", true, "ローマ数字1小文字", "1-12-21", St::Char, 0x2170},
    {"quoted mention trimmed", "［＃「ほげ」　、　第3水準1-85-8　］", true, "ほげ", "第3水準1-85-8", St::Char, 0xFA41},
    {"quoted empty mention", "［＃「ほげ」、］", true, "ほげ", "", St::Unresolved, 0},
    {"quoted mention of any shape", "［＃「女＋武」、U+5A2C、28-13］", true, "女＋武", "U+5A2C、28-13", St::Char,
     0x5A2C},
    {"quoted leading space before 「", "［＃ 「ほげ」、U+4E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"quoted description keeps spaces", "［＃「 あ 」］", true, " あ ", std::nullopt, St::Unresolved, 0},
    {"plain level mention", "［＃木＋夜、第3水準1-85-76］", true, "木＋夜", "第3水準1-85-76", St::Char, 0x68ED},
    {"plain trims both sides", "［＃ 木＋夜 、 第3水準1-85-76 ］", true, "木＋夜", "第3水準1-85-76", St::Char, 0x68ED},
    {"plain level digits optional", "［＃ほげ、第水準1-1］", true, "ほげ", "第水準1-1", St::Unresolved, 0},
    {"plain level rest needs a digit", "［＃ほげ、第3水準--］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain level rest must not be empty", "［＃ほげ、第3水準］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain level rest ASCII only", "［＃ほげ、第3水準1-5-９０］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain code point", "［＃ほげ、U+4E00］", true, "ほげ", "U+4E00", St::Char, 0x4E00},
    {"plain code point seven digits", "［＃ほげ、U+0004E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain code point with plus", "［＃ほげ、U++41］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain code point no digits", "［＃ほげ、U+］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain hyphens only", "［＃ほげ、--］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain words after comma", "［＃ほげ、ふが］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain empty mention", "［＃ほげ、］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain empty description", "［＃、U+4E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain first comma splits", "［＃あ、い、1-2］", false, "", std::nullopt, St::Unresolved, 0},
    {"plain description with quote", "［＃あ」、1-2］", false, "", std::nullopt, St::Unresolved, 0},
    {"quoted component in quoted form", "［＃「「あ」」、U+4E00］", true, "「あ」", "U+4E00", St::Char, 0x4E00},
    {"nested annotation in description", "［＃あ［＃い］、U+4E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"unclosed quote falls to plain", "［＃「あ、U+4E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"no hash", "［ほげ、U+4E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"hash not first", "［ ＃ほげ、U+4E00］", false, "", std::nullopt, St::Unresolved, 0},
    {"empty annotation", "［＃］", false, "", std::nullopt, St::Unresolved, 0},
    {"empty bracket", "［］", false, "", std::nullopt, St::Unresolved, 0},
    {"unclosed bracket", "［＃「あ」", false, "", std::nullopt, St::Unresolved, 0},
};

TEST(gaiji_classify_bodies) {
  for (const auto& c : kClassifyCases) {
    Frame f;
    std::string src(c.src);
    if (!collect_frame(src, f)) {
      std::fprintf(stderr, "  case %s: no frame\n", c.name);
      CHECK(false);
      continue;
    }
    Interner in(f.arena, src.size());
    classify::QuoteResolver resolver(src);
    classify::Context cx{src, in, resolver};
    classify::Body body{f.ev.data(), f.link.data(), static_cast<uint32_t>(f.ev.size())};
    classify::Hit hit = classify::classify_gaiji(cx, body, 0);
    if (hit.ok != c.ok) std::fprintf(stderr, "  case %s\n", c.name);
    CHECK_EQ(hit.ok, c.ok);
    if (!hit.ok || !c.ok) continue;
    const GaijiRec& g = hit.node.gaiji();
    CHECK(hit.node.kind == NodeKind::Gaiji);
    CHECK_EQ(hit.span.end, static_cast<uint32_t>(src.rfind("］") + 3));
    CHECK_EQ(g.description, c.description);
    CHECK_EQ(g.has_mention, c.mention.has_value());
    if (c.mention) CHECK_EQ(g.mention, *c.mention);
    if (g.resolved.state != c.state) std::fprintf(stderr, "  case %s: state\n", c.name);
    CHECK_EQ(static_cast<int>(g.resolved.state), static_cast<int>(c.state));
    if (c.state == St::Char) CHECK_EQ(g.resolved.ch, c.ch);
  }
}

// A body whose first event is not a bracket, or an index past the body, is no gaiji.
TEST(gaiji_classify_refuses_other_openers) {
  for (std::string_view src : {std::string_view("「＃ほげ、U+4E00」"), std::string_view("《＃ほげ、U+4E00》")}) {
    Frame f;
    ArenaVec<lex::Token> tokens;
    std::string refusal;
    CHECK(lex::build_tokens(src, f.arena, tokens, refusal));
    Diagnostics diags;
    Paired paired = pair_brackets(tokens, f.arena, diags);
    std::vector<uint32_t> link(paired.events.size, classify::kNoLink);
    link[0] = static_cast<uint32_t>(paired.events.size - 1);
    link[paired.events.size - 1] = 0;
    Interner in(f.arena, src.size());
    classify::QuoteResolver resolver(src);
    classify::Context cx{src, in, resolver};
    classify::Body body{paired.events.data, link.data(), static_cast<uint32_t>(paired.events.size)};
    CHECK(!classify::classify_gaiji(cx, body, 0).ok);
    CHECK(!classify::classify_gaiji(cx, body, body.n).ok);
  }
}

// ---- Through the whole pipeline -----------------------------------------------------------------

struct Found {
  uint32_t start, end;
  std::string description;
};

std::vector<Found> gaiji_nodes(std::string_view src) {
  Arena arena;
  YomikaDoc doc{src, &arena};
  ParseResult r;
  std::string refusal;
  std::vector<Found> out;
  if (!parse_document(doc, r, refusal)) return out;
  for (std::size_t i = 0; i < r.node_count; ++i) {
    const SourceNode& n = r.nodes[i];
    if (n.entry.kind == EntryKind::Inline && n.entry.node.kind == NodeKind::Gaiji)
      out.push_back({n.span.start, n.span.end, std::string(n.entry.node.gaiji().description)});
  }
  return out;
}

TEST(gaiji_pipeline_span_starts_at_the_reference_mark) {
  auto found = gaiji_nodes("あ※［＃「丸1」］い");
  CHECK_EQ(found.size(), std::size_t{1});
  if (found.size() == 1) {
    CHECK_EQ(found[0].start, 3u);
    CHECK_EQ(found[0].end, static_cast<uint32_t>(std::string_view("あ※［＃「丸1」］").size()));
    CHECK_EQ(found[0].description, std::string("丸1"));
  }
  CHECK(gaiji_nodes("※ ［＃「丸1」］").empty());
  CHECK(gaiji_nodes("※\n［＃「丸1」］").empty());
  CHECK(gaiji_nodes("［＃「丸1」］").empty());
  CHECK_EQ(gaiji_nodes("※※［＃「丸1」］").size(), std::size_t{1});
}

}  // namespace
