"""The module's outside: its names, signatures and docstrings, the argument errors of
parse_to_html and Document, the stored source, and what a caller's huge string does."""

import inspect

import pytest

import yomika_py
from conftest import GIB, mem_available, run_python

EMPTY = '{"schema_version":1,"data":[]}'


def test_module_names():
    assert yomika_py.__all__ == ["Document", "parse_to_html"]
    assert yomika_py.Document.__module__ == "builtins"
    assert yomika_py.Document.__name__ == yomika_py.Document.__qualname__ == "Document"
    assert yomika_py.parse_to_html.__module__ == "yomika_py"
    assert yomika_py.parse_to_html.__self__ is yomika_py


def test_import_gives_no_warning():
    result = run_python("import yomika_py")
    assert result.returncode == 0
    result = run_python(
        """
        import warnings, yomika_py
        warnings.simplefilter("error")
        """
    )
    assert result.returncode == 0, result.stderr


def test_module_reimport_reuses_the_one_type():
    result = run_python(
        """
        import sys, yomika_py
        first = yomika_py.Document
        del sys.modules["yomika_py"]
        import yomika_py as again
        assert again is not yomika_py and again.Document is first
        assert again.__all__ == ["Document", "parse_to_html"]
        print(again.Document("x").source)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "x\n"


@pytest.mark.parametrize(
    "obj, signature, doc",
    [
        (yomika_py.parse_to_html, "(source)", "Convenience: parse + render in one call."),
        (yomika_py.Document.to_html, "($self)", "Render the document to HTML and return as a Python `str`."),
        (
            yomika_py.Document.nodes,
            "($self)",
            "Source-keyed Yomika-node spans as JSON. See\n[`yomika::wire::serialize_nodes`] for the schema.",
        ),
        (
            yomika_py.Document.pairs,
            "($self)",
            "Matched open/close pair links as JSON. See\n[`yomika::wire::serialize_pairs`] for the schema.",
        ),
        (yomika_py.Document.serialize, "($self)", "Re-emit Yomika source text."),
        (yomika_py.Document.source_byte_len, "($self)", "Source byte length."),
    ],
    ids=lambda v: getattr(v, "__name__", None) if callable(v) else None,
)
def test_exact_docstrings(obj, signature, doc):
    assert obj.__text_signature__ == signature
    assert obj.__doc__ == doc


@pytest.mark.parametrize(
    "obj, signature, words",
    [
        (yomika_py.Document, "(source)", ["thread", "arena", "RuntimeError"]),
        (yomika_py.Document.diagnostics, "($self)", ['{"schema_version":1,"data":[]}', "JSON", "cannot fail"]),
    ],
    ids=["Document", "diagnostics"],
)
def test_paragraph_docstrings(obj, signature, words):
    assert obj.__text_signature__ == signature
    assert not obj.__doc__.startswith(signature)
    for word in words:
        assert word in obj.__doc__


def test_source_property_doc_and_signatures():
    assert yomika_py.Document.source.__doc__ == "The source text the document was parsed from."
    assert str(inspect.signature(yomika_py.parse_to_html)) == "(source)"
    assert str(inspect.signature(yomika_py.Document)) == "(source)"
    with pytest.raises(AttributeError):
        yomika_py.Document("x").source = "y"


class Text(str):
    pass


CALLABLES = [
    pytest.param(yomika_py.parse_to_html, "parse_to_html()", id="parse_to_html"),
    pytest.param(yomika_py.Document, "Document.__new__()", id="Document"),
]

ARGUMENT_ERRORS = [
    ("missing", (), {}, "{} missing 1 required positional argument: 'source'"),
    ("two_positional", ("a", "b"), {}, "{} takes 1 positional arguments but 2 were given"),
    ("unexpected_keyword", (), {"text": "a"}, "{} got an unexpected keyword argument 'text'"),
    ("unexpected_beside_source", ("a",), {"Source": "a"}, "{} got an unexpected keyword argument 'Source'"),
    ("both_ways", ("a",), {"source": "b"}, "{} got multiple values for argument 'source'"),
    ("too_many_wins_over_keywords", ("a", "b"), {"x": 1}, "{} takes 1 positional arguments but 2 were given"),
]


@pytest.mark.parametrize("fn, name", CALLABLES)
@pytest.mark.parametrize("case, args, kwargs, message", ARGUMENT_ERRORS, ids=[c[0] for c in ARGUMENT_ERRORS])
def test_argument_errors(fn, name, case, args, kwargs, message):
    with pytest.raises(TypeError) as info:
        fn(*args, **kwargs)
    assert str(info.value) == message.format(name)
    assert getattr(info.value, "__notes__", []) == []


NOT_STR = [
    ("bytes", b"x"),
    ("int", 3),
    ("NoneType", None),
    ("Text", Text),  # the class itself, not an instance
]


@pytest.mark.parametrize("fn, name", CALLABLES)
@pytest.mark.parametrize("type_name, value", NOT_STR, ids=[n for n, _ in NOT_STR])
@pytest.mark.parametrize("by_keyword", [False, True], ids=["positional", "keyword"])
def test_source_not_a_str(fn, name, type_name, value, by_keyword):
    if type_name == "Text":
        type_name = "type"
    with pytest.raises(TypeError) as info:
        fn(source=value) if by_keyword else fn(value)
    assert str(info.value) == f"'{type_name}' object is not an instance of 'str'"
    assert info.value.__notes__ == ["while processing 'source'"]


@pytest.mark.parametrize("fn, name", CALLABLES)
@pytest.mark.parametrize("text", ["\ud800", "ok\udfffok", "\udc80" * 3])
def test_lone_surrogates_raise_the_encoding_error(fn, name, text):
    with pytest.raises(UnicodeEncodeError) as info:
        fn(text)
    assert info.value.__notes__ == ["while processing 'source'"]
    assert info.value.encoding == "utf-8"


def test_keyword_that_is_not_utf8_is_unexpected():
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        yomika_py.parse_to_html("a", **{"\ud800": 1})
    with pytest.raises(TypeError, match="unexpected keyword argument"):
        yomika_py.Document(**{"sou\ud800rce": 1})


SOURCES = [
    ("empty", "", 0),
    ("ascii", "abc", 3),
    ("japanese", "吾輩は猫である。", 24),
    ("byte_order_mark_kept", "\ufeffabc", 6),
    ("crlf_kept", "a\r\nb", 4),
    ("reserved_character_kept", "\ue001", 3),
    ("astral", "𠮷野家", 10),
    ("nul", "a\x00b", 3),
]


@pytest.mark.parametrize("text, length", [(t, n) for _, t, n in SOURCES], ids=[c[0] for c in SOURCES])
def test_source_is_stored_as_given(text, length):
    for doc in (yomika_py.Document(text), yomika_py.Document(source=text), yomika_py.Document(Text(text))):
        assert doc.source == text
        assert type(doc.source) is str
        assert doc.source_byte_len() == length


def test_empty_document_gives_empty_envelopes():
    doc = yomika_py.Document("")
    assert doc.nodes() == doc.pairs() == doc.diagnostics() == EMPTY
    assert yomika_py.parse_to_html("") == doc.to_html()


@pytest.mark.parametrize("text", ["", "abc", "\ufeffa\r\nb\ue002", "吾輩は猫である。\n" * 100])
def test_every_call_parses_afresh_and_agrees(text):
    doc = yomika_py.Document(text)
    for method in ("nodes", "pairs", "diagnostics", "to_html", "serialize"):
        first = getattr(doc, method)()
        assert type(first) is str
        assert getattr(doc, method)() == first
    assert yomika_py.parse_to_html(text) == doc.to_html()
    assert yomika_py.parse_to_html(source=Text(text)) == doc.to_html()


def test_refused_memory_raises_memory_error():
    # Under an address-space limit the source copy, or the arena's up-front reservation of four
    # times the source, cannot be had; both must surface as MemoryError, not end the process.
    result = run_python(
        """
        import resource, yomika_py

        def vm_bytes():
            with open("/proc/self/status") as f:
                for line in f:
                    if line.startswith("VmSize:"):
                        return int(line.split()[1]) * 1024

        MB = 1 << 20
        text = "a" * (200 * MB)
        _, hard = resource.getrlimit(resource.RLIMIT_AS)
        outcomes = []
        for headroom, call in [(400 * MB, yomika_py.Document),        # copy fits, reservation does not
                               (400 * MB, yomika_py.parse_to_html),   # reservation does not fit
                               (100 * MB, yomika_py.Document)]:       # not even the copy fits
            resource.setrlimit(resource.RLIMIT_AS, (vm_bytes() + headroom, hard))
            try:
                call(text)
                outcomes.append("ok")
            except MemoryError:
                outcomes.append("MemoryError")
            resource.setrlimit(resource.RLIMIT_AS, (hard, hard))
        print(outcomes)
        print(yomika_py.Document("still works").source)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "['MemoryError', 'MemoryError', 'MemoryError']\nstill works\n"


def test_html_outgrows_its_first_storage():
    # A text held in two bytes per character has its HTML written into storage sized from the
    # text (here tens of megabytes, given huge pages) that grows as the markup outgrows it, and
    # the next call grows the storage kept from this one. Run apart: a failure there ends the
    # process.
    result = run_python(
        """
        import yomika_py

        body = ("a" * 99 + "\\n") * 340_000
        for text in (body + "漢", body * 2 + "漢"):
            print(yomika_py.parse_to_html(text).replace("漢", "x") == yomika_py.parse_to_html(text[:-1] + "x"))
        print(yomika_py.Document(text).serialize() == text)
        """
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout == "True\nTrue\nTrue\n"


@pytest.mark.slow
def test_source_over_four_gib():
    # About 12 GiB are touched (the str, the document's copy, the arena's copy); asked at run
    # time so that a second test run on the machine is seen.
    if mem_available() < 20 * GIB:
        pytest.skip("needs about 20 GiB of free memory")
    text = "a" * (4 * GIB + 1)
    with pytest.raises(ValueError) as info:
        yomika_py.parse_to_html(text)
    assert str(info.value) == "source exceeds 4 GiB (u32::MAX) span limit"
    # The constructor takes any length; the parsing methods refuse the sanitized text.
    doc = yomika_py.Document(text)
    assert doc.source_byte_len() == 4 * GIB + 1
    for method in ("nodes", "diagnostics", "to_html"):
        with pytest.raises(ValueError) as info:
            getattr(doc, method)()
        assert str(info.value) == "source too long for u32 span offsets (4294967297 bytes)"
