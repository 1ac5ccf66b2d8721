// Assembly through the whole pipeline: the normalized text, the source-node table and the
// registry for ruby bases, dialogue, unclosed brackets, reference marks, replays and the block
// layout.
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/pipeline/pipeline.hpp"

using namespace yomika;

namespace {

const std::string I = "\xEE\x80\x81";                 // inline node
const std::string B = "\n\n\xEE\x80\x82\n\n";         // block line
const std::string O = "\n\n\xEE\x80\x83\n\n";         // container open line
const std::string C = "\n\n\xEE\x80\x84\n\n";         // container close line

struct Parsed {
  std::string normalized;
  std::vector<SourceNode> nodes;
  SentinelRegistry registry;
  Diagnostics diagnostics;
};

Parsed parse(std::string_view src) {
  Arena arena;
  YomikaDoc doc{src, &arena};
  ParseResult r;
  std::string refusal;
  Parsed p;
  if (!parse_document(doc, r, refusal)) return p;
  p.normalized = std::string(r.normalized);
  p.nodes.assign(r.nodes, r.nodes + r.node_count);
  p.registry = registry_of(r);
  p.diagnostics = std::move(r.diagnostics);
  return p;
}

uint32_t len(std::string_view s) { return static_cast<uint32_t>(s.size()); }

// A node expectation: entry kind, node kind (for inline and block entries), source span.
struct Expect {
  EntryKind entry;
  NodeKind kind;
  uint32_t start, end;
};

bool same_nodes(const std::vector<SourceNode>& got, const std::vector<Expect>& want) {
  if (got.size() != want.size()) return false;
  for (std::size_t i = 0; i < got.size(); ++i) {
    const SourceNode& g = got[i];
    const Expect& w = want[i];
    if (g.entry.kind != w.entry || g.span.start != w.start || g.span.end != w.end) return false;
    bool is_node = w.entry == EntryKind::Inline || w.entry == EntryKind::Block;
    if (is_node && g.entry.node.kind != w.kind) return false;
  }
  return true;
}

const std::string kRuby = "漢字《かんじ》";        // 21 bytes
const std::string kPageBreak = "［＃改ページ］";     // 21 bytes
const std::string kGaiji = "※［＃「木＋吶のつくり」、第3水準1-85-54］";

}  // namespace

TEST(assembly_normalized_text_and_nodes) {
  const auto R = NodeKind::Ruby;
  const auto In = EntryKind::Inline;
  struct Row {
    const char* name;
    std::string src;
    std::string normalized;
    std::vector<Expect> nodes;
  };
  const Row rows[] = {
      {"empty", "", "", {}},
      {"plain_lines", "a\nb\n\nc", "a\nb\n\nc", {}},
      {"bracket_without_note_is_copied", "［あい］う", "［あい］う", {}},
      {"implicit_base", kRuby, I, {{In, R, 0, 21}}},
      {"text_before_base_stays", "あ" + kRuby + "です", "あ" + I + "です", {{In, R, 3, 24}}},
      {"kana_base_is_no_ruby", "ひらがな《よみ》", "ひらがな《よみ》", {}},
      {"explicit_base", "｜ひらがな《よみ》", I, {{In, R, 0, 27}}},
      {"explicit_base_takes_the_last_bar", "｜あ｜いう《よみ》", "｜あ" + I, {{In, R, 6, 27}}},
      {"empty_explicit_base", "漢｜《よみ》", "漢｜《よみ》", {}},
      {"empty_reading", "漢字《》", "漢字《》", {}},
      {"no_pending_text", "《かな》", "《かな》", {}},
      {"bar_before_line_feed_is_not_the_base", "｜あ\nいう《よみ》", "｜あ\nいう《よみ》", {}},
      {"bar_before_quote_reaches_over_it", "｜あ「い」漢《かん》", I, {{In, R, 0, 30}}},
      {"bar_inside_quote_is_the_base", "「｜あ」い《よみ》", "「" + I, {{In, R, 3, 27}}},
      {"bar_consumed_by_earlier_ruby", "｜漢《かん》字《じ》", I + I, {{In, R, 0, 18}, {In, R, 18, 30}}},
      {"bar_kept_through_replayed_bracket", "｜あ［い］う《よみ》", I, {{In, R, 0, 30}}},
      {"dialogue_keeps_its_ruby", "「｜漢字《かんじ》」", "「" + I + "」", {{In, R, 3, 27}}},
      {"tortoise_keeps_its_ruby", "〔漢字《かんじ》〕", "〔" + I + "〕", {{In, R, 3, 24}}},
      {"dialogue_over_paragraphs", "「一《いち》\n\n「二《に》」", "「" + I + "\n\n「" + I + "」",
       {{In, R, 3, 18}, {In, R, 23, 35}}},
      {"nested_quotes_are_text", "「a「b」c」" + kRuby, "「a「b」c」" + I, {{In, R, 15, 36}}},
      {"unclosed_quote_spares_the_rest", "「a「b」" + kRuby, "「a「b」" + I, {{In, R, 11, 32}}},
      {"unclosed_bracket_ends_with_its_line", "［＃改ページ\n" + kRuby + "\n" + kPageBreak,
       "［＃改ページ\n" + I + "\n" + B, {{In, R, 19, 40}, {EntryKind::Block, NodeKind::PageBreak, 41, 62}}},
      {"unclosed_ruby_ends_with_its_line", "漢《か\n" + kRuby, "漢《か\n" + I, {{In, R, 10, 31}}},
      {"closer_on_a_later_line_matches_nothing", "《か\nな》" + kRuby, "《か\nな》" + I, {{In, R, 13, 34}}},
      {"unclosed_note_inside_a_line_keeps_the_ruby_before", kRuby + "［＃注", I + "［＃注", {{In, R, 0, 21}}},
      {"explicit_base_with_gaiji", "｜柳" + kGaiji + "《りゅう》", I, {{In, R, 0, 6 + len(kGaiji) + 15}}},
      {"implicit_base_with_gaiji", "あ漢" + kGaiji + "字《よみ》", "あ" + I, {{In, R, 3, 21 + len(kGaiji)}}},
      {"gaiji_read_alone", kGaiji + "《くら》", I, {{In, R, 0, len(kGaiji) + 12}}},
      {"gaiji_after_kana", "か" + kGaiji + "《よみ》", "か" + I, {{In, R, 3, 3 + len(kGaiji) + 12}}},
      {"two_gaiji_in_a_base", kGaiji + kGaiji + "《よみ》", I, {{In, R, 0, 2 * len(kGaiji) + 12}}},
      {"kana_between_gaiji_ends_the_base", kGaiji + "の" + kGaiji + "《よみ》", I + "の" + I,
       {{In, NodeKind::Gaiji, 0, len(kGaiji)}, {In, R, len(kGaiji) + 3, 2 * len(kGaiji) + 15}}},
      {"gaiji_before_kana_is_no_base", kGaiji + "あ《よみ》", I + "あ《よみ》", {{In, NodeKind::Gaiji, 0, len(kGaiji)}}},
      {"bar_before_gaiji_and_note", "｜柳" + kGaiji + "［＃注］《よみ》", "｜柳" + I + I + "《よみ》",
       {{In, NodeKind::Gaiji, 6, 6 + len(kGaiji)}, {In, NodeKind::Annotation, 6 + len(kGaiji), 18 + len(kGaiji)}}},
      {"double_ruby", "《《強調》》", I, {{In, NodeKind::DoubleRuby, 0, 18}}},
      {"empty_double_ruby", "《《》》", "《《》》", {}},
      {"ref_mark_before_note_is_gaiji", "あ" + kGaiji, "あ" + I, {{In, NodeKind::Gaiji, 3, 3 + len(kGaiji)}}},
      {"ref_mark_alone", "※あ※", "※あ※", {}},
  };
  for (const Row& r : rows) {
    Parsed p = parse(r.src);
    if (testing::check_fails(p.normalized != r.normalized))
      testing::fail(__FILE__, __LINE__, std::string(r.name) + ": normalized " + testing::show(p.normalized));
    if (testing::check_fails(!same_nodes(p.nodes, r.nodes))) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": nodes differ");
  }
}

TEST(assembly_reference_mark_needs_the_bracket_right_after_it) {
  // With anything between ※ and ［ the note is classified on its own and the ※ stays text.
  const std::string note = kGaiji.substr(3);
  for (const std::string gap : {" ", "\n", "あ"}) {
    Parsed p = parse("※" + gap + note);
    bool has_gaiji = false;
    for (const SourceNode& n : p.nodes) has_gaiji = has_gaiji || n.entry.node.kind == NodeKind::Gaiji;
    CHECK(!has_gaiji);
    CHECK_EQ(p.normalized.substr(0, 3 + gap.size()), "※" + gap);
  }
}

TEST(assembly_declined_gaiji_leaves_the_mark_as_text) {
  Parsed p = parse("※" + kPageBreak);
  CHECK_EQ(p.normalized, "※" + B);
  CHECK(same_nodes(p.nodes, {{EntryKind::Block, NodeKind::PageBreak, 3, 24}}));
}

TEST(assembly_block_and_container_lines) {
  const std::string open = "［＃ここから２字下げ］", close = "［＃ここで字下げ終わり］";
  struct Row {
    const char* name;
    std::string src;
    std::string normalized;
    std::vector<Expect> nodes;
  };
  const auto Bl = EntryKind::Block;
  const auto PB = NodeKind::PageBreak;
  const Row rows[] = {
      {"block_inside_a_line", "a" + kPageBreak + "b", "a" + B + "b", {{Bl, PB, 1, 22}}},
      {"block_lines_are_never_merged", kPageBreak + kPageBreak, B + B, {{Bl, PB, 0, 21}, {Bl, PB, 21, 42}}},
      {"block_on_its_own_line", "a\n" + kPageBreak + "\nb", "a\n" + B + "\nb", {{Bl, PB, 2, 23}}},
      {"container", open + "\n本文\n" + close, O + "\n本文\n" + C,
       {{EntryKind::ContainerOpen, NodeKind::Ruby, 0, len(open)},
        {EntryKind::ContainerClose, NodeKind::Ruby, len(open) + 8, len(open) + 8 + len(close)}}},
      {"close_without_open", close, C, {{EntryKind::ContainerClose, NodeKind::Ruby, 0, len(close)}}},
  };
  for (const Row& r : rows) {
    Parsed p = parse(r.src);
    if (testing::check_fails(p.normalized != r.normalized))
      testing::fail(__FILE__, __LINE__, std::string(r.name) + ": normalized " + testing::show(p.normalized));
    if (testing::check_fails(!same_nodes(p.nodes, r.nodes))) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": nodes differ");
    if (testing::check_fails(!p.diagnostics.empty())) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": diagnostics");
  }
  Parsed c = parse(open + "\n本文\n" + close);
  CHECK(c.nodes.size() == 2 && c.nodes[0].entry.container == ContainerKind::Indent && c.nodes[0].entry.amount == 2);
}

TEST(assembly_kth_sentinel_is_kth_record) {
  // Containers, blocks and inline nodes alternating: walking the normalized text, the k-th
  // sentinel's registry entry is the k-th source-node record.
  std::string src;
  for (int i = 0; i < 40; ++i) {
    src += "［＃ここから" + std::string(i % 2 ? "２" : "３") + "字下げ］\n";
    src += "あ" + kRuby + "い" + kGaiji + "\n";
    if (i % 3 == 0) src += kPageBreak + "\n";
    src += "［＃ここで字下げ終わり］\n";
  }
  Parsed p = parse(src);
  std::size_t k = 0;
  bool ok = true;
  for (std::size_t h = 0; ok && h + 2 < p.normalized.size(); ++h) {
    if (static_cast<unsigned char>(p.normalized[h]) != 0xEE) continue;
    auto c = static_cast<unsigned char>(p.normalized[h + 2]);
    RegistryEntry e = find_entry(p.registry, static_cast<uint32_t>(h));
    ok = k < p.nodes.size() && e.kind == static_cast<EntryKind>(c - 0x81) && e.kind == p.nodes[k].entry.kind &&
         e.node.kind == p.nodes[k].entry.node.kind && e.node.rec == p.nodes[k].entry.node.rec &&
         e.container == p.nodes[k].entry.container && e.amount == p.nodes[k].entry.amount;
    ++k;
  }
  CHECK(ok);
  CHECK_EQ(k, p.nodes.size());
  CHECK_EQ(p.registry.keys.size(), p.nodes.size());
  CHECK_EQ(p.nodes.size(), std::size_t{40 * 4 + 14});
}

TEST(assembly_keeps_diagnostics_and_is_deterministic) {
  Parsed p = parse("「《");
  CHECK_EQ(p.diagnostics.size(), std::size_t{2});
  CHECK_EQ(p.normalized, std::string("「《"));
  const std::string src = "あ" + kRuby + kGaiji + "\n" + kPageBreak + "「｜x《y》」";
  Parsed a = parse(src), b = parse(src);
  CHECK_EQ(a.normalized, b.normalized);
  CHECK_EQ(a.nodes.size(), b.nodes.size());
}
