"""Diagnostics as a reader of the file needs them: ``file:line:column: severity: message``."""

from __future__ import annotations

import bisect
import json
import re
from collections.abc import Sequence
from typing import Any

from yomika_cli import _native

_LINE_END = re.compile(rb"\r\n?|\n")
_BYTE_ORDER_MARKS = re.compile(rb"(?:\xef\xbb\xbf)*")


class Positions:
    """Line and column, both from 1, of byte offsets into the UTF-8 form of the decoded file.

    Lines end where the file ends them (LF, CR LF or a lone CR); columns count characters, on the
    first line from after the byte-order marks, which no reader sees. Offsets are asked in
    increasing order, so the column is counted on from the last answer: many diagnostics on one
    long line cost one pass over it."""

    def __init__(self, text: str):
        self.data = text.encode("utf-8")
        first = _BYTE_ORDER_MARKS.match(self.data)
        self.line_starts = [first.end() if first else 0] + [m.end() for m in _LINE_END.finditer(self.data)]
        self.line, self.offset, self.column = 0, self.line_starts[0], 1  # where the last answer was

    def at(self, offset: int) -> tuple[int, int]:
        line = max(bisect.bisect_right(self.line_starts, offset) - 1, 0)
        if line != self.line or offset < self.offset:
            self.line, self.offset, self.column = line, self.line_starts[line], 1
        self.column += len(self.data[self.offset : offset].decode("utf-8", "replace"))
        self.offset = offset
        return line + 1, self.column

    def text(self, start: int, end: int) -> str:
        return self.data[start:end].decode("utf-8", "replace")


def _message(item: dict[str, Any], spanned: str) -> str:
    kind: str = item["kind"]
    if kind == "source_contains_pua":
        return f"reserved character U+{ord(item['codepoint']):04X} replaced by U+FFFD"
    if kind == "unclosed_bracket":
        return f"unclosed {spanned}"
    if kind == "unmatched_close":
        return f"unmatched {spanned}"
    if kind == "block_left_open":
        return f"block left open: {spanned}"
    if kind == "block_close_without_open":
        return f"block end with no block open: {spanned}"
    return kind.replace("_", " ")


def page_warnings(book: dict[str, Any]) -> list[dict[str, Any]]:
    """The blocks a page shows and its text leaves unbalanced, as items of a diagnostics report."""
    return [
        {"kind": w["kind"], "severity": "warning",
         "span": {"start": w["offset"], "end": w["offset"] + len(w["note"].encode("utf-8"))}}
        for w in book["warnings"]
    ]


def diagnostic_lines(
    text: str, name: str, report: str, extra: Sequence[dict[str, Any]] = ()
) -> tuple[list[str], int]:
    """The diagnostics of a `diagnostics()` report on `text` and any `extra` items of the same
    form, one formatted line each in text order, and how many of them are errors."""
    items = sorted([*json.loads(report)["data"], *extra], key=lambda item: item["span"]["start"])
    if not items:
        return [], 0
    # Spans index the sanitized text; the core carries them back to the file's own bytes.
    ends = _native.source_offsets(text, [x for i in items for x in (i["span"]["start"], i["span"]["end"])])
    positions = Positions(text)
    lines = []
    errors = 0
    for k, item in enumerate(items):
        start, end = ends[2 * k], ends[2 * k + 1]
        line, column = positions.at(start)
        lines.append(f"{name}:{line}:{column}: {item['severity']}: {_message(item, positions.text(start, end))}")
        errors += item["severity"] == "error"
    return lines, errors
