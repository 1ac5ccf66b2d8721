// The reader's renderer: notes read from their text, lines as blocks, ranges and blocks that nest
// whatever the text does, parts of a book, and markup that is well-formed XML.
#include <string>
#include <vector>

#include "testing.hpp"
#include "yomika/render/book.hpp"
#include "yomika/render/reader_notes.hpp"

using namespace yomika::render::reader;

namespace {

std::string describe(const ReaderNote& n) {
  static const char* const kinds[] = {"unknown", "hidden", "style", "heading", "caption",
                                      "figure",  "left-ruby", "note-ruby", "hanging", "center"};
  static const char* const forms[] = {"single", "quoted", "open", "close", "block-open", "block-close"};
  std::string s = std::string(kinds[static_cast<int>(n.kind)]) + "/" + forms[static_cast<int>(n.form)];
  if (n.style != Style::None) s.append(" style").append(std::to_string(static_cast<int>(n.style)));
  if (n.amount || n.side) s.append(" ").append(std::to_string(n.amount)).append(",").append(std::to_string(n.side));
  if (n.heading != HeadingForm::Line) s += n.heading == HeadingForm::RunIn ? " run-in" : " window";
  if (!n.target.empty()) s.append(" [").append(n.target).append("]");
  if (!n.text.empty()) s.append(" {").append(n.text).append("}");
  if (!n.file.empty())
    s.append(" ").append(n.file).append(" ").append(std::to_string(n.width)).append("x").append(std::to_string(n.height));
  return s;
}

// Sections joined by " | ", line feeds dropped; warnings and undrawn notes after " ! ".
std::string render(const std::string& text) {
  Book b;
  std::string refusal;
  BookOptions o;
  o.picture = [](std::string_view file) -> std::optional<std::string> {
    if (file == "here.png") return std::string("data:image/png;base64,AA==");
    return std::nullopt;
  };
  if (!render_book(text, o, b, refusal)) return "refused";
  std::string out;
  for (const Section& s : b.body.sections) {
    if (!out.empty()) out += " | ";
    if (s.starts_with == Break::Page) out += "page: ";
    if (s.starts_with == Break::Heading) out += "heading: ";
    if (s.centered) out += "centered: ";
    for (char c : s.html)
      if (c != '\n') out += c;
  }
  std::string notes;
  for (const PageWarning& w : b.body.warnings)
    notes += (w.kind == PageWarning::Kind::BlockLeftOpen ? " open@" : " stray@") + std::to_string(w.offset);
  for (const auto& [k, n] : b.body.undrawn) notes += " " + k + "x" + std::to_string(n);
  return notes.empty() ? out : out + " !" + notes;
}

// Every element closes in order and every attribute is quoted: the markup reads as XML.
bool well_formed(const std::string& html) {
  std::vector<std::string> stack;
  for (std::size_t i = html.find('<'); i != std::string::npos; i = html.find('<', i + 1)) {
    std::size_t e = html.find('>', i);
    if (e == std::string::npos) return false;
    std::string tag = html.substr(i + 1, e - i - 1);
    if (tag.ends_with("/")) continue;
    if (tag.starts_with("/")) {
      if (stack.empty() || stack.back() != tag.substr(1)) return false;
      stack.pop_back();
      continue;
    }
    for (std::size_t q = tag.find('='); q != std::string::npos; q = tag.find('=', q + 1))
      if (q + 1 >= tag.size() || tag[q + 1] != '"') return false;
    stack.push_back(tag.substr(0, tag.find(' ')));
  }
  return stack.empty();
}

}  // namespace

TEST(reader_notes_are_read_from_their_text) {
  struct Row {
    const char* raw;
    const char* want;
  };
  const Row rows[] = {
      {"［＃「トー」は太字］", "style/quoted style1 [トー]"},
      {"［＃「あ」は斜体］", "style/quoted style2 [あ]"},
      {"［＃「注」は２段階小さな文字］", "style/quoted style4 2,0 [注]"},
      {"［＃太字］", "style/open style1"},
      {"［＃太字終わり］", "style/close style1"},
      {"［＃ここから３段階大きな文字］", "style/block-open style3 3,0"},
      {"［＃ここで大きな文字終わり］", "style/block-close style3"},
      {"［＃１段階小さな文字］", "style/open style4 1,0"},
      {"［＃小さな文字終わり］", "style/close style4"},
      {"［＃傍点］", "style/open style5"},
      {"［＃左に二重傍線終わり］", "style/close style5 10,1"},
      {"［＃縦中横］", "style/open style6"},
      {"［＃ここから横組み］", "style/block-open style7"},
      {"［＃「一」は同行大見出し］", "heading/quoted 1,0 run-in [一]"},
      {"［＃窓中見出し］", "heading/open 2,0 window"},
      {"［＃小見出し終わり］", "heading/close 3,0"},
      {"［＃ここから中見出し］", "heading/block-open 2,0"},
      {"［＃「猫」はキャプション］", "caption/quoted [猫]"},
      {"［＃キャプション終わり］", "caption/close"},
      {"［＃田尻氏の家の図（fig1.png、横920×縦706）入る］", "figure/single {田尻氏の家の図} fig1.png 920x706"},
      {"［＃「猫」のキャプション付きの図（cat.png、横10×縦5）入る］", "figure/single [猫] cat.png 10x5"},
      {"［＃説明の図（a.png）入る］", "figure/single {説明の図} a.png 0x0"},
      {"［＃図（a.png、横幅不明）入る］", "figure/single {図} a.png 0x0"},
      {"［＃図（、横1×縦1）入る］", "unknown/single"},
      {"［＃「漢字」の左に「かんじ」のルビ］", "left-ruby/quoted [漢字] {かんじ}"},
      {"［＃「注」に「ちゅう」の注記］", "note-ruby/quoted [注] {ちゅう}"},
      {"［＃ここから改行天付き、折り返して３字下げ］", "hanging/block-open 0,3"},
      {"［＃ここから１字下げ、折り返して２字下げ］", "hanging/block-open 1,2"},
      {"［＃ここから１字下げ、折り返して字下げ］", "unknown/single"},
      {"［＃ページの左右中央］", "center/single"},
      {"［＃「天保八年」は底本では「天保八月」］", "hidden/quoted [天保八年]"},
      {"［＃ルビの「まこと」はママ］", "hidden/single"},
      {"［＃］", "hidden/single"},
      {"［＃「x」は謎］", "unknown/quoted [x]"},
      {"［＃「a「b」c」は太字］", "style/quoted style1 [a「b」c]"},
      {"［＃「a」」は太字］", "unknown/quoted [a]"},
      {"［＃２５６段階小さな文字］", "unknown/single"},
      {"［＃ほげ］", "unknown/single"},
  };
  for (const Row& r : rows) {
    std::string got = describe(read_note(r.raw));
    if (testing::check_fails(got != r.want)) testing::fail(__FILE__, __LINE__, std::string(r.raw) + ": got " + got);
  }
  CHECK(read_note("［＃小さな文字終わり］").closes(read_note("［＃３段階小さな文字］")));
  CHECK(!read_note("［＃大きな文字終わり］").closes(read_note("［＃３段階小さな文字］")));
  CHECK(!read_note("［＃左に傍点終わり］").closes(read_note("［＃傍点］")));
  CHECK_EQ(note_keyword("［＃「一」は同行大見出し］"), std::string("「…」は同行大見出し"));
  CHECK_EQ(note_keyword("［＃ここから１字下げ、折り返して２０字下げ］"), std::string("ここからN字下げ、折り返してN字下げ"));
}

TEST(reader_lines_blocks_and_parts) {
  struct Row {
    const char* name;
    std::string text;
    std::string want;
  };
  const Row rows[] = {
      {"one element per line, blank lines kept inside", "a\n\nb\n", "<p>a</p><p class=\"yomika-blank\"><br /></p><p>b</p>"},
      {"blank lines at the edges of a part go", "\n\na\n\n［＃改ページ］\n\nb\n\n", "<p>a</p> | page: <p>b</p>"},
      {"a block's own line feeds are the layout's", "A\n［＃改ページ］\nB", "<p>A</p> | page: <p>B</p>"},
      {"a block inside a line ends it", "A［＃改ページ］B", "<p>A</p> | page: <p>B</p>"},
      {"quoted style wraps its target", "トー［＃「トー」は太字］は", "<p><span class=\"yomika-bold\">トー</span>は</p>"},
      {"quoted style over a ruby", "漢字《かんじ》［＃「漢字」は太字］",
       "<p><span class=\"yomika-bold\"><ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby></span></p>"},
      {"target earlier in the line", "猫が鳴く［＃「猫」は斜体］", "<p><span class=\"yomika-italic\">猫</span>が鳴く</p>"},
      {"range carried over a line end", "［＃太字］a\nb［＃太字終わり］c",
       "<p><span class=\"yomika-bold\">a</span></p><p><span class=\"yomika-bold\">b</span>c</p>"},
      {"mis-nested ranges still nest", "［＃太字］a［＃斜体］b［＃太字終わり］c［＃斜体終わり］",
       "<p><span class=\"yomika-bold\">a<span class=\"yomika-italic\">b</span></span><span "
       "class=\"yomika-italic\">c</span></p>"},
      {"a block reopens in the next part", "［＃ここから２字下げ］\na\n［＃改ページ］\nb\n［＃ここで字下げ終わり］",
       "<div class=\"yomika-container yomika-container-indent yomika-container-indent-2\" data-amount=\"2\"><p>a</p></div>"
       " | page: <div class=\"yomika-container yomika-container-indent yomika-container-indent-2\" "
       "data-amount=\"2\"><p>b</p></div>"},
      {"a hanging indent ends at the indent's closer",
       "［＃ここから改行天付き、折り返して２字下げ］\na\n［＃ここで字下げ終わり］",
       "<div class=\"yomika-hanging\" data-first=\"0\" data-rest=\"2\"><p>a</p></div>"},
      {"blocks closed out of order", "［＃ここから太字］\n［＃ここから２字下げ］\na\n［＃ここで太字終わり］\nb\n［＃ここで字下げ終わり］",
       "<div class=\"yomika-bold\"><div class=\"yomika-container yomika-container-indent yomika-container-indent-2\" "
       "data-amount=\"2\"><p>a</p></div></div><div class=\"yomika-container yomika-container-indent "
       "yomika-container-indent-2\" data-amount=\"2\"><p>b</p></div>"},
      {"a closer with nothing open", "［＃ここで字下げ終わり］\nx", "<p>x</p> ! stray@0"},
      {"a block left open", "a\n［＃ここから太字］\nx", "<p>a</p><div class=\"yomika-bold\"><p>x</p></div> ! open@2"},
      {"a heading hint makes its line a heading", "［＃３字下げ］一［＃「一」は中見出し］\n本文",
       "<h3 id=\"yomika-h1\" class=\"yomika-heading yomika-heading-2\" data-indent=\"3\">一</h3><p>本文</p>"},
      {"a large heading starts a part", "前\n［＃大見出し］章［＃大見出し終わり］",
       "<p>前</p> | heading: <h2 id=\"yomika-h1\" class=\"yomika-heading yomika-heading-1\">章</h2>"},
      {"a run-in heading", "一［＃「一」は同行大見出し］　本文",
       "<div class=\"yomika-p\"><h2 class=\"yomika-run-in yomika-heading-1\" id=\"yomika-h1\">一</h2>　本文</div>"},
      {"a figure at hand, its caption line", "［＃「猫」のキャプション付きの図（here.png、横4×縦2）入る］\n猫［＃「猫」はキャプション］\n後",
       "<figure class=\"yomika-figure\"><img src=\"data:image/png;base64,AA==\" alt=\"猫\" width=\"4\" height=\"2\" "
       "/><figcaption>猫</figcaption></figure><p>後</p>"},
      {"a figure not at hand", "［＃地図（gone.png、横30×縦20）入る］",
       "<figure class=\"yomika-figure\"><span class=\"yomika-figure-missing\" style=\"width: 30px; aspect-ratio: 30 / "
       "20;\"><span>地図</span></span></figure>"},
      {"a centered page", "a\n［＃ページの左右中央］\nb", "<p>a</p> | centered: <p>b</p>"},
      {"notes the page cannot draw are counted", "a［＃ほげ］b［＃ほげ］", "<p>ab</p> ! ほげx2"},
      {"hidden remarks", "a［＃「a」は底本では「b」］", "<p>a</p>"},
      {"a warichu over a line end", "a［＃割り注］注\n続き［＃割り注終わり］b",
       "<p>a<span class=\"yomika-warichu\">注</span></p><p><span class=\"yomika-warichu\">続き</span>b</p>"},
      {"the legend and the title are parts of their own",
       "題\n著者\n\n-------------------------------------------------------\n［＃ここから２字下げ］\n"
       "-------------------------------------------------------\n\n本文\n\n底本：ある本\n",
       "<p>本文</p>"},
  };
  for (const Row& r : rows) {
    std::string got = render(r.text);
    if (testing::check_fails(got != r.want)) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": got " + got);
    if (testing::check_fails(!well_formed(got.substr(0, got.find(" !"))))) testing::fail(__FILE__, __LINE__, std::string(r.name) + ": not XML");
  }
}

TEST(reader_book_parts) {
  const std::string text =
      "吾輩は猫である\n副題\n夏目漱石\n翻訳者某訳\n\n-------------------------------------------------------\n"
      "【テキスト中に現れる記号について】\n［＃ここから２字下げ］\n-------------------------------------------------------\n"
      "\n本文\n\n\n底本：「猫」某社\n入力：誰か\n";
  Book b;
  std::string refusal;
  BookOptions o;
  o.keep_legend = true;
  CHECK(render_book(text, o, b, refusal));
  CHECK_EQ(b.title, std::string("吾輩は猫である"));
  CHECK_EQ(b.subtitle, std::string("副題"));
  CHECK_EQ(b.author, std::string("夏目漱石"));
  CHECK(b.contributors.size() == 1 && b.contributors[0] == "翻訳者某訳");
  CHECK(b.legend.find("<p>［＃ここから２字下げ］</p>") != std::string::npos);
  CHECK(b.colophon.find("<p>入力：誰か</p>") != std::string::npos);
  CHECK(b.body.sections.size() == 1 && b.body.sections[0].html == "<p>本文</p>\n");
  // Without the legend's two rules the text has no title part: the first line is the title.
  Book plain;
  CHECK(render_book("\n　最初の行\n次\n", BookOptions{}, plain, refusal));
  CHECK_EQ(plain.title, std::string("最初の行"));
  CHECK(plain.title_block.empty());
}
