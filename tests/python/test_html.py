"""HTML output end to end: paragraphs and line breaks, escaping, blocks and containers, ruby
bases, dialogue, reference marks and replayed brackets, and the node list that goes with them."""

import json
import sys
from pathlib import Path

import pytest

import yomika_py

PB = '<div class="yomika-page-break"></div>'
INDENT2 = '<div class="yomika-container yomika-container-indent yomika-container-indent-2" data-amount="2">'
RUBY = "<ruby>漢字<rp>(</rp><rt>かんじ</rt><rp>)</rp></ruby>"
GAIJI_NOTE = "［＃「木＋吶のつくり」、第3水準1-85-54］"

HTML_CASES = [
    ("empty", "", ""),
    ("one_line", "abc", "<p>abc</p>\n"),
    ("line_break", "a\nb", "<p>a<br />\nb</p>\n"),
    ("crlf_line_break", "a\r\nb", "<p>a<br />\nb</p>\n"),
    ("blank_line", "a\n\nb", "<p>a</p>\n<p>b</p>\n"),
    ("final_line_feed", "a\n", "<p>a</p>\n"),
    ("many_blank_lines", "a\n\n\n\n\nb", "<p>a</p>\n<p>b</p>\n"),
    ("escapes", "<a href=\"x\">'&'</a>", "<p>&lt;a href=&quot;x&quot;&gt;&#x27;&amp;&#x27;&lt;/a&gt;</p>\n"),
    ("sentinel_in_source_replaced", "a\ue001b", "<p>a\ufffdb</p>\n"),
    ("other_private_use_kept", "a\ue000\ue005b", "<p>a\ue000\ue005b</p>\n"),
    ("block_inside_line", "A［＃改ページ］B", f"<p>A</p>\n{PB}\n<p>B</p>\n"),
    ("block_on_own_line", "A\n［＃改ページ］\nB", f"<p>A</p>\n{PB}\n<p>B</p>\n"),
    ("two_blocks", "［＃改ページ］［＃改ページ］", f"{PB}\n{PB}"),
    ("container", "［＃ここから２字下げ］\n本文\n［＃ここで字下げ終わり］", f"{INDENT2}\n<p>本文</p>\n</div>"),
    ("close_without_open", "a\n［＃ここで字下げ終わり］\nb", "<p>a</p>\n<p>b</p>\n"),
    ("open_without_close", "［＃ここから２字下げ］\n本文", f"{INDENT2}\n<p>本文</p>\n</div>"),
    ("implicit_ruby", "あ漢字《かんじ》い", f"<p>あ{RUBY}い</p>\n"),
    ("explicit_ruby", "｜ひらがな《よみ》", "<p><ruby>ひらがな<rp>(</rp><rt>よみ</rt><rp>)</rp></ruby></p>\n"),
    ("kana_base_stays_text", "ひらがな《よみ》", "<p>ひらがな《よみ》</p>\n"),
    ("empty_reading_stays_text", "漢字《》", "<p>漢字《》</p>\n"),
    ("ruby_reading_escaped", "漢《<&>》", "<p><ruby>漢<rp>(</rp><rt>&lt;&amp;&gt;</rt><rp>)</rp></ruby></p>\n"),
    ("dialogue_keeps_its_ruby", "「｜漢字《かんじ》」", f"<p>「{RUBY}」</p>\n"),
    ("tortoise_keeps_its_ruby", "〔漢字《かんじ》〕", f"<p>〔{RUBY}〕</p>\n"),
    ("unclosed_bracket_ends_with_its_line", "［＃改ページ\n漢字《かんじ》", f"<p>［＃改ページ<br />\n{RUBY}</p>\n"),
    (
        "gaiji_in_explicit_base",
        "｜柳※［＃「ほげ」、U+4E00］《やなぎ》",
        '<p><ruby>柳<span class="yomika-gaiji" data-codepoint="U+4E00">一</span><rp>(</rp><rt>やなぎ</rt><rp>)</rp></ruby></p>\n',
    ),
    ("bracket_without_hash_is_text", "［あ］", "<p>［あ］</p>\n"),
    ("bar_inside_replayed_bracket_is_the_base", "［｜あ］う《よみ》", "<p>［<ruby>あ］う<rp>(</rp><rt>よみ</rt><rp>)</rp></ruby></p>\n"),
    ("unclosed_reading_holding_pairs_is_text", "漢《あ「い」［う］", "<p>漢《あ「い」［う］</p>\n"),
    (
        "mark_before_closer_in_reading_is_no_gaiji",
        "漢《「※」" + GAIJI_NOTE + "》",
        f'<p><ruby>漢<rp>(</rp><rt>「※」<span class="yomika-annotation" hidden>{GAIJI_NOTE}</span></rt><rp>)</rp></ruby></p>\n',
    ),
    (
        "gaiji_inside_quote_in_reading",
        "漢《「※" + GAIJI_NOTE + "」》",
        '<p><ruby>漢<rp>(</rp><rt>「<span class="yomika-gaiji" data-codepoint="U+6798">枘</span>」</rt><rp>)</rp></ruby></p>\n',
    ),
    (
        "gaiji_inside_quote_in_double_ruby",
        "《《「※" + GAIJI_NOTE + "」》》",
        '<p><span class="yomika-double-ruby">≪「<span class="yomika-gaiji" data-codepoint="U+6798">枘</span>」≫</span></p>\n',
    ),
    (
        "emphasis_target_holding_brackets",
        "漢［字］［＃「漢［字］」に傍点］",
        '<p><em class="yomika-bouten yomika-bouten-goma yomika-bouten-right">漢［字］</em></p>\n',
    ),
    ("double_ruby", "《《強調》》", '<p><span class="yomika-double-ruby">≪強調≫</span></p>\n'),
    ("gaiji", "※" + GAIJI_NOTE, '<p><span class="yomika-gaiji" data-codepoint="U+6798">枘</span></p>\n'),
    ("reference_mark_apart_from_note", "※ ［＃改ページ］", f"<p>※ </p>\n{PB}"),
    ("reference_mark_alone", "※", "<p>※</p>\n"),
]


@pytest.mark.parametrize("source,html", [c[1:] for c in HTML_CASES], ids=[c[0] for c in HTML_CASES])
def test_html(source, html):
    assert yomika_py.parse_to_html(source) == html
    doc = yomika_py.Document(source)
    assert doc.to_html() == html
    assert doc.to_html() == html  # every call parses anew and agrees


NODE_CASES = [
    ("empty", "", []),
    ("no_construct", "ひらがな《よみ》「漢《》」", []),
    ("dialogue_over_paragraphs", "「漢《かん》\n\n「字《じ》」", [("ruby", 3, 18), ("ruby", 23, 35)]),
    ("gaiji_read_with_ruby", "あ※" + GAIJI_NOTE + "《よみ》", [("ruby", 3, 18 + len(GAIJI_NOTE.encode()))]),
    ("ruby_after_text", "あ漢字《かんじ》", [("ruby", 3, 24)]),
    ("explicit_ruby_starts_at_bar", "あ｜いう《よみ》", [("ruby", 3, 24)]),
    ("block", "a［＃改ページ］", [("pageBreak", 1, 22)]),
    ("gaiji_starts_at_mark", "あ※" + GAIJI_NOTE, [("gaiji", 3, 6 + len(GAIJI_NOTE.encode()))]),
    (
        "container_boundaries_in_order",
        "［＃ここから２字下げ］\nあ\n［＃ここで字下げ終わり］",
        [("containerOpen", 0, 33), ("containerClose", 38, 74)],
    ),
]


@pytest.mark.parametrize("source,nodes", [c[1:] for c in NODE_CASES], ids=[c[0] for c in NODE_CASES])
def test_nodes(source, nodes):
    data = json.loads(yomika_py.Document(source).nodes())["data"]
    assert [(d["kind"], d["span"]["start"], d["span"]["end"]) for d in data] == nodes


sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "tools"))
import corpus_fidelity  # noqa: E402

CORPUS = Path(__file__).resolve().parents[2] / ".." / "shared" / "corpus"
CORPUS_FILES = sorted(CORPUS.glob("*.txt")) if CORPUS.is_dir() else []


@pytest.mark.skipif(not CORPUS_FILES, reason="corpus folder ../shared/corpus not present")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=[p.stem for p in CORPUS_FILES])
def test_corpus_html_is_balanced_and_sentinel_free(path):
    source = path.read_text(encoding="utf-8")
    html = yomika_py.parse_to_html(source)
    # Every sentinel has its registry entry and is replaced by markup.
    assert not any(ch in html for ch in "\ue001\ue002\ue003\ue004")
    assert html.count("<p>") == html.count("</p>")
    assert html.count("<ruby>") == html.count("</ruby>")
    nodes = json.loads(yomika_py.Document(source).nodes())["data"]
    assert sum(1 for n in nodes if n["kind"] == "ruby") == html.count("<ruby>")
    # What a reader sees: every element closes in order, and the book's ruby and special
    # characters are drawn rather than left as raw notation.
    seen = corpus_fidelity.measure(source)
    assert seen["fault"] == ""
    assert seen["raw_ruby"] <= 0.04 * seen["ruby"]
    assert seen["found"] >= 0.98 * seen["references"]
