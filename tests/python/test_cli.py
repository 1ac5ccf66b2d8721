"""The yomika converter, run as a subprocess of the installed command: encodings, zip archives,
formats, outputs and how they are written, diagnostics and exit statuses."""

import io
import json
import os
import re
import signal
import subprocess
import sys
import time
import zipfile
from pathlib import Path

import pytest

yomika_cli = pytest.importorskip("yomika_cli")

BOOK = "吾輩の記\n著者\n\n　｜吾輩《わがはい》は猫である。名前はまだ無い。\n［＃改ページ］\n終わり\n"


# The console script beside the interpreter, as `pip install` made it; `python -m yomika_cli`
# where there is none (a build run from the source tree).
_SCRIPT = Path(sys.executable).with_name("yomika")
YOMIKA = [str(_SCRIPT)] if _SCRIPT.exists() else [sys.executable, "-m", "yomika_cli"]


def run(*args, stdin=None, cwd=None, env=None, stdout=subprocess.PIPE, preexec_fn=None):
    """stdin: bytes to send, or an open file to read from."""
    return subprocess.run(
        [*YOMIKA, *args],
        **({"input": stdin} if isinstance(stdin, bytes) else {"stdin": stdin}),
        stdout=stdout,
        stderr=subprocess.PIPE,
        cwd=cwd,
        env=None if env is None else {**os.environ, **env},
        preexec_fn=preexec_fn,
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
        assert list(data) == ["nodes", "pairs", "diagnostics", "undrawn_notes"]
        assert data["nodes"] == json.loads(doc.nodes())
    elif fmt == "text":
        assert out == doc.serialize()
    elif fmt == "html":
        assert out == doc.to_html()
    else:
        sections = yomika_cli.render_book(BOOK)["sections"]
        assert len(sections) == 2 and all(section["html"] in out for section in sections)


def test_undecodable_file_fails_alone(tmp_path):
    good = write(tmp_path / "good.txt", BOOK.encode("utf-8"))
    bad = write(tmp_path / "bad.txt", "あいう".encode("utf-8") + b"\x81\xff\xfe")
    out = tmp_path / "out"
    r = run("-o", f"{out}/", bad, good)
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
    r = run("--to", "text", "-o", f"{out}/", a, b)
    assert r.returncode == 0, r.stderr
    assert sorted(os.listdir(out)) == ["a.txt", "b.txt"]
    assert (out / "b.txt").read_text(encoding="utf-8").startswith("乙")


@pytest.mark.parametrize("jobs", ["2", "8"])
def test_parallel_matches_serial(tmp_path, jobs):
    paths = [write(tmp_path / f"{i}.txt", (BOOK * (i + 1)).encode("utf-8")) for i in range(4)]
    serial, parallel = tmp_path / "s", tmp_path / "p"
    assert run("--to", "html", "-o", f"{serial}/", *paths).returncode == 0
    assert run("--to", "html", "-j", jobs, "-o", f"{parallel}/", *paths).returncode == 0
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


LINE_END = re.compile(r"\r\n|\r|\n")


def positions_in_file(text: str) -> list[str]:
    """Where a reader finds each 」 and reserved character of the decoded file, counted here
    directly on it: lines as the file ends them, columns in characters, byte-order marks unseen."""
    found = []
    starts = [0] + [m.end() for m in LINE_END.finditer(text)]
    starts[0] = len(text) - len(text.lstrip("\ufeff"))
    for i, ch in enumerate(text):
        if ch in "」\ue001":
            line = max(k for k, start in enumerate(starts) if start <= i)
            found.append(f"{line + 1}:{i - starts[line] + 1}")
    return found


@pytest.mark.parametrize(
    "text",
    [
        pytest.param("x\n----------\nabc」\n", id="rule_line"),
        pytest.param("」\n==========\n」\n\n__________\n」", id="rule_lines"),
        pytest.param("〔cafe'〕で」\n", id="accent"),
        pytest.param("〔m'ae&〕」〔O:〕」\n〔e'\ue001〕」", id="accent_lengths_and_reserved"),
        pytest.param("a」\r\n----------\r\nb」\r\n", id="crlf_rule"),
        pytest.param("a」\rb」\r\r\n」\n」", id="lone_cr"),
        pytest.param("\ufeff」\n」", id="bom"),
        pytest.param("\ufeff\ufeffx」\r\n\ufeff」", id="boms_and_inner_bom"),
        pytest.param("〔ae&\r\n----------\r\nm'〕」\ue001", id="rule_inside_accent"),
        pytest.param("\ufeff本《ほん》」\r\n前\r\n-----------\r\n〔A`〕〔AE&〕\ue001」\r\n", id="everything"),
    ],
)
def test_diagnostics_point_into_the_file(tmp_path, text):
    path = write(tmp_path / "p.txt", text.encode("utf-8"))
    r = run("--to", "text", path)
    # Only the diagnostics whose place the test finds on its own; brackets may add others.
    reported = [line.split(":")[1] + ":" + line.split(":")[2] for line in r.stderr.decode("utf-8").splitlines()
                if line.endswith((": error: unmatched 」", ": warning: reserved character U+E001 replaced by U+FFFD"))]
    assert reported == positions_in_file(text)


def test_quiet_and_strict(tmp_path):
    path = write(tmp_path / "d.txt", DIAGNOSED.encode("utf-8"))
    quiet = run("--quiet", "--to", "html", path)
    assert quiet.returncode == 0 and quiet.stderr == b""
    strict = run("--strict", "--to", "html", path)
    assert strict.returncode == 1 and strict.stdout == b""
    old = tmp_path / "d.html"
    old.write_text("old page", encoding="utf-8")
    kept = run("--strict", "-o", str(old), path)
    assert kept.returncode == 1 and old.read_text(encoding="utf-8") == "old page"
    assert kept.stderr.decode("utf-8").endswith(f"not converted (--strict) ({old} is left as it was)\n")
    assert run("--strict", "-o", str(tmp_path / "new.html"), path).returncode == 1
    assert sorted(os.listdir(tmp_path)) == ["d.html", "d.txt"]
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
    [
        pytest.param(["--to", "pdf"], id="unknown_format"),
        pytest.param(["-j", "0", "a.txt"], id="no_processes"),
        pytest.param(["--encoding", "no-such-codec", "a.txt"], id="unknown_encoding"),
        pytest.param(["--bogus"], id="unknown_option"),
        pytest.param(["-", "-"], id="standard_input_twice"),
        pytest.param(["-o", "new.html", "a.txt", "b.txt"], id="one_new_file_for_two_inputs"),
        pytest.param(["-o", "old.html", "a.txt", "b.txt"], id="one_existing_file_for_two_inputs"),
        pytest.param(["a.txt", "b.txt"], id="two_pages_to_standard_output"),
        pytest.param(["-o", "-", "a.txt", "b.txt"], id="two_pages_to_dash"),
        pytest.param(["--vertical", "--to", "json", "a.txt"], id="vertical_json"),
        pytest.param(["--vertical", "--to", "html", "a.txt"], id="vertical_html"),
        pytest.param(["--vertical", "--to", "text", "a.txt"], id="vertical_text"),
    ],
)
def test_usage_errors_exit_2_before_anything_is_written(tmp_path, args):
    for name in ("a.txt", "b.txt", "old.html"):
        (tmp_path / name).write_text("甲\n", encoding="utf-8")
    r = run(*args, cwd=tmp_path)
    assert r.returncode == 2 and r.stdout == b""
    assert r.stderr.decode("utf-8").splitlines()[-1].startswith("yomika: error: ")
    assert sorted(os.listdir(tmp_path)) == ["a.txt", "b.txt", "old.html"]
    assert (tmp_path / "old.html").read_text(encoding="utf-8") == "甲\n"


ORIGINAL = BOOK.replace("\n", "\r\n").encode("cp932")


@pytest.mark.parametrize(
    "args,redirect",
    [
        pytest.param(["--to", "text", "-o", "book.txt", "book.txt"], None, id="same_name"),
        pytest.param(["--to", "text", "-o", ".", "book.txt"], None, id="current_folder"),
        pytest.param(["--to", "text", "-o", "./", "x.txt", "book.txt"], None, id="folder_of_several"),
        pytest.param(["--to", "text", "-o", "hard.txt", "book.txt"], None, id="hard_link"),
        pytest.param(["--to", "text", "-o", "sym.txt", "book.txt"], None, id="symbolic_link"),
        pytest.param(["--to", "text", "-o", "book.txt"], "stdin", id="standard_input"),
        pytest.param(["--to", "text", "book.txt"], "stdout", id="standard_output_appends"),
    ],
)
def test_an_input_is_never_overwritten(tmp_path, args, redirect):
    book = tmp_path / "book.txt"
    book.write_bytes(ORIGINAL)
    (tmp_path / "x.txt").write_text("乙\n", encoding="utf-8")
    os.link(book, tmp_path / "hard.txt")
    os.symlink("book.txt", tmp_path / "sym.txt")
    listing = sorted(os.listdir(tmp_path))
    with open(book, "rb" if redirect == "stdin" else "ab") as f:
        r = run(*args, cwd=tmp_path, stdin=f if redirect == "stdin" else None,
                stdout=f if redirect == "stdout" else subprocess.PIPE)
    assert r.returncode == 2
    assert "would overwrite the input" in r.stderr.decode("utf-8")
    assert book.read_bytes() == ORIGINAL and sorted(os.listdir(tmp_path)) == listing


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


def claims_method(archive: bytes, method: int) -> bytes:
    """The archive with its one member's compression method changed in both headers."""
    out = bytearray(archive)
    for signature, method_offset in ((b"PK\x03\x04", 8), (b"PK\x01\x02", 10)):
        at = out.find(signature) + method_offset
        out[at : at + 2] = method.to_bytes(2, "little")
    return bytes(out)


def cp932_names(archive: bytes, names: dict) -> bytes:
    """The archive with ASCII stand-ins replaced by CP932 names of the same length, stored without
    the UTF-8 flag as Japanese archivers write them."""
    for stand_in, name in names.items():
        assert len(stand_in) == len(name.encode("cp932"))
        archive = archive.replace(stand_in.encode("ascii"), name.encode("cp932"))
    return archive


@pytest.mark.parametrize(
    "name,data,message",
    [
        ("truncated.zip", b"PK\x03\x04" + b"\0" * 40, "not a readable zip archive"),
        ("named.zip", "ただの文章".encode("utf-8"), "not a readable zip archive"),
        ("empty.zip", zip_of({}), "no text file in the archive"),
        ("pictures.zip", zip_of({"cover.png": b"\x89PNG\r\n" + b"\0" * 64, "dir/": b""}), "no text file in the archive"),
        ("locked.zip", claims_encryption(zip_of({"a.txt": b"abc"})), "cannot unpack the zip archive: a.txt is encrypted"),
        ("deflate64.zip", claims_method(zip_of({"a.txt": b"abc"}), 9),
         "cannot unpack the zip archive: a.txt is compressed with Deflate64, which is not supported"),
        ("damaged.zip", zip_of({"a.txt": b"abc"}).replace(b"abc", b"abd", 1),
         "cannot unpack the zip archive: a.txt is damaged"),
        ("garbled.zip", zip_of({"book/inner.txt": "あいう".encode("utf-8") + b"\x81\xff\xfe"}),
         "book/inner.txt: cannot decode as UTF-8 or CP932: invalid UTF-8 byte at offset 9"),
    ],
)
def test_bad_archives_fail_alone(tmp_path, name, data, message):
    good = write(tmp_path / "good.txt", BOOK.encode("utf-8"))
    bad = write(tmp_path / name, data)
    r = run("-o", f"{tmp_path}/out/", bad, good)
    err = r.stderr.decode("utf-8")
    assert r.returncode == 1 and "Traceback" not in err
    reasons = [line for line in err.splitlines() if line.startswith(bad)]
    assert len(reasons) == 1 and reasons[0].startswith(f"{bad}: error: {message}")
    assert "<" not in reasons[0]  # no Python object shown
    assert (tmp_path / "out" / "good.html").exists() and not (tmp_path / "out" / f"{name[:-4]}.html").exists()


TWO_TEXTS = {"book/short.txt": "短\n", "book/honbun.txt": "長い本文\n", "book/cover.jpg": b"\xff\xd8" * 64}


@pytest.mark.parametrize(
    "members,args,text,notes",
    [
        pytest.param(TWO_TEXTS, [], "長い本文\n",
                     ["2 text files in the archive; reading the largest, book/honbun.txt (--member NAME chooses)"],
                     id="largest_named"),
        pytest.param(TWO_TEXTS, ["--quiet"], "長い本文\n", [], id="quiet"),
        pytest.param(TWO_TEXTS, ["--member", "book/short.txt"], "短\n", [], id="member"),
        pytest.param(TWO_TEXTS, ["--member", "short.txt"], "短\n", [], id="member_base_name"),
        pytest.param(cp932_names(zip_of({"XXXX/XX.txt": "猫の本\n".encode("cp932"), "a.txt": "甲"}),
                                 {"XXXX/XX.txt": "吾輩/猫.txt"}), [], "猫の本\n",
                     ["2 text files in the archive; reading the largest, 吾輩/猫.txt (--member NAME chooses)"],
                     id="cp932_names"),
        pytest.param(cp932_names(zip_of({"XX.txt": "猫の本\n".encode("cp932"), "a.txt": "甲"}), {"XX.txt": "猫.txt"}),
                     ["--member", "猫.txt"], "猫の本\n", [], id="cp932_member"),
    ],
)
def test_which_text_of_an_archive_is_read(tmp_path, members, args, text, notes):
    archive = write(tmp_path / "book.zip", members if isinstance(members, bytes) else zip_of(members))
    r = run("--to", "text", *args, archive)
    assert r.returncode == 0, r.stderr
    assert r.stdout.decode("utf-8") == text
    assert r.stderr.decode("utf-8").splitlines() == [f"{archive}: note: {n}" for n in notes]


def test_a_member_not_in_the_archive_fails(tmp_path):
    archive = write(tmp_path / "book.zip", zip_of(TWO_TEXTS))
    r = run("--to", "text", "--member", "other.txt", archive)
    assert r.returncode == 1 and r.stdout == b""
    assert r.stderr.decode("utf-8") == (f"{archive}: error: no single file named other.txt in the archive "
                                        "(its text files: book/short.txt, book/honbun.txt)\n")


@pytest.mark.parametrize(
    "args,status,made,message",
    [
        pytest.param(["-o", "new/", "a.txt"], 0, ["new/a.html"], None, id="folder_for_one"),
        pytest.param(["-o", "x/y/z.html", "a.txt"], 0, ["x/y/z.html"], None, id="missing_folders_made"),
        pytest.param(["-o", "-", "a.txt"], 0, [], None, id="dash_is_standard_output"),
        pytest.param(["-o", "f/x.html", "a.txt"], 1, [], "cannot make the folder f: f is a file, not a folder",
                     id="parent_is_a_file"),
        pytest.param(["-o", "f/sub/", "a.txt", "b.txt"], 1, [], "cannot make the folder f/sub: f is a file, not a folder",
                     id="folder_under_a_file"),
    ],
)
def test_where_outputs_go(tmp_path, args, status, made, message):
    for name in ("a.txt", "b.txt"):
        (tmp_path / name).write_text("甲\n", encoding="utf-8")
    (tmp_path / "f").write_text("a file, not a folder", encoding="utf-8")
    r = run(*args, cwd=tmp_path)
    assert r.returncode == status
    assert r.stderr.decode("utf-8").splitlines() == ([f"yomika: error: {message}"] if message else [])
    files = sorted(p.relative_to(tmp_path).as_posix() for p in tmp_path.rglob("*") if p.is_file())
    assert files == sorted(["a.txt", "b.txt", "f", *made])
    assert r.stdout.startswith(b"<!DOCTYPE html>") == ("-" in args)


@pytest.mark.parametrize("fmt", ["json", "html", "text"])
def test_several_inputs_to_standard_output(tmp_path, fmt):
    import yomika_py

    texts = {"a.txt": "甲《こう》\n", "b.txt": "乙」\n"}
    paths = [write(tmp_path / name, text.encode("utf-8")) for name, text in texts.items()]
    r = run("--quiet", "--to", fmt, *paths)
    assert r.returncode == 0, r.stderr
    docs = [yomika_py.Document(text) for text in texts.values()]
    out = r.stdout.decode("utf-8")
    if fmt == "json":  # JSON Lines: one object per input, named
        objects = [json.loads(line) for line in out.splitlines()]
        assert objects == [{"file": path, "nodes": json.loads(doc.nodes()), "pairs": json.loads(doc.pairs()),
                            "diagnostics": json.loads(doc.diagnostics()), "undrawn_notes": {}}
                           for path, doc in zip(paths, docs)]
        assert all(list(o) == ["file", "nodes", "pairs", "diagnostics", "undrawn_notes"] for o in objects)
    else:
        assert out == "".join(doc.to_html() if fmt == "html" else doc.serialize() for doc in docs)


def parts_in(folder) -> list[str]:
    return [name for name in os.listdir(folder) if name.endswith(".part")]


def test_a_write_over_the_file_size_limit_keeps_the_old_output(tmp_path):
    import resource

    source = write(tmp_path / "big.txt", (BOOK * 20000).encode("utf-8"))  # a page of several megabytes
    page = tmp_path / "big.html"
    page.write_text("old page", encoding="utf-8")

    def limit():
        resource.setrlimit(resource.RLIMIT_FSIZE, (1 << 20, 1 << 20))

    r = run("-o", str(page), source, preexec_fn=limit)
    assert r.returncode == 1
    assert r.stderr.decode("utf-8") == f"{source}: error: cannot write {page}: File too large ({page} is left as it was)\n"
    assert page.read_text(encoding="utf-8") == "old page" and not parts_in(tmp_path)


def process_state(pid: int) -> str:
    with open(f"/proc/{pid}/stat") as f:
        return f.read().rsplit(")", 1)[1].split()[0]


@pytest.mark.skipif(not os.path.exists("/proc/self/stat"), reason="reads process states from /proc")
@pytest.mark.parametrize("signum", [signal.SIGTERM, signal.SIGINT, signal.SIGHUP], ids=["SIGTERM", "SIGINT", "SIGHUP"])
def test_a_signal_during_a_large_write_keeps_the_old_output(tmp_path, signum):
    source = write(tmp_path / "big.txt", (BOOK * 300000).encode("utf-8"))
    page = tmp_path / "big.html"
    page.write_text("old page", encoding="utf-8")
    p = subprocess.Popen([*YOMIKA, "-o", str(page), source], stderr=subprocess.PIPE)
    deadline = time.monotonic() + 120
    # Wait for the temporary page to be under way, freeze the writer there, and check that it was
    # caught before its rename; the signal then lands during the write.
    while True:
        assert p.poll() is None and time.monotonic() < deadline, "the write ended before it could be stopped"
        sizes = [(tmp_path / name).stat().st_size for name in parts_in(tmp_path) if (tmp_path / name).exists()]
        if sizes and sizes[0] > 0:
            break
        time.sleep(0.001)
    p.send_signal(signal.SIGSTOP)
    while process_state(p.pid) != "T":
        time.sleep(0.001)
    assert parts_in(tmp_path), "the write ended before it could be stopped"
    p.send_signal(signum)
    p.send_signal(signal.SIGCONT)
    err = p.communicate(timeout=120)[1]
    assert p.returncode == -signum and b"Traceback" not in err
    assert page.read_text(encoding="utf-8") == "old page"
    assert sorted(os.listdir(tmp_path)) == ["big.html", "big.txt"]


def test_two_inputs_for_one_output_name_is_wrong_usage(tmp_path):
    (tmp_path / "x").mkdir()
    a = write(tmp_path / "book.txt", "甲\n".encode("utf-8"))
    b = write(tmp_path / "x" / "book.zip", zip_of({"book.txt": "乙\n".encode("utf-8")}))
    r = run("-o", f"{tmp_path}/out/", a, b)
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
    p = subprocess.Popen([*YOMIKA, "--to", "text", path],
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    p.stdout.read(10)
    p.stdout.close()
    err = p.stderr.read()
    assert p.wait(timeout=120) == 1
    assert b"Traceback" not in err and b"Exception ignored" not in err


def run_on_terminal(*args):
    """Runs the converter with standard error on a pseudo-terminal; returns what it showed."""
    import fcntl
    import pty
    import struct
    import termios

    controller, terminal = pty.openpty()
    fcntl.ioctl(terminal, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 300, 0, 0))  # room for whole paths
    p = subprocess.Popen([*YOMIKA, *args],
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
    return p.wait(timeout=120), shown


@pytest.mark.parametrize("jobs", ["1", "2"])
def test_progress_bar_only_on_a_terminal(tmp_path, jobs):
    paths = [write(tmp_path / f"{i}.txt", f"第{i}\n".encode("utf-8")) for i in range(3)]
    diagnosed = write(tmp_path / "d.txt", DIAGNOSED.encode("utf-8"))
    bad = write(tmp_path / "bad.txt", b"\x81\xff\xfe")
    inputs = [*paths, diagnosed, bad]
    args = ["-j", jobs, "--to", "text", "-o", f"{tmp_path}/out/", *inputs]
    total = f"{sum(os.path.getsize(p) for p in inputs)} B".encode()
    status, shown = run_on_terminal(*args)
    assert status == 1
    drawings = shown.split(b"\r\x1b[K")
    # Drawn before the first file is read, naming it.
    assert drawings[1] == b"[" + b"." * 30 + b"] 0/5  0 B of " + total + b"  " + paths[0].encode()
    for path in inputs:
        assert b" of " + total + b"  " + path.encode() + b"\r" in shown
    # The bar is wiped before a diagnostic is printed, so the message starts its own line.
    assert b"\x1b[K" + diagnosed.encode() + b":2:4: error: unclosed" in shown
    assert shown.endswith(b"\r\x1b[K[" + b"#" * 30 + b"] 5/5  " + total + b" of " + total
                          + b"\r\n4 converted, 1 failed\r\n")
    piped = run(*args)
    assert piped.returncode == 1 and b"\r" not in piped.stderr
    assert b"5/5" not in piped.stderr and b"converted" not in piped.stderr
