// The HTML renderer: the HTML of every node variant built directly, escaping, and the paragraph
// walk over hand-made normalized texts and registries.
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/render/html.hpp"
#include "yomika/syntax/alloc.hpp"

using namespace yomika;

namespace {

const std::string kInline = "\xEE\x80\x81";
const std::string kBlock = "\xEE\x80\x82";
const std::string kOpen = "\xEE\x80\x83";
const std::string kClose = "\xEE\x80\x84";

std::string html_of(const YomikaNode& n) {
  std::string out;
  render::render_node(n, out);
  return out;
}

std::string escaped(std::string_view s) {
  std::string out;
  render::escape_text(s, out);
  return out;
}

// Reference escaping, one byte at a time.
std::string escaped_slowly(std::string_view s) {
  std::string out;
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#x27;"; break;
      default: out += c;
    }
  }
  return out;
}

// A parse result made by hand: the normalized text and one registry entry per listed sentinel.
struct Doc {
  std::string text;
  std::vector<uint32_t> positions;
  std::vector<RegistryEntry> entries;

  Doc& t(std::string_view s) {
    text += s;
    return *this;
  }
  Doc& node(const std::string& sentinel, EntryKind kind, YomikaNode n) {
    RegistryEntry e;
    e.kind = kind;
    e.node = n;
    return put(sentinel, e);
  }
  Doc& container(const std::string& sentinel, EntryKind kind, ContainerKind ck, uint8_t amount) {
    RegistryEntry e;
    e.kind = kind;
    e.container = ck;
    e.amount = amount;
    return put(sentinel, e);
  }
  Doc& put(const std::string& sentinel, const RegistryEntry& e) {
    positions.push_back(static_cast<uint32_t>(text.size()));
    entries.push_back(e);
    text += sentinel;
    return *this;
  }
  std::string html() const {
    ParseResult r;
    r.normalized = text;
    r.registry = build_registry(positions, entries);
    return render::render_result_html(r);
  }
};

YomikaNode page_break() { return YomikaNode::simple(NodeKind::PageBreak); }
const std::string kPageBreakHtml = "<div class=\"yomika-page-break\"></div>";

}  // namespace

TEST(html_escape_text_table) {
  struct Row {
    const char* in;
    const char* out;
  };
  const Row rows[] = {
      {"", ""},
      {"plain", "plain"},
      {"&", "&amp;"},
      {"<>", "&lt;&gt;"},
      {"\"'", "&quot;&#x27;"},
      {"a<b>&\"c\"'d'", "a&lt;b&gt;&amp;&quot;c&quot;&#x27;d&#x27;"},
      {"&amp;", "&amp;amp;"},
      {"漢字\n\t\xEE\x80\x80", "漢字\n\t\xEE\x80\x80"},
  };
  for (const Row& r : rows) CHECK_EQ(escaped(r.in), std::string(r.out));
}

TEST(html_every_node_variant) {
  Arena arena;
  Interner in(arena, 0);
  using namespace syntax;
  const AnnotationRec* note = make_annotation(in, "［＃注］", AnnotationKind::Verbatim);
  std::vector<Segment> reading_segments = {Segment{SegmentCode::Text, "かん", nullptr, nullptr},
                                           Segment{SegmentCode::Annotation, {}, nullptr, note}};
  YomikaNode unresolved = make_gaiji(in, "木＋\"吶\"", GaijiResolution{}, std::nullopt);
  std::vector<Segment> gaiji_segments = {Segment{SegmentCode::Text, "a<", nullptr, nullptr},
                                         Segment{SegmentCode::Gaiji, {}, &unresolved.gaiji(), nullptr}};
  using GS = GaijiResolution::State;

  struct Row {
    const char* name;
    YomikaNode node;
    std::string html;
  };
  const Row rows[] = {
      {"ruby", make_ruby(in, Content::plain("漢字"), Content::plain("かんじ"), false),
       "<ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby>"},
      {"ruby_escaped_reading", make_ruby(in, Content::plain("A&B"), Content::plain("<'>"), true),
       "<ruby>A&amp;B<rp>(</rp><rt>&lt;&#x27;&gt;</rt><rp>)</rp></ruby>"},
      {"ruby_segments_reading",
       make_ruby(in, Content::plain("漢"), content_from_segments(in, reading_segments), false),
       "<ruby>漢<rp>(</rp><rt>かん<span class=\"yomika-annotation\" hidden>［＃注］</span></rt><rp>)</rp></ruby>"},
      {"bouten_left", make_bouten(in, Content::plain("猫"), BoutenKind::Goma, BoutenPosition::Left, true),
       "<em class=\"yomika-bouten yomika-bouten-goma yomika-bouten-left\">猫</em>"},
      {"bouten_gaiji_target",
       make_bouten(in, content_from_segments(in, gaiji_segments), BoutenKind::Cross, BoutenPosition::Right, false),
       "<em class=\"yomika-bouten yomika-bouten-cross yomika-bouten-right\">a&lt;<span class=\"yomika-gaiji\" "
       "data-description=\"木＋&quot;吶&quot;\">木＋&quot;吶&quot;</span></em>"},
      {"tate_chu_yoko", make_tate_chu_yoko(in, Content::plain("12"), true), "<span class=\"yomika-tcy\">12</span>"},
      {"gaiji_latin_small",
       make_gaiji(in, "e", GaijiResolution{GS::Char, 0xE9, {}}, std::nullopt),
       "<span class=\"yomika-gaiji\" data-codepoint=\"U+00E9\">é</span>"},
      {"gaiji_bmp", make_gaiji(in, "d", GaijiResolution{GS::Char, 0x4E00, {}}, std::nullopt),
       "<span class=\"yomika-gaiji\" data-codepoint=\"U+4E00\">一</span>"},
      {"gaiji_plane_two", make_gaiji(in, "d", GaijiResolution{GS::Char, 0x20B9F, {}}, std::nullopt),
       "<span class=\"yomika-gaiji\" data-codepoint=\"U+20B9F\">𠮟</span>"},
      {"gaiji_ascii_escaped", make_gaiji(in, "d", GaijiResolution{GS::Char, '<', {}}, std::nullopt),
       "<span class=\"yomika-gaiji\" data-codepoint=\"U+003C\">&lt;</span>"},
      {"gaiji_two_code_points",
       make_gaiji(in, "d", GaijiResolution{GS::Text, 0, "\xE3\x81\x8B\xE3\x82\x9A"}, std::nullopt),
       "<span class=\"yomika-gaiji\" data-codepoint=\"U+304B U+309A\">\xE3\x81\x8B\xE3\x82\x9A</span>"},
      {"gaiji_unresolved", unresolved,
       "<span class=\"yomika-gaiji\" data-description=\"木＋&quot;吶&quot;\">木＋&quot;吶&quot;</span>"},
      {"indent_zero", YomikaNode::simple(NodeKind::Indent, 0),
       "<span class=\"yomika-indent yomika-indent-0\" data-amount=\"0\"></span>"},
      {"indent_max", YomikaNode::simple(NodeKind::Indent, 255),
       "<span class=\"yomika-indent yomika-indent-255\" data-amount=\"255\"></span>"},
      {"align_end_flush", YomikaNode::simple(NodeKind::AlignEnd, 0),
       "<span class=\"yomika-align-end\" data-offset=\"0\"></span>"},
      {"align_end_back", YomikaNode::simple(NodeKind::AlignEnd, 10),
       "<span class=\"yomika-align-end yomika-align-end-10\" data-offset=\"10\"></span>"},
      {"warichu", YomikaNode::simple(NodeKind::Warichu), "<!-- yomika_warichu -->"},
      {"keigakomi", YomikaNode::simple(NodeKind::Keigakomi), "<!-- yomika_keigakomi -->"},
      {"page_break", page_break(), kPageBreakHtml},
      {"section_choho", YomikaNode::simple(NodeKind::SectionBreak, 0),
       "<div class=\"yomika-section-break yomika-section-break-choho\"></div>"},
      {"section_dan", YomikaNode::simple(NodeKind::SectionBreak, 1),
       "<div class=\"yomika-section-break yomika-section-break-dan\"></div>"},
      {"section_spread", YomikaNode::simple(NodeKind::SectionBreak, 2),
       "<div class=\"yomika-section-break yomika-section-break-spread\"></div>"},
      {"heading", YomikaNode::simple(NodeKind::Heading), "<!-- yomika_heading -->"},
      {"heading_hint", make_heading_hint(in, "見出し", 1), "<!-- yomika_heading_hint -->"},
      {"sashie", make_sashie(in, "fig.png", Content::absent()), "<!-- yomika_sashie -->"},
      {"kaeriten", make_kaeriten(in, "一レ"), "<sup class=\"yomika-kaeriten\">一レ</sup>"},
      {"kaeriten_escaped", make_kaeriten(in, "<&>"), "<sup class=\"yomika-kaeriten\">&lt;&amp;&gt;</sup>"},
      {"annotation_verbatim",
       YomikaNode{NodeKind::Annotation, 0, 0, make_annotation(in, "［＃\"x\"'］", AnnotationKind::Verbatim)},
       "<span class=\"yomika-annotation\" hidden>［＃&quot;x&quot;&#x27;］</span>"},
      {"annotation_unproduced_code",
       YomikaNode{NodeKind::Annotation, 0, 0, make_annotation(in, "［＃a］", static_cast<AnnotationKind>(2))},
       "<span class=\"yomika-annotation\" hidden>［＃a］</span>"},
      {"warichu_open",
       YomikaNode{NodeKind::Annotation, 0, 0, make_annotation(in, "［＃割り注］", AnnotationKind::WarichuOpen)},
       "<span class=\"yomika-warichu\">"},
      {"warichu_close",
       YomikaNode{NodeKind::Annotation, 0, 0, make_annotation(in, "［＃割り注終わり］", AnnotationKind::WarichuClose)},
       "</span>"},
      {"double_ruby", make_double_ruby(in, Content::plain("強調")),
       "<span class=\"yomika-double-ruby\">≪強調≫</span>"},
      {"container_indent", YomikaNode::simple(NodeKind::Container, 0, 3),
       "<div class=\"yomika-container yomika-container-indent yomika-container-indent-3\" data-amount=\"3\">"},
      {"container_warichu", YomikaNode::simple(NodeKind::Container, 1, 0),
       "<div class=\"yomika-container yomika-container-warichu\">"},
      {"container_keigakomi", YomikaNode::simple(NodeKind::Container, 2, 0),
       "<div class=\"yomika-container yomika-container-keigakomi\">"},
      {"container_align_end", YomikaNode::simple(NodeKind::Container, 3, 0),
       "<div class=\"yomika-container yomika-container-align-end\" data-offset=\"0\">"},
  };
  for (const Row& r : rows) {
    std::string got = html_of(r.node);
    if (testing::check_fails(got != r.html)) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + got);
  }
}

TEST(html_bouten_names) {
  Arena arena;
  Interner in(arena, 0);
  const char* names[] = {"goma",  "white-sesame",   "circle",    "white-circle", "double-circle",     "janome",
                         "cross", "white-triangle", "wavy-line", "under-line",   "double-under-line"};
  for (uint8_t k = 0; k <= 10; ++k) {
    YomikaNode n = syntax::make_bouten(in, Content::plain("x"), static_cast<BoutenKind>(k), BoutenPosition::Right,
                                       false);
    CHECK_EQ(html_of(n), "<em class=\"yomika-bouten yomika-bouten-" + std::string(names[k]) +
                             " yomika-bouten-right\">x</em>");
  }
}

TEST(html_paragraphs_and_line_breaks) {
  struct Row {
    const char* name;
    std::string text;
    std::string html;
  };
  const Row rows[] = {
      {"empty", "", ""},
      {"one_line", "abc", "<p>abc</p>\n"},
      {"line_break", "a\nb", "<p>a<br />\nb</p>\n"},
      {"blank_line", "a\n\nb", "<p>a</p>\n<p>b</p>\n"},
      {"final_line_feed", "a\n", "<p>a</p>\n"},
      {"three_line_feeds", "a\n\n\nb", "<p>a</p>\n<p>b</p>\n"},
      {"five_line_feeds", "a\n\n\n\n\nb", "<p>a</p>\n<p>b</p>\n"},
      {"leading_line_feeds", "\n\na", "<p>a</p>\n"},
      {"only_line_feeds", "\n\n\n", ""},
      {"escaped_across_lines", "<a\n\"b'\n\n&", "<p>&lt;a<br />\n&quot;b&#x27;</p>\n<p>&amp;</p>\n"},
      {"private_use_not_sentinel", "a\xEE\x80\x80\xEE\x80\x85\xEE\x81\x81z",
       "<p>a\xEE\x80\x80\xEE\x80\x85\xEE\x81\x81z</p>\n"},
      {"lone_sentinel_lead_at_end", "ab\xEE\x80", "<p>ab\xEE\x80</p>\n"},
  };
  for (const Row& r : rows) {
    std::string got = Doc{}.t(r.text).html();
    if (testing::check_fails(got != r.html)) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + testing::show(got));
  }
}

TEST(html_blocks_containers_and_inline_nodes) {
  Arena arena;
  Interner in(arena, 0);
  YomikaNode kaeriten = syntax::make_kaeriten(in, "レ");
  const std::string k = "<sup class=\"yomika-kaeriten\">レ</sup>";
  const std::string indent2 =
      "<div class=\"yomika-container yomika-container-indent yomika-container-indent-2\" data-amount=\"2\">";
  struct Row {
    const char* name;
    Doc doc;
    std::string html;
  };
  const Row rows[] = {
      {"block_between_paragraphs_as_assembled",
       Doc{}.t("A\n\n\n").node(kBlock, EntryKind::Block, page_break()).t("\n\n\nB"),
       "<p>A</p>\n" + kPageBreakHtml + "\n<p>B</p>\n"},
      {"block_right_after_text", Doc{}.t("a").node(kBlock, EntryKind::Block, page_break()).t("b"),
       "<p>a</p>\n" + kPageBreakHtml + "\n<p>b</p>\n"},
      {"two_blocks_in_a_row",
       Doc{}.node(kBlock, EntryKind::Block, page_break()).node(kBlock, EntryKind::Block, page_break()),
       kPageBreakHtml + "\n" + kPageBreakHtml},
      {"two_assembled_blocks",
       Doc{}.t("\n\n").node(kBlock, EntryKind::Block, page_break()).t("\n\n\n\n").node(kBlock, EntryKind::Block,
                                                                                        page_break()).t("\n\n"),
       kPageBreakHtml + "\n" + kPageBreakHtml},
      {"single_line_feed_before_block", Doc{}.t("a\n").node(kBlock, EntryKind::Block, page_break()),
       "<p>a<br />\n</p>\n" + kPageBreakHtml},
      {"container_with_one_line",
       Doc{}.container(kOpen, EntryKind::ContainerOpen, ContainerKind::Indent, 2).t("\n\nB\n\n").container(
           kClose, EntryKind::ContainerClose, ContainerKind::Indent, 0),
       indent2 + "\n<p>B</p>\n</div>"},
      // Block ends close only blocks that are open, the innermost first; the text's end closes the rest.
      {"close_with_no_block_open",
       Doc{}.container(kClose, EntryKind::ContainerClose, ContainerKind::Keigakomi, 0).t("x"), "<p>x</p>\n"},
      {"block_left_open_closes_at_the_end",
       Doc{}.container(kOpen, EntryKind::ContainerOpen, ContainerKind::Indent, 2).t("\n\nB"),
       indent2 + "\n<p>B</p>\n</div>"},
      {"close_of_another_kind_closes_the_innermost",
       Doc{}.container(kOpen, EntryKind::ContainerOpen, ContainerKind::Indent, 2).t("\n\n").container(
           kOpen, EntryKind::ContainerOpen, ContainerKind::Indent, 2).t("\n\n").container(
           kClose, EntryKind::ContainerClose, ContainerKind::Keigakomi, 0).t("\n\nC").container(
           kClose, EntryKind::ContainerClose, ContainerKind::AlignEnd, 0).container(
           kClose, EntryKind::ContainerClose, ContainerKind::AlignEnd, 0),
       indent2 + "\n" + indent2 + "\n</div>\n<p>C</p>\n</div>"},
      {"inline_at_start", Doc{}.node(kInline, EntryKind::Inline, kaeriten).t("b"), "<p>" + k + "b</p>\n"},
      {"inline_at_line_start", Doc{}.t("a\n").node(kInline, EntryKind::Inline, kaeriten),
       "<p>a<br />\n" + k + "</p>\n"},
      {"inline_after_block", Doc{}.node(kBlock, EntryKind::Block, page_break()).node(kInline, EntryKind::Inline,
                                                                                    kaeriten),
       kPageBreakHtml + "\n<p>" + k + "</p>\n"},
      {"inline_between_escapes", Doc{}.t("'a").node(kInline, EntryKind::Inline, kaeriten).t("&\"").t("\nb<"),
       "<p>&#x27;a" + k + "&amp;&quot;<br />\nb&lt;</p>\n"},
  };
  for (const Row& r : rows) {
    std::string got = r.doc.html();
    if (testing::check_fails(got != r.html)) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + testing::show(got));
  }
}

TEST(html_sentinel_without_its_entry_writes_nothing) {
  Arena arena;
  Interner in(arena, 0);
  struct Row {
    const char* name;
    Doc doc;
    std::string html;
  };
  Doc missing = Doc{}.t("a").t(kInline).t("b").t(kBlock).t("c");
  Doc wrong_kind = Doc{}.t("a").node(kInline, EntryKind::Block, page_break()).t("b");
  Doc open_as_close = Doc{}.t("a").container(kClose, EntryKind::ContainerOpen, ContainerKind::Indent, 1).t("b");
  const Row rows[] = {
      {"no_entry", missing, "<p>abc</p>\n"},
      {"block_entry_under_inline_sentinel", wrong_kind, "<p>ab</p>\n"},
      {"open_entry_under_close_sentinel", open_as_close, "<p>ab</p>\n"},
  };
  for (const Row& r : rows) {
    std::string got = r.doc.html();
    if (testing::check_fails(got != r.html)) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + testing::show(got));
  }
}

TEST(html_long_text_escapes_like_the_reference) {
  // Many short lines with rare special characters: the renderer's searches must stay in step
  // across the ranges between line feeds.
  uint32_t state = 99;
  std::string text, expected = "<p>";
  for (int line = 0; line < 2000; ++line) {
    std::string s;
    for (int i = 0; i < 1 + line % 13; ++i) {
      state = state * 1103515245u + 12345u;
      unsigned r = (state >> 16) % 97;
      s += r == 0 ? '<' : r == 1 ? '"' : r == 2 ? '\'' : r == 3 ? '&' : r == 4 ? '>' : static_cast<char>('a' + r % 26);
    }
    if (line) {
      text += '\n';
      expected += "<br />\n";
    }
    text += s;
    expected += escaped_slowly(s);
  }
  expected += "</p>\n";
  CHECK_EQ(Doc{}.t(text).html(), expected);
}
