"""The yomika converter, run as a subprocess: encodings, zip archives, formats, outputs,
diagnostics and exit statuses."""

import json
import os
import subprocess
import sys
import zipfile

import pytest

pytest.importorskip("yomika_cli")

BOOK = "吾輩の記\n著者\n\n　｜吾輩《わがはい》は猫である。名前はまだ無い。\n［＃改ページ］\n終わり\n"


def run(*args, stdin=None, cwd=None):
    return subprocess.run(
        [sys.executable, "-m", "yomika_cli", *args],
        input=stdin,
        capture_output=True,
        cwd=cwd,
        timeout=120,
    )


def write(path, data: bytes):
    path.write_bytes(data)
    return str(path)


@pytest.fixture
def book_html():
    import yomika_py

    return yomika_py.parse_to_html(BOOK)


@pytest.mark.parametrize(
    "name,data",
    [
        ("utf8", BOOK.encode("utf-8")),
        ("utf8_bom", b"\xef\xbb\xbf" + BOOK.encode("utf-8")),
        ("cp932_crlf", BOOK.replace("\n", "\r\n").encode("cp932")),
    ],
)
def test_encodings_are_detected(tmp_path, book_html, name, data):
    path = write(tmp_path / f"{name}.txt", data)
    r = run("--to", "html", path)
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode("utf-8") == book_html


def test_zip_archive_takes_the_text_inside(tmp_path, book_html):
    archive = tmp_path / "book.zip"
    with zipfile.ZipFile(archive, "w") as z:
        z.writestr("readme.jpg", b"\xff\xd8" * 10)
        z.writestr("wagahai/wagahai.txt", BOOK.replace("\n", "\r\n").encode("cp932"))
    r = run("--to", "html", str(archive))
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode("utf-8") == book_html


def test_page_is_a_complete_document(tmp_path):
    path = write(tmp_path / "b.txt", BOOK.encode("utf-8"))
    page = run(path).stdout.decode("utf-8")
    assert page.startswith("<!DOCTYPE html>\n<html lang=\"ja\">")
    assert "<title>吾輩の記</title>" in page
    assert "text-emphasis" in page and "text-combine-upright" in page
    assert '<body class="yomika-page yomika-horizontal">' in page
    vertical = run("--vertical", path).stdout.decode("utf-8")
    assert '<body class="yomika-page yomika-vertical">' in vertical


@pytest.mark.parametrize("fmt", ["json", "text", "html", "page"])
def test_formats(tmp_path, fmt):
    import yomika_py

    path = write(tmp_path / "b.txt", BOOK.encode("utf-8"))
    out = run("--to", fmt, path).stdout.decode("utf-8")
    doc = yomika_py.Document(BOOK)
    if fmt == "json":
        data = json.loads(out)
        assert list(data) == ["nodes", "pairs", "diagnostics"]
        assert data["nodes"] == json.loads(doc.nodes())
    elif fmt == "text":
        assert out == doc.serialize()
    elif fmt == "html":
        assert out == doc.to_html()
    else:
        assert doc.to_html() in out


def test_undecodable_file_fails_alone(tmp_path):
    good = write(tmp_path / "good.txt", BOOK.encode("utf-8"))
    bad = write(tmp_path / "bad.txt", "あいう".encode("utf-8") + b"\x81\xff\xfe")
    out = tmp_path / "out"
    r = run("-o", str(out), bad, good)
    assert r.returncode == 1
    err = r.stderr.decode("utf-8")
    assert f"{bad}: error: cannot decode" in err and "offset 9" in err
    assert (out / "good.html").exists() and not (out / "bad.html").exists()


def test_explicit_encoding_error_names_offset(tmp_path):
    path = write(tmp_path / "s.txt", "漢字".encode("cp932"))
    r = run("--encoding", "utf-8", path)
    assert r.returncode == 1
    assert "invalid byte at offset 0" in r.stderr.decode("utf-8")


def test_output_directory_one_file_per_input(tmp_path):
    a = write(tmp_path / "a.txt", "甲\n".encode("utf-8"))
    b = write(tmp_path / "b.txt", "乙\n".encode("utf-8"))
    out = tmp_path / "pages"
    r = run("--to", "text", "-o", str(out), a, b)
    assert r.returncode == 0, r.stderr
    assert sorted(os.listdir(out)) == ["a.txt", "b.txt"]
    assert (out / "b.txt").read_text(encoding="utf-8").startswith("乙")


def test_parallel_matches_serial(tmp_path):
    paths = [write(tmp_path / f"{i}.txt", (BOOK * (i + 1)).encode("utf-8")) for i in range(4)]
    serial, parallel = tmp_path / "s", tmp_path / "p"
    assert run("--to", "html", "-o", str(serial), *paths).returncode == 0
    assert run("--to", "html", "-j", "2", "-o", str(parallel), *paths).returncode == 0
    for name in os.listdir(serial):
        assert (serial / name).read_bytes() == (parallel / name).read_bytes()


DIAGNOSED = "一行目\n二行目《閉じない\nここは」です\n"


def test_diagnostics_lines_and_columns(tmp_path):
    path = write(tmp_path / "d.txt", DIAGNOSED.replace("\n", "\r\n").encode("utf-8"))
    r = run("--to", "html", path)
    assert r.returncode == 0
    lines = r.stderr.decode("utf-8").splitlines()
    assert lines == [
        f"{path}:3:4: error: unmatched 」",
        f"{path}:2:4: error: unclosed 《",
    ]


def test_quiet_and_strict(tmp_path):
    path = write(tmp_path / "d.txt", DIAGNOSED.encode("utf-8"))
    quiet = run("--quiet", "--to", "html", path)
    assert quiet.returncode == 0 and quiet.stderr == b""
    strict = run("--strict", "--to", "html", path)
    assert strict.returncode == 1 and strict.stdout == b""
    warning_only = write(tmp_path / "w.txt", "a\ue001b\n".encode("utf-8"))
    r = run("--strict", "--to", "html", warning_only)
    assert r.returncode == 0
    assert f"{warning_only}:1:2: warning: reserved character U+E001" in r.stderr.decode("utf-8")


def test_standard_input(book_html):
    r = run("--to", "html", stdin=BOOK.encode("cp932"))
    assert r.returncode == 0
    assert r.stdout.decode("utf-8") == book_html


@pytest.mark.parametrize(
    "args",
    [["--to", "pdf"], ["-j", "0", "x.txt"], ["--encoding", "no-such-codec", "x.txt"], ["--bogus"]],
)
def test_usage_errors_exit_2(tmp_path, args):
    assert run(*args, cwd=tmp_path).returncode == 2


def test_missing_file_fails(tmp_path):
    r = run(str(tmp_path / "absent.txt"))
    assert r.returncode == 1
    assert "absent.txt: error:" in r.stderr.decode("utf-8")


def test_help_shows_examples():
    r = run("--help")
    assert r.returncode == 0
    assert b"examples:" in r.stdout and b"--vertical" in r.stdout
