"""Sanitizing as Python callers see it: reported spans index the sanitized text, so removed
byte-order marks, merged line endings and separated rule lines move them, while the stored source
keeps every byte."""

import json

import pytest

import yomika_py

E = "\ue002"  # a reserved character: its warning's span shows where it ended up


def warning_starts(text):
    items = json.loads(yomika_py.Document(text).diagnostics())["data"]
    assert all(i["kind"] == "source_contains_pua" for i in items)
    return [i["span"]["start"] for i in items]


@pytest.mark.parametrize(
    "text, starts",
    [
        pytest.param("ab" + E, [2], id="nothing_removed"),
        pytest.param("\ufeff\ufeff\ufeffab" + E, [2], id="leading_boms"),
        pytest.param("a\ufeff" + E, [4], id="inner_bom_stays"),
        pytest.param("a\r\r\n" + E, [3], id="cr_crlf"),
        pytest.param("abc\n----------\n" + E, [16], id="rule_separated"),
        pytest.param("abc\n---------\n" + E, [14], id="nine_is_no_rule"),
        pytest.param("\ue000\ue005", [], id="e000_e005_are_text"),
    ],
)
def test_spans_index_the_sanitized_text(text, starts):
    assert warning_starts(text) == starts


def test_source_keeps_what_sanitizing_removes():
    text = "\ufeffa\r\n----------\r\n" + E
    doc = yomika_py.Document(text)
    assert doc.source == text
    assert doc.source_byte_len() == len(text.encode("utf-8"))
    assert warning_starts(text) == [14]
