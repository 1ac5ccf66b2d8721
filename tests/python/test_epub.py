"""The e-book: EPUBCheck finds nothing to report in the EPUB of every corpus book, of the sample and
of a book of every construct with a picture; the package is laid out as readers look for it; the
same text and time give the same bytes; an e-book never goes to a terminal. Under CI=true a
missing EPUBCheck fails these tests instead of skipping them."""

import io
import json
import os
import pty
import shutil
import subprocess
import sys
import uuid
import xml.etree.ElementTree as ET
import zipfile
from pathlib import Path

import pytest

pytest.importorskip("yomika_cli")
from book_texts import BOOK, PICTURE  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
CORPUS = ROOT.parent / "shared" / "corpus"
EPUBCHECK = Path("/usr/share/java/epubcheck.jar")
OPF = "{http://www.idpf.org/2007/opf}"
DC = "{http://purl.org/dc/elements/1.1/}"
XHTML = "{http://www.w3.org/1999/xhtml}"


def convert(*args, env=None):
    run = subprocess.run([sys.executable, "-m", "yomika_cli", *map(str, args)], capture_output=True, timeout=120,
                         env={**os.environ, **(env or {})})
    assert run.returncode == 0, run.stderr
    return run


def book_folder(tmp_path):
    """The book of every construct, with its picture beside it."""
    folder = tmp_path / "book"
    folder.mkdir(exist_ok=True)
    (folder / "book.txt").write_text(BOOK, encoding="utf-8")
    (folder / PICTURE).write_bytes((ROOT / "examples" / "slope.png").read_bytes())
    return folder / "book.txt"


@pytest.fixture(scope="module")
def epubcheck():
    java = shutil.which("java")
    if java and EPUBCHECK.exists():
        return [java, "-jar", str(EPUBCHECK)]
    if os.environ.get("CI") == "true":
        pytest.fail("the e-book tests must run here (CI=true), but EPUBCheck could not be installed")
    pytest.skip("no EPUBCheck (the test command installs Debian's epubcheck where it can)")


BOOKS = sorted(p.stem for p in CORPUS.glob("*.txt")) if CORPUS.is_dir() else []


@pytest.mark.parametrize("name", ["sample", "every_construct", *BOOKS])
def test_epubcheck_reports_nothing(epubcheck, tmp_path, name):
    source = {"sample": ROOT / "examples" / "sample.txt", "every_construct": book_folder(tmp_path)}.get(
        name, CORPUS / f"{name}.txt")
    book = tmp_path / f"{name}.epub"
    convert("--to", "epub", "-q", source, "-o", book)
    report = tmp_path / "report.json"
    subprocess.run([*epubcheck, str(book), "--json", str(report)], capture_output=True, timeout=300)
    messages = json.loads(report.read_text(encoding="utf-8"))["messages"]
    assert [m for m in messages if m["severity"] in ("FATAL", "ERROR", "WARNING")] == []


def package(path):
    archive = zipfile.ZipFile(path)
    opf = ET.fromstring(archive.read("OEBPS/content.opf"))
    return archive, opf


@pytest.mark.parametrize("direction", ["vertical", "horizontal"])
def test_the_package_is_laid_out_as_readers_look_for_it(tmp_path, direction):
    book = tmp_path / "book.epub"
    source = book_folder(tmp_path)
    convert("--to", "epub", *(["--horizontal"] if direction == "horizontal" else []), source, "-o", book,
            env={"SOURCE_DATE_EPOCH": "1700000000"})
    archive, opf = package(book)
    first = archive.infolist()[0]
    assert first.filename == "mimetype" and first.compress_type == zipfile.ZIP_STORED
    assert archive.read("mimetype") == b"application/epub+zip"
    assert b'full-path="OEBPS/content.opf"' in archive.read("META-INF/container.xml")

    meta = opf.find(f"{OPF}metadata")
    assert meta.findtext(f"{DC}title") == "見本の本"
    assert [c.text for c in meta.findall(f"{DC}creator")] == ["著者の名"]
    assert meta.findtext(f"{DC}language") == "ja"
    identifier = meta.findtext(f"{DC}identifier")
    assert identifier.startswith("urn:uuid:") and uuid.UUID(identifier[9:]).version == 5
    assert meta.find(f"{OPF}meta[@property='dcterms:modified']").text == "2023-11-14T22:13:20Z"
    spine = opf.find(f"{OPF}spine")
    assert spine.get("page-progression-direction") == ("rtl" if direction == "vertical" else "ltr")

    items = {i.get("id"): i for i in opf.find(f"{OPF}manifest")}
    names = set(archive.namelist())
    assert all(f"OEBPS/{i.get('href')}" in names for i in items.values())
    pictures = [i for i in items.values() if i.get("media-type") == "image/png"]
    assert len(pictures) == 1, "the picture beside the text is in the package; the missing one is not"
    parts = [items[ref.get("idref")].get("href") for ref in spine]
    assert parts[0] == "title.xhtml" and parts[1] == "nav.xhtml" and parts[-1] == "colophon.xhtml"
    assert len([p for p in parts if p.startswith("text/")]) >= 3, "cut at the page break and the large headings"
    for part in parts:
        doc = ET.fromstring(archive.read(f"OEBPS/{part}"))  # every document is XML
        assert doc.get("class") == f"yomika-{direction}"

    # Every entry of the contents leads to a heading; the landmarks to the title page, the text
    # and the colophon.
    nav = ET.fromstring(archive.read("OEBPS/nav.xhtml"))
    links = [a.get("href") for a in nav.iter(f"{XHTML}a")]
    toc = [h for h in links if "#" in h]
    assert len(toc) == 5 and {"title.xhtml", "text/part-0001.xhtml", "colophon.xhtml"} <= set(links)
    for href in toc:
        part, anchor = href.split("#")
        target = ET.fromstring(archive.read(f"OEBPS/{part}")).find(f".//*[@id='{anchor}']")
        assert target is not None and target.tag in {f"{XHTML}h2", f"{XHTML}h3", f"{XHTML}h4"}, href


@pytest.mark.parametrize("vertical,direction", [(None, "rtl"), (True, "rtl"), (False, "ltr")])
def test_a_library_caller_chooses_the_writing_mode(vertical, direction):
    import yomika_cli

    data = yomika_cli.convert_text(BOOK, "book.txt", to="epub", vertical=vertical).data
    opf = ET.fromstring(zipfile.ZipFile(io.BytesIO(data)).read("OEBPS/content.opf"))
    assert opf.find(f"{OPF}spine").get("page-progression-direction") == direction


def test_the_same_text_and_time_give_the_same_bytes(tmp_path):
    source = book_folder(tmp_path)
    first, second, later = (tmp_path / f"{n}.epub" for n in ("first", "second", "later"))
    convert("--to", "epub", source, "-o", first, env={"SOURCE_DATE_EPOCH": "1700000000"})
    convert("--to", "epub", source, "-o", second, env={"SOURCE_DATE_EPOCH": "1700000000"})
    assert first.read_bytes() == second.read_bytes()
    convert("--to", "epub", source, "-o", later, env={"SOURCE_DATE_EPOCH": "1800000000"})
    assert later.read_bytes() != first.read_bytes()
    ids = [package(p)[1].find(f"{OPF}metadata").findtext(f"{DC}identifier") for p in (first, later)]
    assert ids[0] == ids[1], "the identifier is the text's"
    # Without SOURCE_DATE_EPOCH the input's own modification time stamps the package.
    os.utime(source, (1600000000, 1600000000))
    env = {k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
    plain = tmp_path / "plain.epub"
    run = subprocess.run([sys.executable, "-m", "yomika_cli", "--to", "epub", str(source), "-o", str(plain)],
                         capture_output=True, timeout=120, env=env)
    assert run.returncode == 0, run.stderr
    modified = package(plain)[1].find(f"{OPF}metadata").find(f"{OPF}meta[@property='dcterms:modified']").text
    assert modified == "2020-09-13T12:26:40Z"


@pytest.mark.parametrize(
    "args,epoch,message",
    [
        (["--to", "epub", "BOOK"], "", b"an e-book is not for a terminal"),
        (["--to", "epub", "--vertical", "--horizontal", "BOOK"], "", b"exclude each other"),
        (["--to", "json", "--horizontal", "BOOK"], "", b"--horizontal applies to --to page and --to epub"),
        (["--to", "epub", "BOOK", "-o", "x.epub"], "yesterday", b"SOURCE_DATE_EPOCH must be a whole number"),
    ],
    ids=["terminal", "both_directions", "direction_for_json", "bad_epoch"],
)
def test_wrong_usage(tmp_path, args, epoch, message):
    source = book_folder(tmp_path)
    primary, secondary = pty.openpty()  # standard output on a terminal
    run = subprocess.run([sys.executable, "-m", "yomika_cli", *[str(source) if a == "BOOK" else a for a in args]],
                         stdout=secondary, stderr=subprocess.PIPE, timeout=120, cwd=tmp_path,
                         env={**os.environ, "SOURCE_DATE_EPOCH": epoch})
    os.close(secondary)
    os.close(primary)
    assert run.returncode == 2 and message in run.stderr
    assert not (tmp_path / "x.epub").exists()


def test_several_books_to_a_folder(tmp_path):
    source = book_folder(tmp_path)
    other = tmp_path / "other.txt"
    other.write_text("二冊目\n", encoding="utf-8")
    out = tmp_path / "out"
    convert("--to", "epub", source, other, "-o", f"{out}/")
    assert sorted(p.name for p in out.iterdir()) == ["book.epub", "other.epub"]
    refused = subprocess.run([sys.executable, "-m", "yomika_cli", "--to", "epub", str(source), str(other)],
                             capture_output=True, timeout=120)
    assert refused.returncode == 2 and b"e-books cannot share standard output" in refused.stderr
