"""The JSON wire format as Python callers get it: the envelope, and reserved-character warnings
written byte for byte with the character itself as their last value."""

import json

import pytest

import yomika_py

EMPTY = '{"schema_version":1,"data":[]}'


def warning(codepoint: str, start: int) -> str:
    return (
        '{"kind":"source_contains_pua","severity":"warning","source":"source",'
        f'"span":{{"start":{start},"end":{start + 3}}},"codepoint":"{codepoint}"}}'
    )


def envelope(*items: str) -> str:
    return '{"schema_version":1,"data":[' + ",".join(items) + "]}"


@pytest.mark.parametrize("text", ["", "plain text", "吾輩は猫である。\n名前はまだ無い。\n"])
def test_text_without_constructs_gives_empty_envelopes(text):
    doc = yomika_py.Document(text)
    assert doc.nodes() == doc.pairs() == doc.diagnostics() == EMPTY


@pytest.mark.parametrize(
    "text, expected",
    [
        pytest.param("\ue001", envelope(warning("\ue001", 0)), id="e001_alone"),
        pytest.param("abcdef\ue002g", envelope(warning("\ue002", 6)), id="e002_at_6"),
        pytest.param("猫\ue003", envelope(warning("\ue003", 3)), id="after_kanji"),
        pytest.param("\ue004x\ue001", envelope(warning("\ue004", 0), warning("\ue001", 4)), id="ascending"),
    ],
)
def test_reserved_character_warnings_byte_exact(text, expected):
    out = yomika_py.Document(text).diagnostics()
    assert out == expected
    reserved = [c for c in text if "\ue001" <= c <= "\ue004"]
    assert [item["codepoint"] for item in json.loads(out)["data"]] == reserved
