"""The converter's page of a book: one well-formed document with the book's parts in order, the
rules for the amounts it uses, pictures taken from beside the text (never from outside its
folder), the legend left out unless kept, and the notes and blocks a reader should hear about."""

import re
import subprocess
import sys
import xml.etree.ElementTree as ET
import zipfile

import pytest

yomika_cli = pytest.importorskip("yomika_cli")

PNG = (
    b"\x89PNG\r\n\x1a\n\x00\x00\x00\rIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02\x00\x00\x00\x90wS\xde"
    b"\x00\x00\x00\x0cIDATx\x9cc\xf8\xcf\xc0\x00\x00\x03\x01\x01\x00\xc9\xfe\x92\xef\x00\x00\x00\x00IEND\xaeB`\x82"
)
RULE = "-" * 55
BOOK = (
    f"本の題\n著者名\n\n{RULE}\n【テキスト中に現れる記号について】\n（例）［＃ここから２字下げ］\n{RULE}\n\n"
    "［＃３字下げ］一［＃「一」は中見出し］\n　本文の一行目。\n［＃挿絵（fig.png）入る］\n"
    "［＃地図（../secret.png、横30×縦20）入る］\n\n底本：「本の題」出版社\n"
)


def run(*args, cwd=None):
    return subprocess.run([sys.executable, "-m", "yomika_cli", *map(str, args)], capture_output=True, timeout=120,
                          cwd=cwd)


def main_of(page: str) -> str:
    return re.search(r'<main class="yomika-text">\n(.*)</main>', page, re.S).group(1)


def test_the_page_holds_the_parts_in_order_as_xml(tmp_path):
    (tmp_path / "book.txt").write_text(BOOK, encoding="utf-8")
    r = run(tmp_path / "book.txt")
    assert r.returncode == 0, r.stderr
    page = r.stdout.decode("utf-8")
    assert "<title>本の題 — 著者名</title>" in page
    main = ET.fromstring(f"<main>{main_of(page)}</main>")  # the body is XML as it stands
    assert [child.tag for child in main] == ["header", "nav", "section", "footer"]
    assert [a.get("href") for a in main.iter("a")] == ["#" + h.get("id") for h in main.iter("h3")]
    assert "テキスト中に現れる記号について" not in page and "yomika-container-indent" not in page


@pytest.mark.parametrize(
    "where",
    ["beside", "archive", "archive_elsewhere"],
)
def test_pictures_are_embedded_from_beside_the_text(tmp_path, where):
    (tmp_path / "secret.png").write_bytes(PNG)  # outside the text's folder: never taken
    folder = tmp_path / "book"
    folder.mkdir()
    if where == "beside":
        source = folder / "book.txt"
        source.write_text(BOOK, encoding="utf-8")
        (folder / "fig.png").write_bytes(PNG)
    else:
        source = folder / "book.zip"
        with zipfile.ZipFile(source, "w") as z:
            z.writestr("book/book.txt", BOOK.encode("cp932"))
            z.writestr("book/fig.png" if where == "archive" else "pictures/fig.png", PNG)
    r = run(source)
    assert r.returncode == 0, r.stderr
    figures = re.findall(r'<figure class="yomika-figure">(.*?)</figure>', r.stdout.decode("utf-8"))
    assert len(figures) == 2
    assert figures[0].startswith('<img src="data:image/png;base64,iVBORw0KGgo')
    assert 'class="yomika-figure-missing" style="width: 30px; aspect-ratio: 30 / 20;"' in figures[1]


def test_the_legend_is_kept_on_request(tmp_path):
    path = tmp_path / "book.txt"
    path.write_text(BOOK, encoding="utf-8")
    kept = run("--keep-legend", path).stdout.decode("utf-8")
    assert '<section class="yomika-legend">' in kept and "<p>（例）［＃ここから２字下げ］</p>" in kept
    refused = run("--keep-legend", "--to", "html", path)
    assert refused.returncode == 2 and b"--keep-legend applies to --to page" in refused.stderr


def test_notes_the_page_cannot_draw_are_reported(tmp_path):
    path = tmp_path / "n.txt"
    path.write_text("甲［＃ほげ］乙［＃ほげ］丙［＃「丙」は謎］\n", encoding="utf-8")
    r = run("--report-notes", "--to", "json", path)
    assert r.returncode == 0
    assert r.stdout.decode("utf-8").rstrip().endswith('"undrawn_notes":{"「…」は謎":1,"ほげ":2}}')
    assert r.stderr.decode("utf-8").splitlines() == [
        f"{path}: note: the page cannot draw ［＃ほげ］ (2×)",
        f"{path}: note: the page cannot draw ［＃「…」は謎］ (1×)",
    ]


def test_unbalanced_blocks_are_reported_where_the_file_has_them(tmp_path):
    path = tmp_path / "b.txt"
    path.write_bytes("一行目\r\n［＃ここで字下げ終わり］\r\n［＃ここから太字］\r\n本文\r\n".encode("utf-8"))
    r = run(path)
    assert r.returncode == 0
    assert r.stderr.decode("utf-8").splitlines() == [
        f"{path}:2:1: warning: block end with no block open: ［＃ここで字下げ終わり］",
        f"{path}:3:1: warning: block left open: ［＃ここから太字］",
    ]


@pytest.mark.parametrize(
    "unit",
    ["［＃割り注］甲［＃太字］\n", "［＃ここから２字下げ］\n［＃ここから太字］\n乙\n［＃改ページ］\n"],
    ids=["ranges_never_closed", "blocks_never_closed"],
)
def test_page_grows_by_a_fixed_amount_per_line(unit):
    # Ranges opened on every line and blocks opened on every page, never closed, nest ever deeper;
    # each line and each part opens them again, and must not open all of them.
    def size(n):
        book = yomika_cli.render_book(unit * n + "［＃地付き］乙")
        return sum(len(s["html"]) for s in book["sections"])

    assert size(8000) < 9 * size(1000)


def test_an_archive_is_searched_once_for_the_pictures_a_text_names_again_and_again(tmp_path, monkeypatch):
    from yomika_cli import reading

    source = tmp_path / "book.zip"
    with zipfile.ZipFile(source, "w") as z:
        z.writestr("book/book.txt", ("［＃挿絵（fig.png）入る］［＃挿絵（none.png）入る］\n" * 500).encode("cp932"))
        z.writestr("book/fig.png", PNG)
        for k in range(200):
            z.writestr(f"other/{k}.txt", b"")
    opened = []
    real_open = reading._open_archive
    monkeypatch.setattr(reading, "_open_archive", lambda data: opened.append(1) or real_open(data))
    book = reading.open_source(str(source))
    found = [book.picture(name) for name in ("fig.png", "none.png") * 500]
    assert found[0] == ("fig.png", PNG) and found[1] is None and found[-2:] == found[:2]
    assert len(opened) == 2  # the text read, then the pictures looked for
