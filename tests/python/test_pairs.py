"""Bracket pairs and bracket diagnostics as Document reports them: the token stream's merging
of doubled ruby brackets, the strict stack, the order of diagnostics, and spans that index the
sanitized source."""

import json

import pytest

from yomika_py import Document

def pairs_of(source):
    envelope = json.loads(Document(source).pairs())
    assert envelope["schema_version"] == 1
    return [
        (p["kind"], (p["open"]["start"], p["open"]["end"]), (p["close"]["start"], p["close"]["end"]))
        for p in envelope["data"]
    ]


def diagnostics_of(source):
    envelope = json.loads(Document(source).diagnostics())
    return [(d["kind"], (d["span"]["start"], d["span"]["end"])) for d in envelope["data"]]


PAIRS = [
    ("empty", "", []),
    ("lone closer", "」", []),
    ("quote", "「a」", [("quote", (0, 3), (4, 7))]),
    ("nested quotes close inner first", "「「a」」", [("quote", (3, 6), (7, 10)), ("quote", (0, 3), (10, 13))]),
    ("ruby with bar", "｜漢字《かんじ》", [("ruby", (9, 12), (21, 24))]),
    ("double ruby spans six bytes", "《《a》》", [("doubleRuby", (0, 6), (7, 13))]),
    ("open then close is not doubled", "《》", [("ruby", (0, 3), (3, 6))]),
    ("four opens make two doubles", "《《《《a》》》》",
     [("doubleRuby", (6, 12), (13, 19)), ("doubleRuby", (0, 6), (19, 25))]),
    ("three opens: double then single", "《《《a》》》", [("ruby", (6, 9), (16, 19))]),
    ("mismatch does not pop deeper", "「《」》", [("ruby", (3, 6), (9, 12))]),
    ("stray closer leaves the opener", "《あ」", []),
    ("annotation bracket", "［＃改ページ］", [("bracket", (0, 3), (18, 21))]),
    ("tortoise", "〔漢〕", [("tortoise", (0, 3), (6, 9))]),
    ("pairs across lines", "「\n」", [("quote", (0, 3), (4, 7))]),
    ("ascii look-alikes are text", "[#a]|", []),
    ("every kind in closing order", "［《《「〔a〕」》》］",
     [("tortoise", (12, 15), (16, 19)), ("quote", (9, 12), (19, 22)), ("doubleRuby", (3, 9), (22, 28)),
      ("bracket", (0, 3), (28, 31))]),
    # Spans index the sanitized source: the byte-order mark is gone, CR LF became LF, and the
    # accent inside the tortoise brackets became one two-byte letter.
    ("after a byte-order mark", "\ufeff「a」", [("quote", (0, 3), (4, 7))]),
    ("after CR LF", "a\r\n「b」", [("quote", (2, 5), (6, 9))]),
    ("around a decomposed accent", "〔cafe'〕", [("tortoise", (0, 3), (8, 11))]),
]


@pytest.mark.parametrize("source,expected", [row[1:] for row in PAIRS], ids=[row[0] for row in PAIRS])
def test_pairs(source, expected):
    assert pairs_of(source) == expected


DIAGNOSTICS = [
    ("empty", "", []),
    ("balanced", "「a」《b》", []),
    ("lone closer", "」", [("unmatched_close", (0, 3))]),
    ("two openers, innermost first", "「《", [("unclosed_bracket", (3, 6)), ("unclosed_bracket", (0, 3))]),
    ("stray then unclosed", "《あ」", [("unmatched_close", (6, 9)), ("unclosed_bracket", (0, 3))]),
    ("mismatch then match", "「《」》", [("unmatched_close", (6, 9)), ("unclosed_bracket", (0, 3))]),
    ("doubled closer over a single opener", "《a》》", [("unmatched_close", (4, 10)), ("unclosed_bracket", (0, 3))]),
    ("three opens", "《《《", [("unclosed_bracket", (6, 9)), ("unclosed_bracket", (0, 6))]),
    ("all unmatched before any unclosed", "［」「〕",
     [("unmatched_close", (3, 6)), ("unmatched_close", (9, 12)), ("unclosed_bracket", (6, 9)),
      ("unclosed_bracket", (0, 3))]),
    ("warnings come first", "」\ue002「",
     [("source_contains_pua", (3, 6)), ("unmatched_close", (0, 3)), ("unclosed_bracket", (6, 9))]),
    ("after CR LF", "\r\n」", [("unmatched_close", (1, 4))]),
]


@pytest.mark.parametrize("source,expected", [row[1:] for row in DIAGNOSTICS], ids=[row[0] for row in DIAGNOSTICS])
def test_bracket_diagnostics(source, expected):
    assert diagnostics_of(source) == expected


def test_repeated_calls_are_identical():
    doc = Document("《あ」「")
    first = doc.diagnostics(), doc.pairs()
    assert (doc.diagnostics(), doc.pairs()) == first


@pytest.mark.parametrize("depth", [8, 9, 20000])
def test_deep_nesting(depth):
    opens = "「《" * (depth // 2) + "「" * (depth % 2)
    closes = "".join("」" if c == "「" else "》" for c in reversed(opens))
    pairs = pairs_of(opens + closes)
    assert len(pairs) == depth
    assert pairs[-1] == ("quote", (0, 3), (6 * depth - 3, 6 * depth))
    unclosed = diagnostics_of(opens)
    assert [span for _, span in unclosed] == [(3 * i, 3 * i + 3) for i in reversed(range(depth))]
