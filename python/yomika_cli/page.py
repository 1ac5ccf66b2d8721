"""The page: one HTML5 document that a browser shows as a book, from the reader's renderer's parts.

The core writes every piece of markup (title page, contents, the parts of the text, colophon) and
the rules for the amounts the book uses; here they are put in order inside the document with the
stylesheets, and pictures are given to the core as data: URIs so that one page stays one file."""

from __future__ import annotations

import base64
import html
from collections.abc import Callable
from importlib import resources
from typing import Any

from yomika_cli import _native

# Media types of the pictures a page or an e-book embeds, by file suffix.
MEDIA_TYPES = {
    ".png": "image/png",
    ".jpg": "image/jpeg",
    ".jpeg": "image/jpeg",
    ".gif": "image/gif",
    ".svg": "image/svg+xml",
    ".webp": "image/webp",
}


def media_type(name: str) -> str | None:
    dot = name.rfind(".")
    return MEDIA_TYPES.get(name[dot:].lower()) if dot >= 0 else None


def stylesheet(name: str) -> str:
    return resources.files("yomika_cli").joinpath(name).read_text(encoding="utf-8")


def render_book(text: str, picture: Callable[[str], str | None] | None = None, keep_legend: bool = False) -> dict[str, Any]:
    """The reader's renderer's parts of a text (see _native.render_book)."""
    return _native.render_book(text, keep_legend=keep_legend, picture=picture)


def book_title(book: dict[str, Any], fallback: str) -> str:
    """"title — author", or the text's first line when it has no title part."""
    title = book["title"] or fallback
    return f"{title} — {book['author']}" if book["author"] else title


def data_uri(picture: Callable[[str], tuple[str, bytes] | None]) -> Callable[[str], str | None]:
    """A picture source for the renderer that embeds each picture found as a data: URI."""

    made: dict[str, str | None] = {}  # a text may name one picture many times: encoded once

    def src(name: str) -> str | None:
        if name not in made:
            found = picture(name)
            kind = media_type(name)
            made[name] = None if found is None or kind is None else (
                f"data:{kind};base64,{base64.b64encode(found[1]).decode('ascii')}"
            )
        return made[name]

    return src


# Vertical pages scroll sideways; the wheel moves them forward, to the left.
_VERTICAL_SCRIPT = """<script>
addEventListener("wheel", (e) => {
  if (e.deltaY && !e.deltaX && !e.ctrlKey) { scrollBy({left: -e.deltaY}); e.preventDefault(); }
}, {passive: false});
</script>
"""


def parts_markup(book: dict[str, Any]) -> str:
    """The book's parts in reading order; a part that a break begins says so for the stylesheet."""
    out = []
    for section in book["sections"]:
        attributes = f' data-break="{section["break"]}"' if section["break"] != "none" else ""
        if section["centered"]:
            attributes += ' data-centered="true"'
        out.append(f'<section class="yomika-part"{attributes}>\n{section["html"]}</section>\n')
    return "".join(out)


def render_page(book: dict[str, Any], title: str, vertical: bool = False) -> str:
    """A complete HTML5 document of a book, with the shipped stylesheets inlined."""
    mode = "vertical" if vertical else "horizontal"
    return (
        "<!DOCTYPE html>\n"
        f'<html lang="ja" class="yomika-{mode}">\n<head>\n<meta charset="utf-8">\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
        f"<title>{html.escape(title)}</title>\n"
        f"<style>\n{stylesheet('book.css')}\n{stylesheet('page.css')}\n{book['amount_rules']}</style>\n"
        f'</head>\n<body class="yomika-page">\n<main class="yomika-text">\n'
        f"{book['title_block']}{book['contents']}{book['legend']}{parts_markup(book)}{book['colophon']}"
        f"</main>\n{_VERTICAL_SCRIPT if vertical else ''}</body>\n</html>\n"
    )
