"""Gaiji references ※［＃…］: recognition, resolution and their HTML, at top level and in readings."""

import json

import pytest

import yomika_py


def gaiji(code_points: str, text: str) -> str:
    return f'<span class="yomika-gaiji" data-codepoint="{code_points}">{text}</span>'


def unresolved(description: str) -> str:
    return f'<span class="yomika-gaiji" data-description="{description}">{description}</span>'


def verbatim(raw: str) -> str:
    return f'<span class="yomika-annotation" hidden>{raw}</span>'


def para(inner: str) -> str:
    return f"<p>{inner}</p>\n"


RESOLUTION = [
    # name, source, expected HTML
    ("mention before description", "※［＃「木＋駟のつくり」、第3水準1-85-8］", para(gaiji("U+FA41", "\ufa41"))),
    ("description when no mention", "※［＃「木＋駟のつくり」］", para(gaiji("U+67F6", "\u67f6"))),
    ("two code points", "※［＃「カ゚」、第3水準1-5-87］", para(gaiji("U+30AB U+309A", "\u30ab\u309a"))),
    ("two tone letters", "※［＃「ほげ」、第3水準1-11-69］", para(gaiji("U+02E9 U+02E5", "\u02e9\u02e5"))),
    ("plane 1 row 13", "※［＃「ほげ」、第3水準1-13-35］", para(gaiji("U+334D", "\u334d"))),
    ("plane 1 row 10", "※［＃「ほげ」、第3水準1-10-1］", para(gaiji("U+0104", "\u0104"))),
    ("plane 2 astral", "※［＃「ほげ」、第4水準2-94-86］", para(gaiji("U+2A6B2", "\U0002a6b2"))),
    ("code point", "※［＃「ほげ」、U+4E00］", para(gaiji("U+4E00", "一"))),
    ("code point with plus sign", "※［＃「ほげ」、U++41］", para(gaiji("U+0041", "A"))),
    ("surrogate falls through", "※［＃「ほげ」、U+D800］", para(unresolved("ほげ"))),
    ("surrogate then description", "※［＃「丸1」、U+D800］", para(gaiji("U+2460", "①"))),
    ("beyond Unicode", "※［＃「ほげ」、U+110000］", para(unresolved("ほげ"))),
    ("code point with page reference", "※［＃「女＋武」、U+5A2C、28-13］", para(gaiji("U+5A2C", "娬"))),
    ("mention after a description in words", "※［＃「田＋劵」の「力」に代えて「土」、第4水準2-3-69］", para(gaiji("U+5424", "吤"))),
    ("component by substitution", "※［＃「りっしんべん＋（「夢」の「夕」に代えて「目」）」、第4水準2-12-81］", para(gaiji("U+61F5", "懵"))),
    ("bare plane-row-cell abbreviates a level-3 key", "※［＃ローマ数字1小文字、1-12-21］", para(gaiji("U+2170", "ⅰ"))),
    ("leading zero is no key", "※［＃「ほげ」、第3水準1-05-90］", para(unresolved("ほげ"))),
    ("bare plane-row-cell, plain form", "※［＃二の字点、1-2-22］", para(gaiji("U+303B", "〻"))),
    ("description table", "※［＃「丸1」］", para(gaiji("U+2460", "①"))),
    ("description table, one character", "※［＃「〻」］", para(gaiji("U+303B", "〻"))),
    ("description table, astral", "※［＃「木＋厚」］", para(gaiji("U+23594", "\U00023594"))),
    ("description table, private use", "※［＃「虫＋罔」］", para(gaiji("U+10486A", "\U0010486a"))),
    ("single character", "※［＃「あ」］", para(gaiji("U+3042", "あ"))),
    ("unresolved", "※［＃「田＋劵」の「力」に代えて「土」］", para(unresolved("田＋劵"))),
    ("text after quote ignored", "※［＃「ほげ」ふが］", para(unresolved("ほげ"))),
    ("description escaped twice", "※［＃「<&\"'>」］", para(unresolved("&lt;&amp;&quot;&#x27;&gt;"))),
]

NOT_GAIJI = [
    ("plain form without comma", "※［＃二の字点］", para("※" + verbatim("［＃二の字点］"))),
    ("empty quoted description", "※［＃「」、第3水準1-5-90］", para("※" + verbatim("［＃「」、第3水準1-5-90］"))),
    ("words as mention", "※［＃ほげ、ふが］", para("※" + verbatim("［＃ほげ、ふが］"))),
    ("text between mark and bracket", "※あ［＃「丸1」］", para("※あ" + verbatim("［＃「丸1」］"))),
    ("space between mark and bracket", "※ ［＃「丸1」］", para("※ " + verbatim("［＃「丸1」］"))),
    ("line feed between", "※\n［＃「丸1」］", "<p>※<br />\n" + verbatim("［＃「丸1」］") + "</p>\n"),
    ("no mark", "［＃「丸1」］", para(verbatim("［＃「丸1」］"))),
    ("unclosed bracket", "※［＃「丸1」", para("※［＃「丸1」")),
]

PLACEMENT = [
    ("between text", "前※［＃「丸1」］後", para("前" + gaiji("U+2460", "①") + "後")),
    ("two in a row", "※［＃「あ」］※［＃「い」］", para(gaiji("U+3042", "あ") + gaiji("U+3044", "い"))),
    ("mark before the mark", "※※［＃「丸1」］", para("※" + gaiji("U+2460", "①"))),
    (
        "in a ruby reading",
        "漢《かん※［＃「丸1」］》",
        para("<ruby>漢<rp>(</rp><rt>かん" + gaiji("U+2460", "①") + "</rt><rp>)</rp></ruby>"),
    ),
    (
        "in an explicit ruby reading",
        "｜ほげ《※［＃「ほげ」、U+4E00］》",
        para("<ruby>ほげ<rp>(</rp><rt>" + gaiji("U+4E00", "一") + "</rt><rp>)</rp></ruby>"),
    ),
    (
        "in a double ruby",
        "《《強※［＃「丸1」］》》",
        para('<span class="yomika-double-ruby">\u226a強' + gaiji("U+2460", "①") + "\u226b</span>"),
    ),
    (
        "malformed in a reading",
        "漢《※［＃ほげ］》",
        para("<ruby>漢<rp>(</rp><rt>※" + verbatim("［＃ほげ］") + "</rt><rp>)</rp></ruby>"),
    ),
]


@pytest.mark.parametrize("source, expected", [c[1:] for c in RESOLUTION], ids=[c[0] for c in RESOLUTION])
def test_resolution(source, expected):
    assert yomika_py.parse_to_html(source) == expected


@pytest.mark.parametrize("source, expected", [c[1:] for c in NOT_GAIJI], ids=[c[0] for c in NOT_GAIJI])
def test_not_a_gaiji_stays_text_and_annotation(source, expected):
    assert yomika_py.parse_to_html(source) == expected


@pytest.mark.parametrize("source, expected", [c[1:] for c in PLACEMENT], ids=[c[0] for c in PLACEMENT])
def test_placement(source, expected):
    assert yomika_py.parse_to_html(source) == expected


def test_nodes_list_gaiji_with_span_from_the_mark():
    source = "前※［＃「丸1」］後"
    data = json.loads(yomika_py.Document(source).nodes())["data"]
    assert [d["kind"] for d in data] == ["gaiji"]
    start = len("前".encode())
    end = len("前※［＃「丸1」］".encode())
    assert (data[0]["span"]["start"], data[0]["span"]["end"]) == (start, end)
