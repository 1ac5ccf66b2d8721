"""Generators of adversarial texts: every pattern that could make a stage of the pipeline worse
than linear. Each generator takes a target size in characters and returns a str of about that
size. Used by the adversarial benchmark and by the complexity guards of the test suite."""

from __future__ import annotations


def _repeat(unit: str, size: int) -> str:
    return unit * max(1, size // len(unit))


def _numbered(template: str, size: int) -> str:
    # Repeats a note whose quoted target differs every time and never occurs in the text.
    parts, i, total = [], 0, 0
    while total < size:
        part = template.format(i)
        parts.append(part)
        total += len(part)
        i += 1
    return "".join(parts)


def _half(size: int, opener: str, closer: str) -> str:
    n = max(1, size // (len(opener) + len(closer)))
    return opener * n + closer * n


GENERATORS = {
    "nested_brackets": lambda n: _half(n, "［", "］"),
    "nested_notes": lambda n: _half(n, "［＃", "］"),
    "nested_ruby": lambda n: _half(n, "《", "》"),
    "nested_double_ruby": lambda n: _half(n, "《《", "》》"),
    "nested_tortoise": lambda n: _half(n, "〔", "〕"),
    "nested_quotes": lambda n: _half(n, "「", "」"),
    "unclosed_in_note_then_stray": lambda n: "［" + _half(n - 2, "「", "》") + "］",
    "unclosed_quotes_in_note_then_closers": lambda n: "［＃" + _half(n - 3, "「", "」》") + "］",
    "distinct_quoted_targets": lambda n: _numbered("［＃「無{:x}」に傍点］", n),
    # In decimal every run of four characters of a target occurs earlier (無12345 after 無1234 and
    # 無2345), unlike in hexadecimal at this size.
    "distinct_quoted_targets_decimal": lambda n: _numbered("［＃「無{}」に傍点］", n),
    "distinct_heading_targets_with_text": lambda n: _numbered("本文の一節です。［＃「見出{:x}」は大見出し］", n),
    # In binary no short run of a target is new: these end in the suffix index, the dearest road.
    "distinct_quoted_targets_binary": lambda n: _numbered("［＃「無{:b}」に傍点］", n),
    # The same between lines of ASCII, a character per byte: the index is built over the bytes.
    "distinct_quoted_targets_binary_in_ascii": lambda n: _numbered("The quick brown fox jumps over the lazy dog.\n［＃「x{:b}」に傍点］", n),
    "kanji_failing_ruby": lambda n: _repeat("漢《》", n),
    "long_kanji_run_failing_ruby": lambda n: _repeat("漢" * 200 + "《》", n),
    "kanji_unclosed_ruby": lambda n: _repeat("漢《", n),
    "bars": lambda n: _repeat("｜", n),
    "bars_before_ruby": lambda n: _repeat("｜漢", n - 4) + "《よ》",
    "ref_marks": lambda n: _repeat("※", n),
    "ref_marks_brackets": lambda n: _repeat("※［", n),
    "hashes": lambda n: _repeat("＃", n),
    "double_ruby_openers": lambda n: _repeat("《《", n),
    "one_long_line": lambda n: _repeat("あいうえお漢字かなカナ", n),
    "empty_lines": lambda n: "\n" * n,
    "crlf_lines": lambda n: _repeat("\r\n", n),
    "rule_lines": lambda n: _repeat("a\n----------\n", n),
    "sentinels": lambda n: _repeat("\ue001\ue002\ue003\ue004", n),
    "accent_marks": lambda n: "〔" + _repeat("e'", n - 2) + "〕",
    "accent_unclosed": lambda n: _repeat("〔a'", n),
    "gaiji_notes": lambda n: _repeat("※［＃「木＋駟のつくり」、第3水準1-85-8］", n),
    "containers_unbalanced": lambda n: _repeat("［＃ここから２字下げ］\n", n // 2) + _repeat("［＃ここで地付き終わり］\n", n // 2),
}


def generate(name: str, size: int) -> str:
    return GENERATORS[name](size)
