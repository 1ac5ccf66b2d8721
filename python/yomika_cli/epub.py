"""The e-book: an EPUB 3 package of a book, from the reader's renderer's parts.

One XHTML document per part of the book (the core cuts the text at page breaks, large headings
and a size bound), a title page and a colophon of their own, the navigation document from the
headings with landmarks, the stylesheet, and the pictures the text names. Everything inside the
package is written in a fixed order with fixed timestamps, so the same text and the same
modification time give the same bytes."""

from __future__ import annotations

import hashlib
import io
import time
import uuid
import zipfile
from collections.abc import Callable
from typing import Any
from xml.sax.saxutils import escape, quoteattr

from yomika_cli.page import media_type, render_book, stylesheet

XHTML = "application/xhtml+xml"
CONTAINER = """<?xml version="1.0" encoding="UTF-8"?>
<container version="1.0" xmlns="urn:oasis:names:tc:opendocument:xmlns:container">
  <rootfiles>
    <rootfile full-path="OEBPS/content.opf" media-type="application/oebps-package+xml"/>
  </rootfiles>
</container>
"""


def book_identifier(text: str) -> str:
    """A UUID derived from the text: the same text is the same book."""
    return "urn:uuid:" + str(uuid.uuid5(uuid.NAMESPACE_URL, "yomika:" + hashlib.sha256(text.encode("utf-8")).hexdigest()))


class Pictures:
    """The pictures a book's text names, each found once and given a plain name in the package."""

    def __init__(self, find: Callable[[str], tuple[str, bytes] | None]):
        self.find = find
        self.files: dict[str, tuple[str, bytes]] = {}  # name in the text -> (href in the package, bytes)

    def src(self, name: str) -> str | None:
        if name not in self.files:
            found = self.find(name)
            kind = media_type(name)
            if found is None or kind is None:
                return None
            suffix = name[name.rfind(".") :].lower()
            self.files[name] = (f"images/picture-{len(self.files) + 1:03d}{suffix}", found[1])
        return "../" + self.files[name][0]


def document(title: str, body: str, vertical: bool, depth: int, body_class: str = "") -> str:
    """One XHTML content document; `depth` is how far below the package's folder it lies."""
    mode = "vertical" if vertical else "horizontal"
    up = "../" * depth
    classes = " ".join(c for c in ("yomika-book", body_class) if c)
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n<!DOCTYPE html>\n'
        '<html xmlns="http://www.w3.org/1999/xhtml" xmlns:epub="http://www.idpf.org/2007/ops" '
        f'xml:lang="ja" lang="ja" class="yomika-{mode}">\n<head>\n<meta charset="UTF-8"/>\n'
        f"<title>{escape(title)}</title>\n"
        f'<link rel="stylesheet" type="text/css" href="{up}style.css"/>\n</head>\n'
        f'<body class="{classes}">\n{body}</body>\n</html>\n'
    )


def part_name(index: int) -> str:
    return f"text/part-{index + 1:04d}.xhtml"


def nav_document(book: dict[str, Any], title: str, has_title_page: bool, has_colophon: bool, vertical: bool) -> str:
    """The navigation document: the contents from the headings (nested by level), and landmarks."""
    entries = [(h["level"], f'{part_name(h["section"])}#{h["id"]}', h["text"] or "＊") for h in book["headings"]]
    if not entries:  # a book without headings still has somewhere to go
        entries = [(1, part_name(0), title)]
    lines = ['<nav epub:type="toc" id="toc">', "<h1>目次</h1>", "<ol>"]
    depth = 1
    for i, (level, href, text) in enumerate(entries):
        level = max(1, min(level, depth + 1 if i else 1))  # a level deeper by one step at most
        while depth < level:
            lines[-1] = lines[-1].removesuffix("</li>")
            lines.append("<ol>")
            depth += 1
        while depth > level:
            lines.append("</ol></li>")
            depth -= 1
        lines.append(f"<li><a href={quoteattr(href)}>{escape(text)}</a></li>")
    while depth > 1:
        lines.append("</ol></li>")
        depth -= 1
    lines += ["</ol>", "</nav>", '<nav epub:type="landmarks" id="landmarks" hidden="hidden">', "<ol>"]
    if has_title_page:
        lines.append('<li><a epub:type="titlepage" href="title.xhtml">扉</a></li>')
    lines.append(f'<li><a epub:type="bodymatter" href="{part_name(0)}">本文</a></li>')
    if has_colophon:
        lines.append('<li><a epub:type="colophon" href="colophon.xhtml">奥付</a></li>')
    lines += ["</ol>", "</nav>", ""]
    return document(title, "\n".join(lines), vertical, 0, "yomika-nav")


def package_document(
    book: dict[str, Any], title: str, identifier: str, modified: str, items: list[tuple[str, str, str, str]],
    spine: list[str], vertical: bool,
) -> str:
    creators = [book["author"], *book["contributors"]] if book["author"] else list(book["contributors"])
    metadata = [
        f'<dc:identifier id="book-id">{escape(identifier)}</dc:identifier>',
        f"<dc:title>{escape(title)}</dc:title>",
        *(f"<dc:creator>{escape(c)}</dc:creator>" for c in creators),
        "<dc:language>ja</dc:language>",
        f'<meta property="dcterms:modified">{modified}</meta>',
    ]
    manifest = [
        f'<item id="{item_id}" href={quoteattr(href)} media-type="{kind}"{f" properties={quoteattr(props)}" if props else ""}/>'
        for item_id, href, kind, props in items
    ]
    direction = "rtl" if vertical else "ltr"
    return (
        '<?xml version="1.0" encoding="UTF-8"?>\n'
        '<package xmlns="http://www.idpf.org/2007/opf" version="3.0" unique-identifier="book-id" xml:lang="ja">\n'
        '<metadata xmlns:dc="http://purl.org/dc/elements/1.1/">\n' + "\n".join(metadata) + "\n</metadata>\n"
        "<manifest>\n" + "\n".join(manifest) + "\n</manifest>\n"
        f'<spine page-progression-direction="{direction}">\n'
        + "\n".join(f'<itemref idref="{i}"/>' for i in spine)
        + "\n</spine>\n</package>\n"
    )


def modified_time(epoch: int) -> tuple[str, tuple[int, int, int, int, int, int]]:
    """The package's modification time, as dcterms:modified writes it and as a zip entry's date
    (which cannot go before 1980)."""
    t = time.gmtime(max(epoch, 0))
    stamp = time.strftime("%Y-%m-%dT%H:%M:%SZ", t)
    return stamp, (max(t.tm_year, 1980), t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec - t.tm_sec % 2)


def build_epub(
    text: str, fallback_title: str, epoch: int, vertical: bool = True,
    find_picture: Callable[[str], tuple[str, bytes] | None] = lambda name: None, keep_legend: bool = False,
) -> tuple[bytes, dict[str, Any]]:
    """The EPUB of a text, and the book its parts came from (for warnings and notes)."""
    pictures = Pictures(find_picture)
    book = render_book(text, pictures.src, keep_legend)
    title = book["title"] or fallback_title
    stamp, date = modified_time(epoch)

    files: list[tuple[str, bytes]] = []  # path inside OEBPS, bytes; in spine order first
    items: list[tuple[str, str, str, str]] = [("nav", "nav.xhtml", XHTML, "nav"), ("style", "style.css", "text/css", "")]
    spine: list[str] = []
    front = book["title_block"] + book["legend"]
    if front:
        files.append(("title.xhtml", document(title, front, vertical, 0, "yomika-title-document").encode("utf-8")))
        items.append(("title", "title.xhtml", XHTML, ""))
        spine.append("title")
    spine.append("nav")
    for i, section in enumerate(book["sections"]):
        name = part_name(i)
        body_class = "yomika-centered" if section["centered"] else ""
        body = f'<section class="yomika-part" epub:type="bodymatter">\n{section["html"]}</section>\n'
        files.append((name, document(title, body, vertical, 1, body_class).encode("utf-8")))
        items.append((f"part-{i + 1:04d}", name, XHTML, ""))
        spine.append(f"part-{i + 1:04d}")
    if book["colophon"]:
        files.append(("colophon.xhtml", document(title, book["colophon"], vertical, 0).encode("utf-8")))
        items.append(("colophon", "colophon.xhtml", XHTML, ""))
        spine.append("colophon")
    for k, (href, data) in enumerate(pictures.files.values()):
        kind = media_type(href) or "application/octet-stream"
        items.append((f"picture-{k + 1:03d}", href, kind, ""))
        files.append((href, data))
    nav = nav_document(book, title, bool(front), bool(book["colophon"]), vertical)
    style = stylesheet("book.css") + "\n" + stylesheet("epub.css") + "\n" + book["amount_rules"]
    opf = package_document(book, title, book_identifier(text), stamp, items, spine, vertical)

    out = io.BytesIO()
    with zipfile.ZipFile(out, "w") as z:

        def put(name: str, data: bytes, stored: bool = False) -> None:
            info = zipfile.ZipInfo(name, date_time=date)
            info.compress_type = zipfile.ZIP_STORED if stored else zipfile.ZIP_DEFLATED
            info.create_system = 3
            info.external_attr = 0o644 << 16
            z.writestr(info, data, compresslevel=None if stored else 9)

        put("mimetype", b"application/epub+zip", stored=True)  # first and stored, as readers look for it
        put("META-INF/container.xml", CONTAINER.encode("utf-8"))
        put("OEBPS/content.opf", opf.encode("utf-8"))
        put("OEBPS/nav.xhtml", nav.encode("utf-8"))
        put("OEBPS/style.css", style.encode("utf-8"))
        for name, data in files:
            put(f"OEBPS/{name}", data, stored=media_type(name) in ("image/png", "image/jpeg", "image/gif", "image/webp"))
    return out.getvalue(), book
