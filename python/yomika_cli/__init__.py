"""yomika: convert books in the yomika notation into readable pages, HTML, JSON or notation.

The command-line face of the yomika_py module. It reads UTF-8 or Shift_JIS (CP932) files, plain
or inside a zip archive, and writes a complete HTML page (the default), the HTML fragment, the
three JSON reports, or the normalized notation text. Diagnostics go to standard error as
``file:line:column: severity: message``, counted in characters of the text as the parser saw it.
"""

from __future__ import annotations

import argparse
import bisect
import concurrent.futures
import html
import io
import json
import os
import re
import sys
import zipfile
from dataclasses import dataclass, field
from importlib import resources

import yomika_py

__all__ = ["main", "convert_text", "decode_bytes", "read_input", "render_page", "DecodeError"]

FORMATS = ("page", "html", "json", "text")
SUFFIXES = {"page": ".html", "html": ".html", "json": ".json", "text": ".txt"}

EXAMPLES = """\
examples:
  yomika book.txt > book.html           a readable page (UTF-8 or Shift_JIS, detected)
  yomika --vertical book.zip -o book.html
                                        the text file inside a zip, as a vertical page
  yomika --to json book.txt             nodes, pairs and diagnostics as one JSON object
  yomika --to text book.txt             the notation written back in its one fixed form
  yomika -j 2 -o out/ a.txt b.txt c.zip one page per input, in two processes
  cat book.txt | yomika --to html       read standard input, write the HTML fragment
"""


class DecodeError(Exception):
    """A file whose bytes are not text in the expected encoding."""


class UsageError(Exception):
    """Wrong use of the command line (exit status 2)."""


# ---------------------------------------------------------------------------------------------
# Reading


def decode_bytes(data: bytes, encoding: str | None = None) -> tuple[str, str]:
    """Returns (text, encoding used). Without an encoding, UTF-8 (with or without a byte-order
    mark) is tried first and CP932 second; a text that is neither raises DecodeError naming the
    byte offset where decoding stopped."""
    if encoding:
        try:
            return data.decode(encoding), encoding
        except UnicodeDecodeError as e:
            raise DecodeError(f"cannot decode as {encoding}: invalid byte at offset {e.start}") from None
        except LookupError:
            raise UsageError(f"unknown encoding: {encoding}") from None
    try:
        return data.decode("utf-8"), "utf-8"
    except UnicodeDecodeError as utf8_error:
        try:
            return data.decode("cp932"), "cp932"
        except UnicodeDecodeError as cp932_error:
            # Report the decoder that got further: it is the likelier encoding of the file.
            if utf8_error.start >= cp932_error.start:
                where, name = utf8_error.start, "UTF-8"
            else:
                where, name = cp932_error.start, "CP932"
            raise DecodeError(
                f"cannot decode as UTF-8 or CP932: invalid {name} byte at offset {where}"
            ) from None


def _zip_member(archive: zipfile.ZipFile) -> zipfile.ZipInfo:
    members = [m for m in archive.infolist() if not m.is_dir()]
    texts = [m for m in members if m.filename.lower().endswith(".txt")]
    candidates = texts or members
    if not candidates:
        raise DecodeError("the zip archive holds no file")
    # Archives of a book hold one text and sometimes pictures; the largest text is the book.
    return max(candidates, key=lambda m: m.file_size)


def read_input(path: str, encoding: str | None = None) -> str:
    """Reads one input ("-" is standard input), unpacking a zip archive when it is one."""
    if path == "-":
        data = sys.stdin.buffer.read()
    else:
        with open(path, "rb") as f:
            data = f.read()
    if data[:4] == b"PK\x03\x04":
        try:
            with zipfile.ZipFile(io.BytesIO(data)) as archive:
                data = archive.read(_zip_member(archive))
        except zipfile.BadZipFile as e:
            raise DecodeError(f"broken zip archive: {e}") from None
    return decode_bytes(data, encoding)[0]


# ---------------------------------------------------------------------------------------------
# Converting


@dataclass
class Result:
    name: str
    output: str | None = None
    messages: list[str] = field(default_factory=list)  # diagnostics, silenced by --quiet
    problem: str | None = None  # why the file failed; always printed
    errors: int = 0
    failed: bool = False


def _first_line(text: str) -> str:
    for line in text.lstrip("\ufeff").splitlines():
        line = line.strip()
        if line:
            return line
    return ""


_AMOUNT_ELEMENTS = re.compile(r'<(?:span|div) class="([^"]*)" data-(?:amount|offset)="(\d+)"')

def _stylesheet() -> str:
    return resources.files(__package__).joinpath("page.css").read_text(encoding="utf-8")


def _amount_rules(fragment: str) -> str:
    """Rules for the indentation and end-alignment amounts that the fragment actually uses."""
    rules = {}
    for classes, amount in _AMOUNT_ELEMENTS.findall(fragment):
        names = set(classes.split())
        n = int(amount)
        if "yomika-container-indent" in names:
            rule = f'.yomika-container-indent[data-amount="{n}"] {{ padding-inline-start: {n}em; }}'
        elif "yomika-container-align-end" in names:
            rule = f'.yomika-container-align-end[data-offset="{n}"] {{ padding-inline-end: {n}em; }}'
        elif "yomika-indent" in names:
            rule = f'.yomika-indent[data-amount="{n}"] {{ inline-size: {n}em; }}'
        elif "yomika-align-end" in names:
            rule = f'p:has(> .yomika-align-end[data-offset="{n}"]) {{ padding-inline-end: {n}em; }}'
        else:
            continue
        rules[rule] = None
    return "\n".join(rules)


def render_page(fragment: str, title: str, vertical: bool = False) -> str:
    """A complete HTML5 document around an HTML fragment, with the shipped stylesheet."""
    mode = "vertical" if vertical else "horizontal"
    return (
        "<!DOCTYPE html>\n"
        '<html lang="ja">\n<head>\n<meta charset="utf-8">\n'
        '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
        f"<title>{html.escape(title)}</title>\n"
        f"<style>\n{_stylesheet()}\n{_amount_rules(fragment)}\n</style>\n"
        f'</head>\n<body class="yomika-page yomika-{mode}">\n<main class="yomika-text">\n'
        f"{fragment}</main>\n</body>\n</html>\n"
    )


class _Positions:
    """Maps byte offsets of the sanitized text to 1-based line and character column."""

    def __init__(self, sanitized: str):
        self.data = sanitized.encode("utf-8")
        self.line_starts = [0] + [m.end() for m in re.finditer(b"\n", self.data)]

    def at(self, offset: int) -> tuple[int, int]:
        line = bisect.bisect_right(self.line_starts, offset) - 1
        start = self.line_starts[line]
        column = len(self.data[start:offset].decode("utf-8", "replace")) + 1
        return line + 1, column

    def text(self, start: int, end: int) -> str:
        return self.data[start:end].decode("utf-8", "replace")


def _message(item: dict, positions: _Positions) -> str:
    span = item["span"]
    kind = item["kind"]
    if kind == "source_contains_pua":
        cp = ord(item["codepoint"])
        return f"reserved character U+{cp:04X} replaced by U+FFFD"
    bracket = positions.text(span["start"], span["end"])
    if kind == "unclosed_bracket":
        return f"unclosed {bracket}"
    if kind == "unmatched_close":
        return f"unmatched {bracket}"
    return kind.replace("_", " ")


def convert_text(text: str, name: str, to: str = "page", vertical: bool = False, strict: bool = False) -> Result:
    """Converts one decoded text; diagnostics come back as formatted messages."""
    from yomika_cli import _native  # the sanitized text, for line and column numbers

    result = Result(name)
    doc = yomika_py.Document(text)
    diagnostics = json.loads(doc.diagnostics())["data"]
    if diagnostics:
        positions = _Positions(_native.sanitize(text))
        for item in diagnostics:
            line, column = positions.at(item["span"]["start"])
            result.messages.append(f"{name}:{line}:{column}: {item['severity']}: {_message(item, positions)}")
            if item["severity"] == "error":
                result.errors += 1
    if strict and result.errors:
        result.failed = True
        result.problem = f"{name}: error: {result.errors} error diagnostic(s), not converted (--strict)"
        return result
    if to == "page":
        result.output = render_page(doc.to_html(), _first_line(text) or name, vertical)
    elif to == "html":
        result.output = doc.to_html()
    elif to == "json":
        result.output = (
            '{"nodes":' + doc.nodes() + ',"pairs":' + doc.pairs() + ',"diagnostics":' + doc.diagnostics() + "}\n"
        )
    else:
        result.output = doc.serialize()
    return result


def _convert_path(path: str, options: dict) -> Result:
    name = "<stdin>" if path == "-" else path
    try:
        text = read_input(path, options["encoding"])
    except (DecodeError, OSError) as e:
        reason = e.strerror if isinstance(e, OSError) and e.strerror else str(e)
        return Result(name, problem=f"{name}: error: {reason}", failed=True)
    try:
        return convert_text(text, name, options["to"], options["vertical"], options["strict"])
    except ValueError as e:  # sources beyond the 4 GiB offset limit
        return Result(name, problem=f"{name}: error: {e}", failed=True)


# ---------------------------------------------------------------------------------------------
# Command line


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="yomika",
        description="Convert texts in the yomika notation (ruby, notes, special characters, "
        "emphasis, indented and boxed blocks) into a readable HTML page, an HTML fragment, "
        "JSON reports or normalized notation.",
        epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("inputs", nargs="*", metavar="FILE", help="text or .zip files; none or - reads standard input")
    p.add_argument("--to", choices=FORMATS, default="page", help="output format (default: page)")
    p.add_argument("-o", "--output", metavar="PATH", help="output file, or a directory for several inputs")
    p.add_argument("--encoding", metavar="NAME", help="input encoding (default: detect UTF-8 or CP932)")
    p.add_argument("--vertical", action="store_true", help="vertical writing for --to page")
    p.add_argument("-q", "--quiet", action="store_true", help="do not print diagnostics")
    p.add_argument("--strict", action="store_true", help="fail a file that has any error diagnostic")
    p.add_argument("-j", "--jobs", type=int, default=1, metavar="N", help="convert in N processes")
    return p


def _output_path(output: str | None, path: str, to: str, many: bool) -> str | None:
    if output is None:
        return None
    if many or os.path.isdir(output) or output.endswith(os.sep):
        base = os.path.splitext(os.path.basename(path))[0] if path != "-" else "stdin"
        return os.path.join(output, base + SUFFIXES[to])
    return output


class _Progress:
    def __init__(self, total: int):
        self.total = total
        self.done = 0
        self.enabled = total > 1 and sys.stderr.isatty()

    def step(self) -> None:
        self.done += 1
        if self.enabled:
            width = 30
            filled = width * self.done // self.total
            sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total}")
            if self.done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    inputs = args.inputs or ["-"]
    if args.jobs < 1:
        parser.error("-j needs a positive number of processes")
    if inputs.count("-") > 1:
        parser.error("standard input can be read only once")
    many = len(inputs) > 1
    if many and args.output and os.path.isfile(args.output):
        parser.error("-o must name a directory when there are several inputs")
    if args.encoding:
        try:
            "".encode(args.encoding)
        except LookupError:
            parser.error(f"unknown encoding: {args.encoding}")
    if many and args.output:
        os.makedirs(args.output, exist_ok=True)

    options = {"encoding": args.encoding, "to": args.to, "vertical": args.vertical, "strict": args.strict}
    progress = _Progress(len(inputs))
    failures = 0

    def finish(path: str, result: Result) -> None:
        nonlocal failures
        if not args.quiet:
            for m in result.messages:
                print(m, file=sys.stderr)
        if result.failed:
            failures += 1
            print(result.problem, file=sys.stderr)
        elif result.output is not None:
            target = _output_path(args.output, path, args.to, many)
            if target is None:
                sys.stdout.write(result.output)
                sys.stdout.flush()
            else:
                with open(target, "w", encoding="utf-8", newline="") as f:
                    f.write(result.output)
        progress.step()

    if args.jobs > 1 and many and "-" not in inputs:
        with concurrent.futures.ProcessPoolExecutor(max_workers=args.jobs) as pool:
            futures = [pool.submit(_convert_path, path, options) for path in inputs]
            for path, fut in zip(inputs, futures):
                finish(path, fut.result())
    else:
        for path in inputs:
            finish(path, _convert_path(path, options))
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
