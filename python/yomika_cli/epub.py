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
import xml.etree.ElementTree as ET
from xml.sax.saxutils import escape

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


def xml_text(root: ET.Element) -> str:
    ET.indent(root, space="")
    return '<?xml version="1.0" encoding="UTF-8"?>\n' + ET.tostring(root, encoding="unicode") + "\n"


def nav_body(book: dict[str, Any], title: str, has_title_page: bool, has_colophon: bool) -> str:
    """The navigation document's body: the contents from the headings (nested by level, a level
    at most one step deeper than the one before) and the landmarks."""
    entries = [(h["level"], f'{part_name(h["section"])}#{h["id"]}', h["text"] or "＊") for h in book["headings"]]
    if not entries:  # a book without headings still has somewhere to go
        entries = [(1, part_name(0), title)]
    body = ET.Element("div")
    toc = ET.SubElement(body, "nav", {"epub:type": "toc", "id": "toc"})
    ET.SubElement(toc, "h1").text = "目次"
    lists = [ET.SubElement(toc, "ol")]  # the open lists, outermost first
    last: ET.Element | None = None
    for level, href, text in entries:
        if level > len(lists) and last is not None:
            lists.append(ET.SubElement(last, "ol"))
        while len(lists) > max(level, 1):
            lists.pop()
        last = ET.SubElement(lists[-1], "li")
        ET.SubElement(last, "a", {"href": href}).text = text
    marks = ET.SubElement(ET.SubElement(body, "nav", {"epub:type": "landmarks", "id": "landmarks", "hidden": "hidden"}), "ol")
    for present, kind, href, text in ((has_title_page, "titlepage", "title.xhtml", "扉"),
                                      (True, "bodymatter", part_name(0), "本文"),
                                      (has_colophon, "colophon", "colophon.xhtml", "奥付")):
        if present:
            ET.SubElement(ET.SubElement(marks, "li"), "a", {"epub:type": kind, "href": href}).text = text
    ET.indent(body, space="")
    return "".join(ET.tostring(child, encoding="unicode") for child in body) + "\n"


def package_document(
    book: dict[str, Any], title: str, identifier: str, modified: str, items: list[tuple[str, str, str, str]],
    spine: list[str], vertical: bool,
) -> str:
    ET.register_namespace("", "http://www.idpf.org/2007/opf")
    ET.register_namespace("dc", "http://purl.org/dc/elements/1.1/")
    opf, dc = "{http://www.idpf.org/2007/opf}", "{http://purl.org/dc/elements/1.1/}"
    package = ET.Element(f"{opf}package", {"version": "3.0", "unique-identifier": "book-id",
                                           "{http://www.w3.org/XML/1998/namespace}lang": "ja"})
    metadata = ET.SubElement(package, f"{opf}metadata")
    ET.SubElement(metadata, f"{dc}identifier", {"id": "book-id"}).text = identifier
    ET.SubElement(metadata, f"{dc}title").text = title
    for creator in ([book["author"]] if book["author"] else []) + list(book["contributors"]):
        ET.SubElement(metadata, f"{dc}creator").text = creator
    ET.SubElement(metadata, f"{dc}language").text = "ja"
    ET.SubElement(metadata, f"{opf}meta", {"property": "dcterms:modified"}).text = modified
    manifest = ET.SubElement(package, f"{opf}manifest")
    for item_id, href, kind, props in items:
        attributes = {"id": item_id, "href": href, "media-type": kind}
        if props:
            attributes["properties"] = props
        ET.SubElement(manifest, f"{opf}item", attributes)
    order = ET.SubElement(package, f"{opf}spine", {"page-progression-direction": "rtl" if vertical else "ltr"})
    for item_id in spine:
        ET.SubElement(order, f"{opf}itemref", {"idref": item_id})
    return xml_text(package)


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
    nav = document(title, nav_body(book, title, bool(front), bool(book["colophon"])), vertical, 0, "yomika-nav")
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
