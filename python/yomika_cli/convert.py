"""Converting one input: read it, parse it, and produce the chosen format and diagnostics."""

from __future__ import annotations

import json
import os
from dataclasses import dataclass, field
from typing import Any, TypedDict

import yomika_py

from yomika_cli.diagnostics import diagnostic_lines, page_warnings
from yomika_cli.epub import build_epub
from yomika_cli.errors import DecodeError
from yomika_cli.page import book_title, data_uri, render_book, render_page
from yomika_cli.reading import Source, open_source

FORMATS = ("page", "epub", "html", "json", "text")


class Options(TypedDict):
    encoding: str | None
    member: str | None
    to: str
    vertical: bool  # the page's or the e-book's writing mode
    strict: bool
    keep_legend: bool
    report_notes: bool
    epoch: int | None  # SOURCE_DATE_EPOCH for e-books; the input's modification time when None


@dataclass
class Result:
    name: str
    output: str | None = None
    data: bytes | None = None  # an output that is not text (an e-book)
    messages: list[str] = field(default_factory=list)  # notes and diagnostics, silenced by --quiet
    problem: str | None = None  # why the file failed; always printed
    errors: int = 0
    failed: bool = False
    undrawn: dict[str, int] = field(default_factory=dict)  # notes the page cannot draw, by keyword


def _undrawn_json(undrawn: dict[str, int]) -> str:
    return json.dumps(undrawn, ensure_ascii=False, separators=(",", ":"), sort_keys=True)


def convert_source(source: Source, name: str, options: Options) -> Result:
    """Converts one input read; diagnostics come back as formatted messages, in text order."""
    text, to = source.text, options["to"]
    result = Result(name)
    doc = yomika_py.Document(text)
    report = doc.diagnostics()
    book: dict[str, Any] | None = None
    epub: bytes | None = None
    if to == "page":
        book = render_book(text, data_uri(source.picture), options["keep_legend"])
    elif to == "epub":
        epoch = options["epoch"] if options["epoch"] is not None else int(source.modified)
        epub, book = build_epub(text, os.path.basename(name), epoch, options["vertical"], source.picture,
                                options["keep_legend"])
    elif to == "json" or options["report_notes"]:
        book = render_book(text)
    extra = page_warnings(book) if book is not None and to in ("page", "epub") else []
    result.messages, result.errors = diagnostic_lines(text, name, report, extra)
    if book is not None:
        result.undrawn = dict(book["undrawn"])
    if options["report_notes"]:
        for keyword, count in sorted(result.undrawn.items(), key=lambda kv: (-kv[1], kv[0])):
            result.messages.append(f"{name}: note: the page cannot draw ［＃{keyword}］ ({count}×)")
    if options["strict"] and result.errors:
        result.failed = True
        result.problem = f"{name}: error: {result.errors} error diagnostic(s), not converted (--strict)"
        return result
    if to == "page":
        assert book is not None
        result.output = render_page(book, book_title(book, os.path.basename(name)), options["vertical"])
    elif to == "epub":
        result.data = epub
    elif to == "html":
        result.output = doc.to_html()
    elif to == "json":
        result.output = (
            '{"nodes":' + doc.nodes() + ',"pairs":' + doc.pairs() + ',"diagnostics":' + report
            + ',"undrawn_notes":' + _undrawn_json(result.undrawn) + "}\n"
        )
    else:
        result.output = doc.serialize()
    return result


def convert_text(text: str, name: str, to: str = "page", vertical: bool | None = None, strict: bool = False) -> Result:
    """Converts one decoded text (no pictures beside it); `vertical` None is the format's own
    writing mode (vertical for an e-book, horizontal for a page)."""
    options: Options = {"encoding": None, "member": None, "to": to, "vertical": to == "epub" if vertical is None else vertical,
                        "strict": strict, "keep_legend": False, "report_notes": False, "epoch": None}
    return convert_source(Source(text), name, options)


def convert_path(path: str, options: Options) -> Result:
    """Reads and converts one input ("-" is standard input); a failure is the file's own."""
    name = "<stdin>" if path == "-" else path
    try:
        source = open_source(path, options["encoding"], options["member"])
    except (DecodeError, OSError) as e:
        reason = e.strerror if isinstance(e, OSError) and e.strerror else str(e)
        return Result(name, problem=f"{name}: error: {reason}", failed=True)
    try:
        result = convert_source(source, name, options)
    except ValueError as e:  # sources beyond the 4 GiB offset limit
        return Result(name, problem=f"{name}: error: {e}", failed=True)
    result.messages[:0] = [f"{name}: note: {note}" for note in source.notes]
    return result
