"""Classification through the module: what ［＃…］ notes, ruby, double ruby and quoted references
become in the HTML and in nodes(), and that a note no rule accepts loses none of its text."""

import json
import re
from pathlib import Path

import pytest
from hypothesis import assume, given, settings
from hypothesis import strategies as st

import yomika_py

CORPUS = Path(__file__).resolve().parents[2] / ".." / "shared" / "corpus"


def nodes(source):
    return [(n["kind"], n["span"]["start"], n["span"]["end"]) for n in json.loads(yomika_py.Document(source).nodes())["data"]]


def b(text):
    """Byte length of text in UTF-8: spans are byte offsets."""
    return len(text.encode())


def p(inner):
    return f"<p>{inner}</p>\n"


def bouten(kind, position, target):
    return f'<em class="yomika-bouten yomika-bouten-{kind} yomika-bouten-{position}">{target}</em>'


def ruby(base, reading):
    return f"<ruby>{base}<rp>(</rp><rt>{reading}</rt><rp>)</rp></ruby>"


def hidden(raw):
    return f'<span class="yomika-annotation" hidden>{raw}</span>'


ANNOTATION_HTML = [
    ("page_break", "［＃改ページ］", '<div class="yomika-page-break"></div>'),
    ("choho", "［＃改丁］", '<div class="yomika-section-break yomika-section-break-choho"></div>'),
    ("dan", "［＃改段］", '<div class="yomika-section-break yomika-section-break-dan"></div>'),
    ("spread", "［＃改見開き］", '<div class="yomika-section-break yomika-section-break-spread"></div>'),
    ("align_end", "［＃地付き］終", p('<span class="yomika-align-end" data-offset="0"></span>終')),
    ("align_end_from", "［＃地から２字上げ］終", p('<span class="yomika-align-end yomika-align-end-2" data-offset="2"></span>終')),
    ("indent", "［＃３字下げ］本", p('<span class="yomika-indent yomika-indent-3" data-amount="3"></span>本')),
    (
        "indent_block",
        "［＃ここから２字下げ］\n本\n［＃ここで字下げ終わり］",
        '<div class="yomika-container yomika-container-indent yomika-container-indent-2" data-amount="2">\n'
        + p("本")
        + "</div>",
    ),
    (
        "indent_block_default",
        "［＃ここから字下げ］\n本\n［＃ここで字下げ終わり］",
        '<div class="yomika-container yomika-container-indent yomika-container-indent-1" data-amount="1">\n'
        + p("本")
        + "</div>",
    ),
    (
        "align_end_block",
        "［＃ここから地から１字上げ］\n本\n［＃ここで地付き終わり］",
        '<div class="yomika-container yomika-container-align-end" data-offset="1">\n' + p("本") + "</div>",
    ),
    (
        "keigakomi",
        "［＃罫囲み］\n本\n［＃罫囲み終わり］",
        '<div class="yomika-container yomika-container-keigakomi">\n' + p("本") + "</div>",
    ),
    ("warichu", "前［＃割り注］注［＃割り注終わり］後", p('前<span class="yomika-warichu">注</span>後')),
    ("kaeriten", "読［＃レ］", p('読<sup class="yomika-kaeriten">レ</sup>')),
    ("kaeriten_compound", "読［＃一レ］", p('読<sup class="yomika-kaeriten">一レ</sup>')),
    ("kaeriten_paren", "読［＃（ヲ）］", p('読<sup class="yomika-kaeriten">（ヲ）</sup>')),
    ("sashie", "［＃挿絵（fig01.png）入る］", "<!-- yomika_sashie -->"),
    ("verbatim", "［＃ほげ］", p(hidden("［＃ほげ］"))),
    ("verbatim_escaped", "［＃<a href='x'>&\"］", p(hidden("［＃&lt;a href=&#x27;x&#x27;&gt;&amp;&quot;］"))),
    ("no_hash", "［ほげ］", p("［ほげ］")),
    ("space_before_hash", "［　＃ほげ］", p("［　＃ほげ］")),
]

INLINE_HTML = [
    ("bouten_adjacent", "猫［＃「猫」に傍点］", p(bouten("goma", "right", "猫"))),
    ("bouten_apart", "猫が鳴いた［＃「猫」に傍点］", p("猫が鳴いた" + bouten("goma", "right", "猫"))),
    ("bouten_left_line", "線［＃「線」の左に傍線］", p(bouten("under-line", "left", "線"))),
    ("bouten_white_triangle", "点［＃「点」に白三角傍点］", p(bouten("white-triangle", "right", "点"))),
    ("bouten_wavy", "波［＃「波」に波線］", p(bouten("wavy-line", "right", "波"))),
    ("bouten_two_targets", "春と秋［＃「春」「秋」に白丸傍点］", p("春と秋" + bouten("white-circle", "right", "春、秋"))),
    ("bouten_missing", "猫［＃「犬」に傍点］", p("猫" + hidden("［＃「犬」に傍点］"))),
    ("bouten_empty_quote", "［＃「」に傍点］", p(hidden("［＃「」に傍点］"))),
    ("bouten_space_after_hash", "猫［＃ 「猫」に傍点］", p("猫" + hidden("［＃ 「猫」に傍点］"))),
    ("bouten_comma", "春秋［＃「春」、「秋」に傍点］", p("春秋" + hidden("［＃「春」、「秋」に傍点］"))),
    ("bouten_escaped_target", "a&b［＃「a&b」に傍点］", p(bouten("goma", "right", "a&amp;b"))),
    ("tcy", "AB［＃「AB」は縦中横］", p('<span class="yomika-tcy">AB</span>')),
    ("tcy_first_only", "ABC［＃「AB」「C」は縦中横］", p('ABC<span class="yomika-tcy">AB</span>')),
    ("heading_hint", "見出し［＃「見出し」は大見出し］", p("見出し<!-- yomika_heading_hint -->")),
    ("heading_hint_missing", "［＃「見出し」は大見出し］", p(hidden("［＃「見出し」は大見出し］"))),
    ("ruby_implicit", "東京《とうきょう》", p(ruby("東京", "とうきょう"))),
    ("ruby_after_kana", "カタカナ漢字《かんじ》", p("カタカナ" + ruby("漢字", "かんじ"))),
    ("ruby_explicit", "｜カタカナ《かたかな》", p(ruby("カタカナ", "かたかな"))),
    ("ruby_kana_base", "かな《よみ》", p("かな《よみ》")),
    ("ruby_empty_reading", "漢字《》", p("漢字《》")),
    ("ruby_line_start", "《かな》", p("《かな》")),
    ("ruby_bar_then_open", "漢｜《よみ》", p("漢｜《よみ》")),
    ("ruby_iteration_mark", "人々《ひとびと》", p(ruby("人々", "ひとびと"))),
    ("ruby_zero_sign", "〇〇年《ねん》", p("〇〇" + ruby("年", "ねん"))),
    ("ruby_astral", "𠀋《じょう》", p(ruby("𠀋", "じょう"))),
    ("ruby_nested_note", "漢《かん［＃ルビ注記］》", p(ruby("漢", "かん" + hidden("［＃ルビ注記］")))),
    # Warichu markers always nest: an unmatched end writes nothing, an unmatched start is
    # closed where its reading or paragraph ends.
    ("ruby_nested_warichu", "漢《か［＃割り注］》", p(ruby("漢", 'か<span class="yomika-warichu"></span>'))),
    ("ruby_nested_warichu_end", "漢《か［＃割り注終わり］な》", p(ruby("漢", "かな"))),
    ("warichu_end_alone", "前［＃割り注終わり］後", p("前後")),
    ("warichu_start_alone", "前［＃割り注］後\n次", p('前<span class="yomika-warichu">後<br />\n次</span>')),
    (
        "warichu_across_paragraphs",
        "［＃割り注］甲\n\n乙［＃割り注終わり］",
        '<p><span class="yomika-warichu">甲</span></p>\n<p>乙</p>\n',
    ),
    ("warichu_twice_nested", "［＃割り注］a［＃割り注］b［＃割り注終わり］", p('<span class="yomika-warichu">a<span class="yomika-warichu">b</span></span>')),
    ("ruby_escaped_reading", "漢《<b>》", p(ruby("漢", "&lt;b&gt;"))),
    # The target before a nested quoted note stays in the reading as text.
    ("ruby_nested_adjacent_target", "漢《ねこ猫［＃「猫」に傍点］》", p(ruby("漢", "ねこ猫" + hidden("［＃「猫」に傍点］")))),
    ("double_ruby", "《《強調》》", p('<span class="yomika-double-ruby">≪強調≫</span>')),
    ("double_ruby_empty", "《《》》", p("《《》》")),
    (
        "double_ruby_nested_adjacent_target",
        "《《猫［＃「猫」に傍点］》》",
        p('<span class="yomika-double-ruby">≪猫' + hidden("［＃「猫」に傍点］") + "≫</span>"),
    ),
]


@pytest.mark.parametrize("name,source,expected", ANNOTATION_HTML + INLINE_HTML, ids=[r[0] for r in ANNOTATION_HTML + INLINE_HTML])
def test_html(name, source, expected):
    assert yomika_py.parse_to_html(source) == expected


NODE_ROWS = [
    ("page_break", "前\n［＃改ページ］\n後", [("pageBreak", b("前\n"), b("前\n［＃改ページ］"))]),
    (
        "container_pair",
        "［＃ここから２字下げ］\n本\n［＃ここで字下げ終わり］",
        [
            ("containerOpen", 0, b("［＃ここから２字下げ］")),
            ("containerClose", b("［＃ここから２字下げ］\n本\n"), b("［＃ここから２字下げ］\n本\n［＃ここで字下げ終わり］")),
        ],
    ),
    ("verbatim", "あ［＃ほげ］", [("annotation", 3, b("あ［＃ほげ］"))]),
    ("not_annotation", "［ほげ］", []),
    # An adjacent target is covered by the node; a distant one is not.
    ("bouten_adjacent", "猫［＃「猫」に傍点］", [("bouten", 0, b("猫［＃「猫」に傍点］"))]),
    ("bouten_apart", "猫が鳴いた［＃「猫」に傍点］", [("bouten", b("猫が鳴いた"), b("猫が鳴いた［＃「猫」に傍点］"))]),
    ("bouten_two_targets_not_adjacent", "春秋［＃「春」「秋」に傍点］", [("bouten", 6, b("春秋［＃「春」「秋」に傍点］"))]),
    ("tcy_adjacent", "AB［＃「AB」は縦中横］", [("tateChuYoko", 0, b("AB［＃「AB」は縦中横］"))]),
    # A heading hint covers only its brackets, even right after its target.
    ("heading_hint", "見出し［＃「見出し」は大見出し］", [("headingHint", 9, b("見出し［＃「見出し」は大見出し］"))]),
    ("kaeriten", "読［＃レ］", [("kaeriten", 3, b("読［＃レ］"))]),
    ("sashie", "［＃挿絵（a.png）入る］", [("sashie", 0, b("［＃挿絵（a.png）入る］"))]),
    ("warichu", "［＃割り注］注［＃割り注終わり］", [("annotation", 0, b("［＃割り注］")), ("annotation", b("［＃割り注］注"), b("［＃割り注］注［＃割り注終わり］"))]),
    ("ruby_explicit_span_has_bar", "前｜語《ご》", [("ruby", b("前"), b("前｜語《ご》"))]),
    ("ruby_implicit_span_from_base", "あ漢字《かんじ》", [("ruby", 3, b("あ漢字《かんじ》"))]),
    ("double_ruby", "《《強調》》", [("doubleRuby", 0, b("《《強調》》"))]),
    ("nested_note_not_listed", "漢《か［＃注］》", [("ruby", 0, b("漢《か［＃注］》"))]),
    ("dialogue_keeps_its_ruby", "「｜漢字《かんじ》」", [("ruby", 3, 27)]),
]


@pytest.mark.parametrize("name,source,expected", NODE_ROWS, ids=[r[0] for r in NODE_ROWS])
def test_nodes(name, source, expected):
    assert nodes(source) == expected


def visible_text(fragment):
    """The text of an HTML fragment: tags and comments removed, the five escapes decoded."""
    text = re.sub(r"<!--.*?-->|<[^>]*>", "", fragment)
    for entity, char in (("&lt;", "<"), ("&gt;", ">"), ("&quot;", '"'), ("&#x27;", "'"), ("&amp;", "&")):
        text = text.replace(entity, char)
    return text


def squeeze(text):
    return "".join(ch for ch in text if not ch.isspace())


# Every rule declines these; their characters must all reach the HTML, as text or inside a
# verbatim annotation.
REJECTED = [
    "［＃改ページです］",
    "［＃改　ページ］",
    "［＃0字下げ］［＃256字下げ］［＃二字下げ］",
    "［＃地から0字上げ］［＃ここから256字下げ］",
    "［＃挿絵（）入る］［＃挿絵（a.png）］",
    "［＃（注）と同じ］［＃（一二三四五六）］",
    "［＃レ点］［＃］［＃　］",
    "［ほげ］［　＃ほげ］",
    "猫［＃「犬」に傍点］",
    "［＃「」に傍点］",
    "猫［＃ 「猫」に傍点］",
    "春秋［＃「春」、「秋」に傍点］",
    "猫［＃「猫」に点］",
    "C［＃「AB」「C」は縦中横］",
    "［＃「見出し」は大見出し］",
    "かな《よみ》漢字《》《かな》漢｜《よみ》",
    "《《》》",
    "※［＃ほげ］",
    "a<b>&\"'［＃<&>］",
    "［＃未完",
    "漢《よみ",
]


@pytest.mark.parametrize("source", REJECTED)
def test_rejected_notes_keep_every_character(source):
    assert all(kind == "annotation" for kind, _, _ in nodes(source))
    assert squeeze(visible_text(yomika_py.parse_to_html(source))) == squeeze(source)


PIECES = [
    "猫", "犬", "かな", "漢字", "［", "］", "＃", "「", "」", "《", "》", "《《", "》》", "｜", "※",
    "　", " ", "\n", "改ページ", "字下げ", "３", "に傍点", "は縦中横", "は大見出し", "挿絵（", "）", "入る",
    "&", "<", ">", "'", '"', "ab",
]


@settings(max_examples=400, deadline=None)
@given(st.lists(st.sampled_from(PIECES), max_size=24))
def test_unrecognised_documents_keep_every_character(pieces):
    source = "".join(pieces)
    found = nodes(source)
    assume(all(kind == "annotation" for kind, _, _ in found))
    out = yomika_py.parse_to_html(source)
    assume('class="yomika-warichu"' not in out)
    assert squeeze(visible_text(out)) == squeeze(source)


@pytest.mark.skipif(not CORPUS.is_dir(), reason="corpus folder absent")
def test_corpus_texts_classify_without_error():
    texts = sorted(CORPUS.glob("*.txt"))
    assert texts
    for path in texts:
        source = path.read_text(encoding="utf-8")
        doc = yomika_py.Document(source)
        assert json.loads(doc.nodes())["data"]
        assert doc.to_html() == yomika_py.parse_to_html(source)
