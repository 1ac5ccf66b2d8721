"""The page: a complete HTML5 document around the HTML fragment, with the shipped stylesheet."""

from __future__ import annotations

import html
import re
from importlib import resources


def _stylesheet() -> str:
    return resources.files("yomika_cli").joinpath("page.css").read_text(encoding="utf-8")


# Readings, the parentheses around them and hidden notes are not part of the visible title.
_NOT_TITLE = re.compile(r'<rp>.*?</rp>|<rt>.*?</rt>|<span class="yomika-annotation" hidden>.*?</span>', re.S)
_LINE_END = re.compile(r"<br />|</p>|</div>")
_TAG = re.compile(r"<[^>]*>")


def page_title(fragment: str, fallback: str) -> str:
    """The first line of text the reader sees, as plain text: a book's first line is its title."""
    head = _NOT_TITLE.sub("", fragment[:16384])
    for line in _LINE_END.sub("\n", head).split("\n"):
        text = html.unescape(_TAG.sub("", line)).strip()
        if text:
            return text
    return fallback


_PARAGRAPH = re.compile(r"<p>(.*?)</p>", re.S)
_LINE_MARK = re.compile(r'<span class="yomika-(indent|align-end)[^"]*" data-(?:amount|offset)="(\d+)"></span>')
_BREAK_OR_TAG = re.compile(r"(<br />\n)|<(/?)([a-z]+)[^>]*>")


def _split_lines(match: re.Match[str]) -> str:
    """A paragraph whose lines carry indentation or end alignment, one block per line.

    The fragment marks such a line with an empty span at its start; a whole line, including the
    rows it wraps into, has to move, which a style on the paragraph or on the empty span cannot
    say. The paragraph is cut only at line breaks outside every element: lines inside an element
    that runs over a break (a warichu note) stay one block, so that the page keeps the fragment's
    nesting and grows by a fixed amount per line."""
    body = match.group(1)
    if not _LINE_MARK.search(body):
        return match.group(0)
    lines = []
    depth = start = 0
    for piece in _BREAK_OR_TAG.finditer(body):
        if piece.group(1):
            if depth == 0:
                lines.append(body[start : piece.start()])
                start = piece.end()
        elif piece.group(3) != "br":
            depth = max(depth - 1, 0) if piece.group(2) else depth + 1
    lines.append(body[start:])
    out = []
    for line in lines:
        marks = dict(_LINE_MARK.findall(line.split("<br />", 1)[0]))  # the first of each kind counts
        attributes = "".join(f' data-{kind}="{amount}"' for kind, amount in marks.items())
        out.append(f'<span class="yomika-line"{attributes}>{line}</span>')
    return "<p>" + "".join(out) + "</p>"


_AMOUNTS = re.compile(
    r'(yomika-container-indent|yomika-container-align-end)[^"]*" data-(?:amount|offset)="(\d+)"'
    r'|(data-indent|data-align-end)="(\d+)"'
)
_AMOUNT_RULES = {
    "yomika-container-indent": '.yomika-container-indent[data-amount="{n}"] {{ padding-inline-start: {n}em; }}',
    "yomika-container-align-end": '.yomika-container-align-end[data-offset="{n}"] {{ padding-inline-end: {n}em; }}',
    "data-indent": '.yomika-line[data-indent="{n}"] {{ padding-inline-start: {n}em; }}',
    "data-align-end": '.yomika-line[data-align-end="{n}"] {{ padding-inline-end: {n}em; }}',
}


def _amount_rules(page_fragment: str) -> str:
    """Rules for the indentation and end-alignment amounts that the page actually uses."""
    rules: dict[str, None] = {}
    for match in _AMOUNTS.finditer(page_fragment):
        kind, amount = match.group(1, 2) if match.group(1) else match.group(3, 4)
        if int(amount):
            rules[_AMOUNT_RULES[kind].format(n=int(amount))] = None
    return "\n".join(rules)


# Vertical pages scroll sideways; the wheel moves them forward, to the left.
_VERTICAL_SCRIPT = """<script>
addEventListener("wheel", (e) => {
  if (e.deltaY && !e.deltaX && !e.ctrlKey) { scrollBy({left: -e.deltaY}); e.preventDefault(); }
}, {passive: false});
</script>
"""


def render_page(fragment: str, title: str, vertical: bool = False) -> str:
    """A complete HTML5 document around an HTML fragment, with the shipped stylesheet."""
    mode = "vertical" if vertical else "horizontal"
    body = _PARAGRAPH.sub(_split_lines, fragment)
    return (
        "<!DOCTYPE html>\n"
        f'<html lang="ja" class="yomika-{mode}">\n<head>\n<meta charset="utf-8">\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
        f"<title>{html.escape(title)}</title>\n"
        f"<style>\n{_stylesheet()}\n{_amount_rules(body)}\n</style>\n"
        f'</head>\n<body class="yomika-page">\n<main class="yomika-text">\n'
        f"{body}</main>\n{_VERTICAL_SCRIPT if vertical else ''}</body>\n</html>\n"
    )
