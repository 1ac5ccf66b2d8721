"""Document.serialize(): source notation in, notation in its one written form out."""

import unicodedata

import pytest

yomika_py = pytest.importorskip("yomika_py")
Document = yomika_py.Document


def serialize(source: str) -> str:
    return Document(source).serialize()


BLOCK = "\n\n{}\n\n"

CASES = [
    # Ruby: the bar is always written.
    ("ruby_implicit", "漢字《かんじ》", "｜漢字《かんじ》"),
    ("ruby_implicit_after_kana", "あ漢字《かんじ》", "あ｜漢字《かんじ》"),
    ("ruby_explicit", "｜カタカナ《かたかな》", "｜カタカナ《かたかな》"),
    ("ruby_reading_with_note", "漢《かん［＃ルビ注記］》", "｜漢《かん［＃ルビ注記］》"),
    ("ruby_without_base_stays_text", "かな《よみ》", "かな《よみ》"),
    ("double_ruby", "《《強調》》", "《《強調》》"),
    # Quoted references.
    ("bouten_adjacent", "猫［＃「猫」に傍点］", "猫［＃「猫」に傍点］"),
    ("bouten_adjacent_left", "猫［＃「猫」の左に傍線］", "猫［＃「猫」の左に傍線］"),
    ("bouten_not_adjacent", "猫が鳴いた［＃「猫」に傍点］", "猫が鳴いた［＃「猫」に傍点］"),
    ("tcy_adjacent", "12［＃「12」は縦中横］", "12［＃「12」は縦中横］"),
    ("heading_hint_medium", "見出し［＃「見出し」は中見出し］", "見出し［＃「見出し」は中見出し］"),
    # Layout notes: numbers come back as ASCII digits, spacing inside the brackets goes.
    ("indent_fullwidth_digit", "［＃３字下げ］本文", "［＃3字下げ］本文"),
    ("indent_one", "［＃１字下げ］本文", "［＃字下げ］本文"),
    ("align_end", "本文［＃地から２字上げ］", "本文［＃地から2字上げ］"),
    ("align_end_flush", "本文［＃地付き］", "本文［＃地付き］"),
    ("kaeriten", "学［＃レ］", "学［＃レ］"),
    ("warichu_canonical", "［＃ 割り注 ］注［＃割り注終わり］", "［＃割り注］注［＃割り注終わり］"),
    ("verbatim_kept_exactly", "［＃　ほげ　］", "［＃　ほげ　］"),
    # Blocks stand between blank lines.
    ("page_break", "A［＃改ページ］B", "A" + BLOCK.format("［＃改ページ］") + "B"),
    ("page_break_spaced", "［＃　改ページ　］", BLOCK.format("［＃改ページ］")),
    ("section_spread", "［＃改見開き］", BLOCK.format("［＃改見開き］")),
    ("sashie", "［＃挿絵（fig01.png）入る］", BLOCK.format("［＃挿絵（fig01.png）入る］")),
    # Containers keep their amounts, written as the one-line forms are.
    (
        "indent_container",
        "［＃ここから２字下げ］\nB\n［＃ここで字下げ終わり］",
        "\n\n［＃ここから2字下げ］\n\nB\n\n［＃ここで字下げ終わり］\n\n",
    ),
    (
        "indent_container_of_one",
        "［＃ここから１字下げ］\nB\n［＃ここで字下げ終わり］",
        "\n\n［＃ここから字下げ］\n\nB\n\n［＃ここで字下げ終わり］\n\n",
    ),
    (
        "align_end_container",
        "［＃ここから地から１字上げ］\nB\n［＃ここで地付き終わり］",
        "\n\n［＃ここから地から1字上げ］\n\nB\n\n［＃ここで地付き終わり］\n\n",
    ),
    (
        "align_end_container_flush",
        "［＃ここから地付き］\nB\n［＃ここで地付き終わり］",
        "\n\n［＃ここから地付き］\n\nB\n\n［＃ここで地付き終わり］\n\n",
    ),
    ("keigakomi", "［＃罫囲み］\nB\n［＃罫囲み終わり］", "\n\n［＃罫囲み］\n\nB\n\n［＃罫囲み終わり］\n\n"),
    # Gaiji: always the quoted form.
    (
        "gaiji_quoted",
        "※［＃「木＋駟のつくり」、第3水準1-85-8］",
        "※［＃「木＋駟のつくり」、第3水準1-85-8］",
    ),
    ("gaiji_plain_form_quoted", "※［＃二の字点、1-2-22］", "※［＃「二の字点」、1-2-22］"),
    ("gaiji_no_mention", "※［＃「丸1」］", "※［＃「丸1」］"),
    ("gaiji_trailing_text_dropped", "※［＃「ほげ」ふが］", "※［＃「ほげ」］"),
    ("not_gaiji_stays_text", "※ ［＃「丸1」］", "※ ［＃「丸1」］"),
    # Text.
    ("empty", "", ""),
    ("blank_lines_capped", "a\n\n\n\nb", "a\n\nb"),
    ("crlf", "a\r\nb\r\n\r\n\r\nc", "a\nb\n\nc"),
    ("rule_line_separated", "abc\n----------", "abc\n\n----------"),
    ("unclosed_bracket_text", "［＃改ページ", "［＃改ページ"),
    ("quoted_region_untouched", "「｜漢字《かんじ》」", "「｜漢字《かんじ》」"),
    ("reserved_character_replaced", "a\ue002b", "a\ufffdb"),
    ("other_private_use_kept", "a\ue000b\ue005", "a\ue000b\ue005"),
    ("html_specials_unescaped", "<a & 'b'>", "<a & 'b'>"),
    # Accents are decomposed before anything else reads the text.
    ("accent", "〔cafe'〕", "〔café〕"),
    ("accent_three_bytes", "〔M'〕", "〔Ḿ〕"),
    ("accent_ligature", "〔AE&on〕", "〔Æon〕"),
    ("accent_outside_brackets", "cafe'", "cafe'"),
    ("accent_nested", "〔a〔e'〕b〕", "〔a〔é〕b〕"),
]


@pytest.mark.parametrize("source,expected", [c[1:] for c in CASES], ids=[c[0] for c in CASES])
def test_serialize(source, expected):
    assert serialize(source) == expected


def test_serialize_is_deterministic():
    doc = Document("".join(c[1] for c in CASES))
    assert doc.serialize() == doc.serialize()


MARK_NAMES = {
    "`": "GRAVE",
    "'": "ACUTE",
    "^": "CIRCUMFLEX",
    ":": "DIAERESIS",
    "~": "TILDE",
    "_": "MACRON",
    ",": "CEDILLA",
    "/": "STROKE",
    "&": "RING ABOVE",
}


def test_accent_keys_match_unicode_names():
    # Every letter with every mark: the rewritten pairs must be exactly the letter with that
    # mark according to the Unicode character names (s& alone stands for the sharp s).
    rewritten = {}
    for mark, mark_name in MARK_NAMES.items():
        for letter in "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz":
            out = serialize(f"〔{letter}{mark}〕")
            if out == f"〔{letter}{mark}〕":
                continue
            ch = out[1:-1]
            assert len(ch) == 1, (letter, mark, out)
            case = "CAPITAL" if letter.isupper() else "SMALL"
            expected = f"LATIN {case} LETTER {letter.upper()} WITH {mark_name}"
            if letter + mark == "s&":
                expected = "LATIN SMALL LETTER SHARP S"
            assert unicodedata.name(ch) == expected
            rewritten[letter + mark] = ch
    assert len(rewritten) == 110


@pytest.mark.parametrize(
    "key,name",
    [
        ("AE&", "LATIN CAPITAL LETTER AE"),
        ("OE&", "LATIN CAPITAL LIGATURE OE"),
        ("ae&", "LATIN SMALL LETTER AE"),
        ("oe&", "LATIN SMALL LIGATURE OE"),
    ],
)
def test_accent_ligatures(key, name):
    assert [unicodedata.name(c) for c in serialize(f"〔{key}〕")[1:-1]] == [name]
