"""Converting one input: read it, parse it once, and produce the chosen format and diagnostics."""

from __future__ import annotations

import os
from dataclasses import dataclass, field
from typing import TypedDict

import yomika_py

from yomika_cli.diagnostics import diagnostic_lines
from yomika_cli.errors import DecodeError
from yomika_cli.page import page_title, render_page
from yomika_cli.reading import read_source

FORMATS = ("page", "html", "json", "text")


class Options(TypedDict):
    encoding: str | None
    member: str | None
    to: str
    vertical: bool
    strict: bool


@dataclass
class Result:
    name: str
    output: str | None = None
    messages: list[str] = field(default_factory=list)  # notes and diagnostics, silenced by --quiet
    problem: str | None = None  # why the file failed; always printed
    errors: int = 0
    failed: bool = False


def convert_text(text: str, name: str, to: str = "page", vertical: bool = False, strict: bool = False) -> Result:
    """Converts one decoded text; diagnostics come back as formatted messages, in text order."""
    result = Result(name)
    doc = yomika_py.Document(text)
    report = doc.diagnostics()
    result.messages, result.errors = diagnostic_lines(text, name, report)
    if strict and result.errors:
        result.failed = True
        result.problem = f"{name}: error: {result.errors} error diagnostic(s), not converted (--strict)"
        return result
    if to == "page":
        fragment = doc.to_html()
        result.output = render_page(fragment, page_title(fragment, os.path.basename(name)), vertical)
    elif to == "html":
        result.output = doc.to_html()
    elif to == "json":
        result.output = '{"nodes":' + doc.nodes() + ',"pairs":' + doc.pairs() + ',"diagnostics":' + report + "}\n"
    else:
        result.output = doc.serialize()
    return result


def convert_path(path: str, options: Options) -> Result:
    """Reads and converts one input ("-" is standard input); a failure is the file's own."""
    name = "<stdin>" if path == "-" else path
    try:
        text, notes = read_source(path, options["encoding"], options["member"])
    except (DecodeError, OSError) as e:
        reason = e.strerror if isinstance(e, OSError) and e.strerror else str(e)
        return Result(name, problem=f"{name}: error: {reason}", failed=True)
    try:
        result = convert_text(text, name, options["to"], options["vertical"], options["strict"])
    except ValueError as e:  # sources beyond the 4 GiB offset limit
        return Result(name, problem=f"{name}: error: {e}", failed=True)
    result.messages[:0] = [f"{name}: note: {note}" for note in notes]
    return result
