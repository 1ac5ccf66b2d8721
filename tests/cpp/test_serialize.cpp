// Notation serializer: the capped writer, each node's one written form, and the sentinel walk,
// over parse results built directly from nodes.
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "testing.hpp"
#include "yomika/render/notation_writer.hpp"
#include "yomika/render/serialize.hpp"
#include "yomika/syntax/alloc.hpp"

using namespace yomika;
using render::NewlineCappedWriter;

namespace {

constexpr std::string_view kInline = "\xEE\x80\x81";
constexpr std::string_view kBlock = "\xEE\x80\x82";
constexpr std::string_view kOpen = "\xEE\x80\x83";
constexpr std::string_view kClose = "\xEE\x80\x84";

// A normalized text with its registry, written the way assembly writes them: text runs and
// sentinels in order, one entry per sentinel. `stray` writes a sentinel without any entry.
struct Built {
  Arena arena;
  Interner in{arena, 0};
  std::string normalized;
  std::vector<uint32_t> positions;
  std::vector<RegistryEntry> entries;
  std::vector<SourceNode> table;  // filled only by `spanned`

  Built& text(std::string_view s) {
    normalized += s;
    return *this;
  }
  Built& sentinel(std::string_view bytes, RegistryEntry e) {
    positions.push_back(static_cast<uint32_t>(normalized.size()));
    entries.push_back(e);
    normalized += bytes;
    return *this;
  }
  Built& node(YomikaNode n) {
    RegistryEntry e;
    e.kind = n.is_block() ? EntryKind::Block : EntryKind::Inline;
    e.node = n;
    return sentinel(n.is_block() ? kBlock : kInline, e);
  }
  Built& open(ContainerKind k, uint8_t amount) {
    RegistryEntry e;
    e.kind = EntryKind::ContainerOpen;
    e.container = k;
    e.amount = amount;
    return sentinel(kOpen, e);
  }
  Built& close(ContainerKind k) {
    RegistryEntry e;
    e.kind = EntryKind::ContainerClose;
    e.container = k;
    return sentinel(kClose, e);
  }
  // The last sentinel written gets a source span; a table is handed over once any has one.
  Built& spanned(uint32_t start, uint32_t end) {
    while (table.size() < entries.size()) table.push_back(SourceNode{entries[table.size()], Span{}});
    table.back().span = Span{start, end};
    return *this;
  }
  Built& stray(std::string_view bytes) {
    normalized += bytes;
    return *this;
  }
  std::string serialize() {
    ParseResult r;
    r.normalized = normalized;
    r.registry = build_registry(positions, entries);
    while (!table.empty() && table.size() < entries.size()) table.push_back(SourceNode{entries[table.size()], Span{}});
    r.nodes = table.data();
    r.node_count = table.size();
    return render::serialize(r);
  }
};

Content plain(std::string_view s) { return Content::plain(s); }

Segment text_seg(std::string_view s) { return Segment{SegmentCode::Text, s, nullptr, nullptr}; }
Segment gaiji_seg(const YomikaNode& g) { return Segment{SegmentCode::Gaiji, {}, &g.gaiji(), nullptr}; }
Segment note_seg(const AnnotationRec* a) { return Segment{SegmentCode::Annotation, {}, nullptr, a}; }

Content segments(Built& b, std::vector<Segment> segs) {
  // Kept as a list even when every piece is text, as a hand-built target may be.
  Segment* arr = b.arena.alloc_array<Segment>(segs.size());
  for (std::size_t i = 0; i < segs.size(); ++i) arr[i] = segs[i];
  return Content::segments_of(arr, static_cast<uint32_t>(segs.size()));
}

std::string node_text(Built& b, YomikaNode n) {
  NewlineCappedWriter w(16);
  render::serialize_node(n, w);
  (void)b;
  return w.take();
}

struct Row {
  std::string name;
  std::string got;
  std::string_view want;
};

void check_rows(const std::vector<Row>& rows, const char* file, int line) {
  for (const Row& r : rows) {
    if (testing::check_fails(r.got != r.want)) {
      testing::fail(file, line, r.name + ": got \"" + r.got + "\", want \"" + std::string(r.want) + "\"");
    }
  }
}

}  // namespace

// ---------------------------------------------------------------------------------------------
// The capped writer

TEST(serialize_writer_caps_line_feeds) {
  struct Step {
    char op;  // w = capped write, p = fixed piece, c = character, n = number
    std::string_view s;
    uint32_t cp;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::string_view want;
  };
  // The writer starts with room for 64 bytes: these fill it exactly, or pass it in one write.
  const std::string full(64, 'a'), past(150, 'b');
  const std::string full_then_line = full + "\nc", past_then_more = past + "｜" + past + "\n\n" + full;
  const std::vector<Case> cases = {
      {"plain", {{'w', "abc", 0}}, "abc"},
      {"line_feed_when_full", {{'w', full, 0}, {'w', "\n", 0}, {'p', "c", 0}}, full_then_line},
      {"grows_past_room", {{'w', past, 0}, {'p', "｜", 0}, {'w', past, 0}, {'w', "\n\n\n", 0}, {'w', full, 0}},
       past_then_more},
      {"four_become_two", {{'w', "a\n\n\n\nb", 0}}, "a\n\nb"},
      {"two_kept", {{'w', "a\n\nb", 0}}, "a\n\nb"},
      {"leading_run", {{'w', "\n\n\n\nb", 0}}, "\n\nb"},
      {"trailing_run", {{'w', "a\n\n\n", 0}}, "a\n\n"},
      {"run_across_writes", {{'w', "a\n", 0}, {'w', "\n", 0}, {'w', "\n\n", 0}, {'w', "b", 0}}, "a\n\nb"},
      {"empty_write_keeps_count", {{'w', "\n\n", 0}, {'w', "", 0}, {'w', "\n", 0}}, "\n\n"},
      {"piece_resets", {{'w', "\n\n", 0}, {'p', "｜", 0}, {'w', "\n\n\n", 0}}, "\n\n｜\n\n"},
      {"char_line_feed_counted", {{'w', "a\n\n", 0}, {'c', {}, '\n'}, {'w', "b", 0}}, "a\n\nb"},
      {"char_resets", {{'w', "\n\n", 0}, {'c', {}, U'＃'}, {'c', {}, '\n'}, {'c', {}, '\n'}, {'c', {}, '\n'}},
       "\n\n＃\n\n"},
      {"text_after_line_resets", {{'w', "a\nb\n\n\nc", 0}}, "a\nb\n\nc"},
      {"number_resets", {{'w', "\n\n", 0}, {'n', {}, 0}, {'w', "\n\n\n", 0}}, "\n\n0\n\n"},
      {"endless_blank_lines", {{'w', std::string_view("\n\n\n\n\n\n\n\n\n\n\n\n"), 0}, {'w', "x", 0}}, "\n\nx"},
  };
  for (const Case& c : cases) {
    NewlineCappedWriter w(0);
    for (const Step& s : c.steps) {
      if (s.op == 'w') w.write(s.s);
      if (s.op == 'p') w.put(s.s);
      if (s.op == 'c') w.put_char(s.cp);
      if (s.op == 'n') w.put_number(s.cp);
    }
    if (testing::check_fails(w.text() != c.want)) testing::fail(__FILE__, __LINE__, std::string(c.name) + ": got \"" + std::string(w.text()) + "\"");
  }
}

TEST(serialize_writer_numbers) {
  const std::pair<unsigned, std::string_view> rows[] = {
      {0, "0"}, {1, "1"}, {10, "10"}, {255, "255"}, {4294967295u, "4294967295"}};
  for (const auto& [v, want] : rows) {
    NewlineCappedWriter w(0);
    w.put_number(v);
    CHECK_EQ(w.text(), want);
  }
}

// ---------------------------------------------------------------------------------------------
// One written form per node

TEST(serialize_node_forms) {
  Built b;
  auto& in = b.in;
  YomikaNode gaiji = syntax::make_gaiji(in, "木＋駟のつくり", GaijiResolution{}, std::string_view("第3水準1-85-8"));
  YomikaNode gaiji_bare = syntax::make_gaiji(in, "丸1", GaijiResolution{}, std::nullopt);
  YomikaNode gaiji_empty_mention = syntax::make_gaiji(in, "ほげ", GaijiResolution{}, std::string_view(""));
  const AnnotationRec* note = syntax::make_annotation(in, "［＃ルビ注記］", AnnotationKind::Verbatim);
  Content caption = plain("図のキャプション");

  using syntax::make_bouten;
  using syntax::make_tate_chu_yoko;
  using BK = BoutenKind;
  using BP = BoutenPosition;
  std::vector<Row> rows = {
      {"ruby_implicit_gets_bar", node_text(b, syntax::make_ruby(in, plain("漢字"), plain("かんじ"), false)),
       "｜漢字《かんじ》"},
      {"ruby_explicit", node_text(b, syntax::make_ruby(in, plain("カタカナ"), plain("かたかな"), true)),
       "｜カタカナ《かたかな》"},
      {"ruby_gaiji_base_full",
       node_text(b, syntax::make_ruby(in, segments(b, {text_seg("木"), gaiji_seg(gaiji)}), plain("き"), true)),
       "｜木※［＃「木＋駟のつくり」、第3水準1-85-8］《き》"},
      {"ruby_reading_with_note",
       node_text(b, syntax::make_ruby(in, plain("漢"), segments(b, {text_seg("かん"), note_seg(note)}), false)),
       "｜漢《かん［＃ルビ注記］》"},
      {"bouten_adjacent_right", node_text(b, make_bouten(in, plain("猫"), BK::Goma, BP::Right, true)),
       "猫［＃「猫」に傍点］"},
      {"bouten_adjacent_left", node_text(b, make_bouten(in, plain("猫"), BK::Goma, BP::Left, true)),
       "猫［＃「猫」の左に傍点］"},
      {"bouten_not_adjacent", node_text(b, make_bouten(in, plain("猫"), BK::WhiteCircle, BP::Right, false)),
       "［＃「猫」に白丸傍点］"},
      {"bouten_janome", node_text(b, make_bouten(in, plain("猫"), BK::Janome, BP::Right, false)),
       "［＃「猫」に蛇の目傍点］"},
      {"bouten_last_kind", node_text(b, make_bouten(in, plain("猫"), BK::DoubleUnderLine, BP::Left, false)),
       "［＃「猫」の左に二重傍線］"},
      {"bouten_joined_names_split_again",
       node_text(b, make_bouten(in, plain("春、秋"), BK::WhiteCircle, BP::Right, false)),
       "［＃「春」「秋」に白丸傍点］"},
      {"bouten_adjacent_target_with_comma_whole",
       node_text(b, make_bouten(in, plain("春、秋"), BK::Goma, BP::Right, true)), "春、秋［＃「春、秋」に傍点］"},
      {"bouten_leading_comma_whole", node_text(b, make_bouten(in, plain("、秋"), BK::Goma, BP::Right, false)),
       "［＃「、秋」に傍点］"},
      {"bouten_doubled_comma_whole", node_text(b, make_bouten(in, plain("春、、秋"), BK::Goma, BP::Right, false)),
       "［＃「春、、秋」に傍点］"},
      {"bouten_only_comma_whole", node_text(b, make_bouten(in, plain("、"), BK::Goma, BP::Right, false)),
       "［＃「、」に傍点］"},
      {"bouten_segments_split_at_comma",
       node_text(b, make_bouten(in, segments(b, {text_seg("甲、乙")}), BK::Goma, BP::Right, false)),
       "［＃「甲」「乙」に傍点］"},
      {"bouten_segments_empty_pieces_dropped",
       node_text(b, make_bouten(in, segments(b, {text_seg("、甲、、乙、")}), BK::Goma, BP::Right, false)),
       "［＃「甲」「乙」に傍点］"},
      {"bouten_segments_only_text_counts",
       node_text(b, make_bouten(in, segments(b, {text_seg("甲"), gaiji_seg(gaiji), text_seg("乙")}), BK::Goma,
                                BP::Right, false)),
       "［＃「甲」「乙」に傍点］"},
      {"bouten_segments_nothing_left",
       node_text(b, make_bouten(in, segments(b, {gaiji_seg(gaiji), text_seg("、")}), BK::Goma, BP::Right, false)),
       "［＃「」に傍点］"},
      {"bouten_adjacent_gaiji_as_description",
       node_text(b, make_bouten(in, segments(b, {text_seg("木"), gaiji_seg(gaiji)}), BK::Goma, BP::Right, true)),
       "木木＋駟のつくり［＃「木」に傍点］"},
      {"tcy_adjacent", node_text(b, make_tate_chu_yoko(in, plain("12"), true)), "12［＃「12」は縦中横］"},
      {"tcy_not_adjacent", node_text(b, make_tate_chu_yoko(in, plain("AB"), false)), "［＃「AB」は縦中横］"},
      {"tcy_gaiji_as_description",
       node_text(b, make_tate_chu_yoko(in, segments(b, {gaiji_seg(gaiji_bare), text_seg("2")}), true)),
       "丸12［＃「丸12」は縦中横］"},
      {"gaiji_with_mention", node_text(b, gaiji), "※［＃「木＋駟のつくり」、第3水準1-85-8］"},
      {"gaiji_without_mention", node_text(b, gaiji_bare), "※［＃「丸1」］"},
      {"gaiji_empty_mention", node_text(b, gaiji_empty_mention), "※［＃「ほげ」、］"},
      {"indent_one", node_text(b, YomikaNode::simple(NodeKind::Indent, 1)), "［＃字下げ］"},
      {"indent_three_ascii", node_text(b, YomikaNode::simple(NodeKind::Indent, 3)), "［＃3字下げ］"},
      {"indent_max", node_text(b, YomikaNode::simple(NodeKind::Indent, 255)), "［＃255字下げ］"},
      {"align_end_flush", node_text(b, YomikaNode::simple(NodeKind::AlignEnd, 0)), "［＃地付き］"},
      {"align_end_two", node_text(b, YomikaNode::simple(NodeKind::AlignEnd, 2)), "［＃地から2字上げ］"},
      {"align_end_ten", node_text(b, YomikaNode::simple(NodeKind::AlignEnd, 10)), "［＃地から10字上げ］"},
      {"warichu_marker", node_text(b, YomikaNode::simple(NodeKind::Warichu)),
       "<!-- unsupported-yomika: yomika_warichu -->"},
      {"keigakomi_marker", node_text(b, YomikaNode::simple(NodeKind::Keigakomi)),
       "<!-- unsupported-yomika: yomika_keigakomi -->"},
      {"heading_marker", node_text(b, YomikaNode::simple(NodeKind::Heading)),
       "<!-- unsupported-yomika: yomika_heading -->"},
      {"container_marker", node_text(b, YomikaNode::simple(NodeKind::Container, 0, 3)),
       "<!-- unsupported-yomika: yomika_container -->"},
      {"page_break", node_text(b, YomikaNode::simple(NodeKind::PageBreak)), "［＃改ページ］"},
      {"section_choho", node_text(b, YomikaNode::simple(NodeKind::SectionBreak, 0)), "［＃改丁］"},
      {"section_dan", node_text(b, YomikaNode::simple(NodeKind::SectionBreak, 1)), "［＃改段］"},
      {"section_spread", node_text(b, YomikaNode::simple(NodeKind::SectionBreak, 2)), "［＃改見開き］"},
      {"heading_large", node_text(b, syntax::make_heading_hint(in, "見出し", 1)), "［＃「見出し」は大見出し］"},
      {"heading_medium", node_text(b, syntax::make_heading_hint(in, "見出し", 2)), "［＃「見出し」は中見出し］"},
      {"heading_small", node_text(b, syntax::make_heading_hint(in, "見出し", 3)), "［＃「見出し」は小見出し］"},
      {"heading_other_level_small", node_text(b, syntax::make_heading_hint(in, "見出し", 9)),
       "［＃「見出し」は小見出し］"},
      {"sashie_loses_caption", node_text(b, syntax::make_sashie(in, "fig01.png", caption)),
       "［＃挿絵（fig01.png）入る］"},
      {"sashie_no_caption", node_text(b, syntax::make_sashie(in, "a.png", Content::absent())),
       "［＃挿絵（a.png）入る］"},
      {"kaeriten_single", node_text(b, syntax::make_kaeriten(in, "レ")), "［＃レ］"},
      {"kaeriten_paren", node_text(b, syntax::make_kaeriten(in, "（ヲ）")), "［＃（ヲ）］"},
      {"annotation_raw_exact",
       node_text(b, YomikaNode{NodeKind::Annotation, 0, 0,
                               syntax::make_annotation(in, "［＃　ほげ　］", AnnotationKind::Verbatim)}),
       "［＃　ほげ　］"},
      {"annotation_warichu_open",
       node_text(b, YomikaNode{NodeKind::Annotation, 0, 0,
                               syntax::make_annotation(in, "［＃割り注］", AnnotationKind::WarichuOpen)}),
       "［＃割り注］"},
      {"double_ruby_plain", node_text(b, syntax::make_double_ruby(in, plain("強調"))), "《《強調》》"},
      {"double_ruby_gaiji_full",
       node_text(b, syntax::make_double_ruby(in, segments(b, {text_seg("強"), gaiji_seg(gaiji_bare)}))),
       "《《強※［＃「丸1」］》》"},
  };
  check_rows(rows, __FILE__, __LINE__);
}

// Line feeds inside node texts go through the same cap as the running text, and a node's fixed
// pieces end a run of line feeds.
TEST(serialize_node_texts_are_capped) {
  Built b;
  const AnnotationRec* note = syntax::make_annotation(b.in, "［＃あ\n\n\n\nい］", AnnotationKind::Verbatim);
  b.text("a\n\n\n").node(YomikaNode{NodeKind::Annotation, 0, 0, note}).text("\n\n\nb");
  CHECK_EQ(b.serialize(), std::string("a\n\n［＃あ\n\nい］\n\nb"));
}

// ---------------------------------------------------------------------------------------------
// The walk over the normalized text

TEST(serialize_text_without_sentinels) {
  const Row rows[] = {
      {"empty", Built().text("").serialize(), ""},
      {"unchanged", Built().text("吾輩は猫である。\n名前はまだ無い。").serialize(), "吾輩は猫である。\n名前はまだ無い。"},
      {"blank_lines_capped", Built().text("a\n\n\n\n\nb\n\n\nc").serialize(), "a\n\nb\n\nc"},
      {"final_line_feeds", Built().text("a\n\n\n").serialize(), "a\n\n"},
      {"rule_line_separated", Built().text("abc\n----------").serialize(), "abc\n\n----------"},
      {"short_rule_untouched", Built().text("abc\n---------").serialize(), "abc\n---------"},
      {"rule_after_blank_untouched", Built().text("abc\n\n==========\nx").serialize(), "abc\n\n==========\nx"},
      {"other_private_use_is_text", Built().text("a\xEE\x80\x80" "b\xEE\x80\x85" "c\xEE\x81\x81").serialize(),
       "a\xEE\x80\x80" "b\xEE\x80\x85" "c\xEE\x81\x81"},
  };
  check_rows(std::vector<Row>(std::begin(rows), std::end(rows)), __FILE__, __LINE__);
}

TEST(serialize_walk_layouts) {
  auto page = YomikaNode::simple(NodeKind::PageBreak);
  std::vector<Row> rows;
  {
    Built b;
    b.text("A\n\n\n").node(page).text("\n\n\nB");
    rows.push_back({"block_gets_one_blank_line_each_side", b.serialize(), "A\n\n［＃改ページ］\n\nB"});
  }
  {
    Built b;
    b.text("A\n\n").node(page).text("\n\n\n\n").node(YomikaNode::simple(NodeKind::SectionBreak, 1)).text("\n\nB");
    rows.push_back({"two_blocks_in_a_row", b.serialize(), "A\n\n［＃改ページ］\n\n［＃改段］\n\nB"});
  }
  {
    Built b;
    b.text("\n\n").node(page).text("\n\nB");
    rows.push_back({"block_first", b.serialize(), "\n\n［＃改ページ］\n\nB"});
  }
  {
    Built b;
    b.text("前").node(syntax::make_ruby(b.in, plain("漢字"), plain("かんじ"), false)).text("後");
    rows.push_back({"inline_in_running_text", b.serialize(), "前｜漢字《かんじ》後"});
  }
  {
    Built b;
    b.text("\n\n").open(ContainerKind::Indent, 3).text("\n\nB\n\n").close(ContainerKind::Indent).text("\n\n");
    rows.push_back({"indent_container_keeps_its_amount", b.serialize(),
                    "\n\n［＃ここから3字下げ］\n\nB\n\n［＃ここで字下げ終わり］\n\n"});
  }
  {
    Built b;
    b.open(ContainerKind::Indent, 0).open(ContainerKind::Indent, 1).open(ContainerKind::Indent, 255);
    rows.push_back({"indent_opener_any_amount", b.serialize(),
                    "［＃ここから0字下げ］［＃ここから字下げ］［＃ここから255字下げ］"});
  }
  {
    Built b;
    b.open(ContainerKind::Warichu, 0).close(ContainerKind::Warichu);
    b.open(ContainerKind::Keigakomi, 0).close(ContainerKind::Keigakomi);
    b.open(ContainerKind::AlignEnd, 0).close(ContainerKind::AlignEnd);
    b.open(ContainerKind::AlignEnd, 2).close(ContainerKind::AlignEnd);
    rows.push_back({"every_container_kind", b.serialize(),
                    "［＃割り注］［＃割り注終わり］［＃罫囲み］［＃罫囲み終わり］［＃ここから地付き］［＃ここで地付き終わり］"
                    "［＃ここから地から2字上げ］［＃ここで地付き終わり］"});
  }
  {
    Built b;
    b.text("a").stray(kInline).text("b").stray(kBlock).text("c");
    rows.push_back({"sentinel_without_entry_dropped", b.serialize(), "abc"});
  }
  {
    Built b;
    RegistryEntry block;
    block.kind = EntryKind::Block;
    block.node = page;
    RegistryEntry inl;
    inl.kind = EntryKind::Inline;
    inl.node = YomikaNode::simple(NodeKind::Indent, 2);
    RegistryEntry open;
    open.kind = EntryKind::ContainerOpen;
    b.text("a").sentinel(kInline, block).text("b").sentinel(kBlock, inl).text("c").sentinel(kClose, open);
    rows.push_back({"sentinel_of_other_kind_dropped", b.serialize(), "abc"});
  }
  {
    Built b;
    b.text("a\n\n").stray(kInline).text("\n\nb");
    rows.push_back({"dropped_sentinel_does_not_end_line_feed_run", b.serialize(), "a\n\nb"});
  }
  {
    Built b;
    b.text("a\n\n").node(YomikaNode::simple(NodeKind::Indent, 1)).text("\n\nb");
    rows.push_back({"node_ends_line_feed_run", b.serialize(), "a\n\n［＃字下げ］\n\nb"});
  }
  {
    Built b;
    b.text("x").node(YomikaNode::simple(NodeKind::Indent, 1)).text("\n----------\n");
    rows.push_back({"rule_line_under_node_separated", b.serialize(), "x［＃字下げ］\n\n----------\n"});
  }
  {
    Built b;
    b.text("A\n\n").node(YomikaNode::simple(NodeKind::Indent, 2)).text("\xEE\x80").text("\x85");
    b.node(YomikaNode::simple(NodeKind::AlignEnd, 0));
    rows.push_back({"private_use_next_to_sentinels", b.serialize(), "A\n\n［＃2字下げ］\xEE\x80\x85［＃地付き］"});
  }
  check_rows(rows, __FILE__, __LINE__);
}

// Many sentinels: the registry finds each, in order, and the text between them is kept.
TEST(serialize_many_sentinels) {
  Built b;
  std::string want;
  for (int i = 0; i < 2000; ++i) {
    b.text("字").node(YomikaNode::simple(NodeKind::Indent, static_cast<uint8_t>(i % 255 + 1)));
    want += "字";
    want += (i % 255 + 1) == 1 ? "［＃字下げ］" : "［＃" + std::to_string(i % 255 + 1) + "字下げ］";
  }
  CHECK_EQ(b.serialize(), want);
}

// An adjacent target that reaches back into the construct before it is written in front of the
// note only from where that construct's source ends: the construct already writes the rest.
TEST(serialize_adjacent_target_overlapping_earlier_construct) {
  std::vector<Row> rows;
  const std::string_view ruby_src = "漢字《かんじ》";  // 21 bytes at 0
  {
    Built b;
    b.node(syntax::make_ruby(b.in, plain("漢字"), plain("かんじ"), false)).spanned(0, 21);
    b.node(syntax::make_bouten(b.in, plain(ruby_src), BoutenKind::Goma, BoutenPosition::Right, true)).spanned(0, 54);
    rows.push_back({"whole_target_inside_ruby", b.serialize(), "｜漢字《かんじ》［＃「漢字《かんじ》」に傍点］"});
  }
  {
    Built b;
    b.node(syntax::make_ruby(b.in, plain("漢字"), plain("かんじ"), false)).spanned(0, 21);
    b.node(syntax::make_bouten(b.in, plain("字《かんじ》X"), BoutenKind::Goma, BoutenPosition::Right, true))
        .spanned(3, 22);
    rows.push_back({"target_reaching_past_ruby", b.serialize(), "｜漢字《かんじ》X［＃「字《かんじ》X」に傍点］"});
  }
  {
    Built b;
    b.text("前").node(syntax::make_ruby(b.in, plain("漢字"), plain("かんじ"), false)).spanned(3, 24);
    b.text("後");
    b.node(syntax::make_tate_chu_yoko(b.in, plain("12"), true)).spanned(27, 29);
    rows.push_back({"no_overlap_whole_target", b.serialize(), "前｜漢字《かんじ》後12［＃「12」は縦中横］"});
  }
  {
    Built b;
    b.node(syntax::make_ruby(b.in, plain("漢字"), plain("かんじ"), false));
    b.node(syntax::make_bouten(b.in, plain(ruby_src), BoutenKind::Goma, BoutenPosition::Right, true));
    rows.push_back({"without_source_table_target_written_whole", b.serialize(),
                    "｜漢字《かんじ》漢字《かんじ》［＃「漢字《かんじ》」に傍点］"});
  }
  check_rows(rows, __FILE__, __LINE__);
}
