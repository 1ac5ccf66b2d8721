"""Property tests over strings drawn from the notation's alphabet: no exception, the same answer
every time, and the two HTML entry points agree."""

import json

import pytest

hypothesis = pytest.importorskip("hypothesis")
from hypothesis import given, settings  # noqa: E402
from hypothesis import strategies as st  # noqa: E402

import yomika_py  # noqa: E402

PIECES = [
    "｜", "《", "》", "《《", "》》", "［", "］", "＃", "※", "〔", "〕", "「", "」", "［＃", "※［＃",
    "」に傍点］", "」の左に白丸傍点］", "」は縦中横］", "」は中見出し］", "改ページ", "ここから２字下げ",
    "ここで字下げ終わり", "罫囲み", "罫囲み終わり", "割り注", "割り注終わり", "地付き", "地から３字上げ",
    "レ", "一レ", "（ヲ）", "挿絵（a.png）入る", "、第3水準1-85-8", "、U+4E00", "木＋駟のつくり",
    "漢", "字", "々", "\U00020b9f", "か", "ナ", "a", "e'", "AE&", " ", "　", "\n", "\r\n", "\r",
    "----------", "&", "<", ">", '"', "'", "\ue001", "\ue002", "\ue003", "\ue004", "\ufeff", "\ue000",
]

# Mostly notation, with arbitrary characters (any plane, controls included) mixed in.
texts = st.lists(st.one_of(st.sampled_from(PIECES), st.text(max_size=3)), max_size=60).map("".join)


@settings(max_examples=400, deadline=None)
@given(texts)
def test_outputs_are_deterministic_and_consistent(text):
    doc = yomika_py.Document(text)
    first = (doc.to_html(), doc.serialize(), doc.nodes(), doc.pairs(), doc.diagnostics())
    second = (doc.to_html(), doc.serialize(), doc.nodes(), doc.pairs(), doc.diagnostics())
    assert first == second
    assert yomika_py.parse_to_html(text) == first[0]
    for payload in first[2:]:
        data = json.loads(payload)
        assert data["schema_version"] == 1
        for item in data["data"]:
            for key in ("span", "open", "close"):
                if key in item:
                    assert item[key]["start"] < item[key]["end"]


@settings(max_examples=200, deadline=None)
@given(texts)
def test_serialize_is_a_fixed_point_after_one_pass(text):
    once = yomika_py.Document(text).serialize()
    twice = yomika_py.Document(once).serialize()
    assert yomika_py.Document(twice).serialize() == twice
