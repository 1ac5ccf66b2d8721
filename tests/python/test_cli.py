"""The yomika converter, run as a subprocess: encodings, zip archives, formats, outputs,
diagnostics and exit statuses."""

import io
import json
import os
import subprocess
import sys
import zipfile

import pytest

pytest.importorskip("yomika_cli")

BOOK = "吾輩の記\n著者\n\n　｜吾輩《わがはい》は猫である。名前はまだ無い。\n［＃改ページ］\n終わり\n"


def run(*args, stdin=None, cwd=None, env=None):
    return subprocess.run(
        [sys.executable, "-m", "yomika_cli", *args],
        input=stdin,
        capture_output=True,
        cwd=cwd,
        env=None if env is None else {**os.environ, **env},
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
    assert page.startswith('<!DOCTYPE html>\n<html lang="ja" class="yomika-horizontal">')
    assert "<title>吾輩の記</title>" in page
    assert "text-emphasis" in page and "text-combine-upright" in page
    assert '<body class="yomika-page">' in page and "<script>" not in page
    vertical = run("--vertical", path).stdout.decode("utf-8")
    assert vertical.startswith('<!DOCTYPE html>\n<html lang="ja" class="yomika-vertical">')


@pytest.mark.parametrize(
    "text,title",
    [
        ("｜吾輩《わがはい》は猫である\n著者\n", "吾輩は猫である"),
        ("\n\n［＃改ページ］\n　Tom &amp; <Jerry>\n", "Tom &amp;amp; &lt;Jerry&gt;"),
        ("［＃編集注記］\n本題［＃「本題」は大見出し］\n", "本題"),
        ("［＃改ページ］\n", "x.txt"),
    ],
    ids=["ruby", "escaped", "hidden_note", "no_text"],
)
def test_page_title_is_the_first_visible_line(tmp_path, text, title):
    path = write(tmp_path / "x.txt", text.encode("utf-8"))
    page = run(path).stdout.decode("utf-8")
    assert f"<title>{title}</title>" in page


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


@pytest.mark.parametrize("jobs", ["2", "8"])
def test_parallel_matches_serial(tmp_path, jobs):
    paths = [write(tmp_path / f"{i}.txt", (BOOK * (i + 1)).encode("utf-8")) for i in range(4)]
    serial, parallel = tmp_path / "s", tmp_path / "p"
    assert run("--to", "html", "-o", str(serial), *paths).returncode == 0
    assert run("--to", "html", "-j", jobs, "-o", str(parallel), *paths).returncode == 0
    for name in os.listdir(serial):
        assert (serial / name).read_bytes() == (parallel / name).read_bytes()


DIAGNOSED = "一行目\n二行目《閉じない\nここは」です\n"


def test_diagnostics_lines_and_columns(tmp_path):
    path = write(tmp_path / "d.txt", DIAGNOSED.replace("\n", "\r\n").encode("utf-8"))
    r = run("--to", "html", path)
    assert r.returncode == 0
    lines = r.stderr.decode("utf-8").splitlines()
    assert lines == [
        f"{path}:2:4: error: unclosed 《",
        f"{path}:3:4: error: unmatched 」",
    ]


def test_columns_count_characters_along_each_line(tmp_path):
    path = write(tmp_path / "c.txt", "」」」\naé」b」\n".encode("utf-8"))
    r = run("--to", "text", path)
    found = [line.split(":")[1:3] for line in r.stderr.decode("utf-8").splitlines()]
    assert found == [["1", "1"], ["1", "2"], ["1", "3"], ["2", "3"], ["2", "5"]]


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
    assert b"examples:" in r.stdout and b"--vertical" in r.stdout and b"exit status:" in r.stdout
    version = run("--version")
    assert version.returncode == 0 and version.stdout.startswith(b"yomika ")


def zip_of(members: dict) -> bytes:
    buffer = io.BytesIO()
    with zipfile.ZipFile(buffer, "w") as z:
        for name, data in members.items():
            z.writestr(name, data)
    return buffer.getvalue()


def claims_encryption(archive: bytes) -> bytes:
    """The archive with the encryption flag set in its local and central headers."""
    out = bytearray(archive)
    for signature, flag_offset in ((b"PK\x03\x04", 6), (b"PK\x01\x02", 8)):
        out[out.find(signature) + flag_offset] |= 1
    return bytes(out)


@pytest.mark.parametrize(
    "name,data,message",
    [
        ("truncated.zip", b"PK\x03\x04" + b"\0" * 40, "not a readable zip archive"),
        ("named.zip", "ただの文章".encode("utf-8"), "not a readable zip archive"),
        ("empty.zip", zip_of({}), "the zip archive holds no file"),
        ("locked.zip", claims_encryption(zip_of({"a.txt": b"abc"})), "cannot unpack the zip archive"),
        ("garbled.zip", zip_of({"book/inner.txt": "あいう".encode("utf-8") + b"\x81\xff\xfe"}),
         "book/inner.txt: cannot decode as UTF-8 or CP932: invalid UTF-8 byte at offset 9"),
    ],
)
def test_bad_archives_fail_alone(tmp_path, name, data, message):
    good = write(tmp_path / "good.txt", BOOK.encode("utf-8"))
    bad = write(tmp_path / name, data)
    r = run("-o", str(tmp_path / "out"), bad, good)
    err = r.stderr.decode("utf-8")
    assert r.returncode == 1 and "Traceback" not in err
    assert f"{bad}: error: {message}" in err
    assert (tmp_path / "out" / "good.html").exists()


def test_output_directory_for_one_input_is_created(tmp_path):
    a = write(tmp_path / "a.txt", "甲\n".encode("utf-8"))
    r = run("-o", str(tmp_path / "new") + os.sep, a)
    assert r.returncode == 0, r.stderr
    assert (tmp_path / "new" / "a.html").exists()


def test_two_inputs_for_one_output_name_is_wrong_usage(tmp_path):
    (tmp_path / "x").mkdir()
    a = write(tmp_path / "book.txt", "甲\n".encode("utf-8"))
    b = write(tmp_path / "x" / "book.zip", zip_of({"book.txt": "乙\n".encode("utf-8")}))
    r = run("-o", str(tmp_path / "out"), a, b)
    assert r.returncode == 2 and b"would both be written to" in r.stderr
    assert not (tmp_path / "out").exists()


def test_unwritable_output_fails_that_file(tmp_path):
    a = write(tmp_path / "a.txt", "甲\n".encode("utf-8"))
    b = write(tmp_path / "b.txt", "乙\n".encode("utf-8"))
    (tmp_path / "out" / "a.html").mkdir(parents=True)  # a directory where the page should go
    r = run("-o", str(tmp_path / "out"), a, b)
    err = r.stderr.decode("utf-8")
    assert r.returncode == 1 and "Traceback" not in err
    assert f"{a}: error: cannot write" in err
    assert (tmp_path / "out" / "b.html").is_file()


def test_output_is_utf8_whatever_the_locale(tmp_path, book_html):
    path = write(tmp_path / "b.txt", BOOK.encode("utf-8"))
    r = run("--to", "html", path, env={"PYTHONIOENCODING": "ascii", "LC_ALL": "C"})
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode("utf-8") == book_html


def test_closed_standard_output_stops_quietly(tmp_path):
    path = write(tmp_path / "big.txt", (BOOK * 20000).encode("utf-8"))  # far more than a pipe holds
    p = subprocess.Popen([sys.executable, "-m", "yomika_cli", "--to", "text", path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.read(10)
    p.stdout.close()
    err = p.stderr.read()
    assert p.wait(timeout=120) == 1
    assert b"Traceback" not in err and b"Exception ignored" not in err


def run_on_terminal(*args):
    """Runs the converter with standard error on a pseudo-terminal; returns what it showed."""
    import pty

    controller, terminal = pty.openpty()
    p = subprocess.Popen([sys.executable, "-m", "yomika_cli", *args],
                         stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=terminal)
    os.close(terminal)
    shown = b""
    while True:
        try:
            chunk = os.read(controller, 4096)
        except OSError:  # the terminal's other side closed
            break
        if not chunk:
            break
        shown += chunk
    os.close(controller)
    assert p.wait(timeout=120) == 0
    return shown


def test_progress_bar_only_on_a_terminal(tmp_path):
    paths = [write(tmp_path / f"{i}.txt", f"第{i}\n".encode("utf-8")) for i in range(3)]
    diagnosed = write(tmp_path / "d.txt", DIAGNOSED.encode("utf-8"))
    args = ["--to", "text", "-o", str(tmp_path / "out"), *paths, diagnosed]
    shown = run_on_terminal(*args)
    assert b"] 4/4" in shown and b"\r[" in shown
    # The bar is wiped before a diagnostic is printed, so the message starts its own line.
    assert b"\x1b[K" + diagnosed.encode() + b":2:4: error: unclosed" in shown
    piped = run(*args)
    assert piped.returncode == 0 and b"\r" not in piped.stderr and b"4/4" not in piped.stderr
