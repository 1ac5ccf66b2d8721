"""The str boundary: sources of every storage width (1, 2 or 4 bytes per character) are read as
UTF-8 without leaving anything on the caller's string, lone surrogates raise the codec's own error,
and results come back equal, in value and in storage, to what the interpreter's decoder makes."""

import sys
from concurrent.futures import ThreadPoolExecutor

import pytest

from yomika_py import Document, parse_to_html

# One alphabet per storage width and UTF-8 length. None of their characters means anything to the
# notation or to HTML escaping, so a line of them renders as one paragraph of the same text.
ALPHABETS = {
    "ascii": "abcXYZ019",
    "latin1": "aéßñÿ",  # one byte per character, two in UTF-8
    "two_byte_utf8": "αβγΩжЯ",  # two bytes per character, two in UTF-8
    "japanese": "漢字かなカナ",  # two bytes per character, three in UTF-8
    "astral": "𠮷😀",  # four bytes per character, four in UTF-8
    "mixed": "aé漢α𠮷",
}

# Around the vector widths (4, 8 and 16 characters; 12-, 16- and 24-byte blocks) and the points
# where the counting passes fold their lane counters (4080 bytes, 65536 characters).
LENGTHS = [*range(0, 50), 63, 64, 65, 127, 128, 129, 4079, 4080, 4081, 65535, 65536, 65537]


def text_of(alphabet: str, n: int, shape: str) -> str:
    if n == 0:
        return ""
    if shape == "cycled":
        return (alphabet * (n // len(alphabet) + 1))[:n]
    # A single character of the alphabet's widest kind among ASCII, at one end: it alone decides
    # the storage of the whole string and sits in the vector loops' tails or heads.
    widest = max(alphabet, key=ord)
    return "a" * (n - 1) + widest if shape == "wide_last" else widest + "a" * (n - 1)


CASES = [
    pytest.param(name, n, shape, id=f"{name}-{n}-{shape}")
    for name in ALPHABETS
    for n in LENGTHS
    for shape in (["cycled"] if name == "ascii" else ["cycled", "wide_last", "wide_first"])
]


@pytest.mark.parametrize("name, n, shape", CASES)
def test_every_kind_and_length_round_trips(name, n, shape):
    text = text_of(ALPHABETS[name], n, shape)
    doc = Document(text)
    assert doc.source_byte_len() == len(text.encode("utf-8"))
    source = doc.source
    assert source == text  # equal strings share their storage width, so this checks it too
    assert sys.getsizeof(source) == sys.getsizeof(text)
    if text:
        html = parse_to_html(text)
        expected = "<p>" + text + "</p>\n"
        assert html == expected
        assert sys.getsizeof(html) == sys.getsizeof(expected)
        assert html.isascii() == expected.isascii()


def test_large_text_round_trips():
    # Past the size at which the buffers ask for huge pages.
    text = "吾輩は猫である。名前はまだ無い。𠮷\n" * 1_500_000
    doc = Document(text)
    assert doc.source_byte_len() == len(text.encode("utf-8"))
    assert doc.source == text
    assert Document(text).serialize() == text


CALLS = [
    pytest.param(parse_to_html, id="parse_to_html"),
    pytest.param(Document, id="Document"),
    pytest.param(lambda s: Document(s).to_html(), id="to_html"),
]


@pytest.mark.parametrize("call", CALLS)
@pytest.mark.parametrize("name", [n for n in ALPHABETS if n != "ascii"])
def test_no_utf8_copy_is_left_on_the_callers_string(call, name):
    text = text_of(ALPHABETS[name], 1000, "cycled")
    before = sys.getsizeof(text)
    call(text)
    # The interpreter counts a cached UTF-8 form in the string's size.
    assert sys.getsizeof(text) == before


# HTML whose widest character is not the source's: the result still takes the narrowest storage
# for its own characters, and HTML far longer than its source (in characters) comes back whole.
WIDTH_CHANGES = [
    ("two_byte_source_latin1_html", "［＃改ページ］é", '<div class="yomika-page-break"></div>\n<p>é</p>\n'),
    ("four_byte_source_ascii_html", "［＃挿絵（𠮷.png）入る］", "<!-- yomika_sashie -->"),
    ("two_byte_source_astral_html", "※［＃「ほげ」、第4水準2-94-86］" + "あ" * 20,
     '<p><span class="yomika-gaiji" data-codepoint="U+2A6B2">\U0002a6b2</span>' + "あ" * 20 + "</p>\n"),
    ("markup_outgrows_the_source", "漢" + "a\n" * 40000, "<p>漢" + "a<br />\n" * 39999 + "a</p>\n"),
]


@pytest.mark.parametrize("call", [CALLS[0], CALLS[2]])
@pytest.mark.parametrize("text, expected", [c[1:] for c in WIDTH_CHANGES], ids=[c[0] for c in WIDTH_CHANGES])
def test_html_takes_the_storage_of_its_own_characters(call, text, expected):
    html = call(text)
    assert html == expected
    assert sys.getsizeof(html) == sys.getsizeof(expected)


SURROGATES = [
    ("alone", "\ud800"),
    ("low_alone", "\udfff"),
    ("run", "\udc80" * 3),
    ("inside_japanese_block", "漢" * 20 + "\udfff" + "漢" * 20),
    ("after_blocks", "漢" * 16 + "\ud800"),
    ("before_japanese", "\ud800" + "漢" * 40),
    ("in_astral_text", "𠮷" * 10 + "\udc80" + "a" * 10),
    ("after_latin1", "é" * 17 + "\udc00"),
    ("past_counter_fold", "漢" * 65536 + "\ud800"),
]


@pytest.mark.parametrize("call", CALLS[:2])
@pytest.mark.parametrize("text", [t for _, t in SURROGATES], ids=[n for n, _ in SURROGATES])
def test_lone_surrogate_raises_the_codecs_error(call, text):
    with pytest.raises(UnicodeEncodeError) as codec:
        text.encode("utf-8")
    before = sys.getsizeof(text)
    with pytest.raises(UnicodeEncodeError) as info:
        call(text)
    error, expected = info.value, codec.value
    assert (error.encoding, error.reason, error.start, error.end) == (
        expected.encoding,
        expected.reason,
        expected.start,
        expected.end,
    )
    assert error.object == text
    assert error.__notes__ == ["while processing 'source'"]
    assert sys.getsizeof(text) == before


class Text(str):
    pass


class Methods(str):
    """A subclass whose methods lie: the module must read the characters themselves."""

    def encode(self, *args, **kwargs):
        raise AssertionError("encode() called")

    def __str__(self):
        return "wrong"

    def __len__(self):
        return 0


@pytest.mark.parametrize("cls", [Text, Methods])
@pytest.mark.parametrize("name", list(ALPHABETS))
def test_str_subclasses_are_read_by_their_characters(cls, name):
    plain = text_of(ALPHABETS[name], 100, "cycled")
    text = cls(plain)
    assert parse_to_html(text) == "<p>" + plain + "</p>\n"
    source = Document(text).source
    assert type(source) is str and source == plain


def test_outputs_do_not_depend_on_earlier_calls_or_threads():
    # Memory is kept per thread between calls: growing past what is kept, coming back under it
    # and running on several threads at once must not change a single output.
    line = "｜漢字《かんじ》を［＃「漢字」に傍点］読む。※［＃「土＋口」、第4水準2-4-65］\n"
    texts = [line * n for n in (1, 40, 5_000, 90_000, 3)]  # the fourth is past what a thread keeps
    expected = [Document(t).to_html() for t in texts]
    for text, html in zip(texts + texts[::-1], expected + expected[::-1]):
        assert parse_to_html(text) == html
    with ThreadPoolExecutor(max_workers=4) as pool:
        assert list(pool.map(parse_to_html, texts * 4)) == expected * 4
