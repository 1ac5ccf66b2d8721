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
import zlib
from dataclasses import dataclass, field
from importlib import metadata, resources
from typing import Any, TypedDict

import yomika_py

__all__ = ["main", "convert_text", "decode_bytes", "read_input", "render_page", "page_title", "DecodeError", "Result"]

FORMATS = ("page", "html", "json", "text")
SUFFIXES = {"page": ".html", "html": ".html", "json": ".json", "text": ".txt"}

EXAMPLES = """\
examples:
  yomika book.txt > book.html           a readable page (UTF-8 or Shift_JIS, detected)
  yomika --vertical book.zip -o book.html
                                        the Shift_JIS text inside a zip, as a vertical page
  yomika --to json book.txt             nodes, pairs and diagnostics as one JSON object
  yomika --to text book.txt             the notation written back in its one fixed form
  yomika -j 2 -o pages/ *.zip           one page per input, in two processes
  cat book.txt | yomika --to html       read standard input, write the HTML fragment
  yomika --strict --quiet --to text *.txt > /dev/null
                                        check a collection: exit status 1 if any file has errors

exit status: 0 every file converted, 1 some file failed, 2 wrong usage
"""


class DecodeError(Exception):
    """A file whose bytes are not text in the expected encoding, or a broken archive."""


class UsageError(Exception):
    """Wrong use of the command line (exit status 2)."""


class Options(TypedDict):
    encoding: str | None
    to: str
    vertical: bool
    strict: bool


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
    if data[:4] in (b"PK\x03\x04", b"PK\x05\x06") or path.lower().endswith(".zip"):
        try:
            with zipfile.ZipFile(io.BytesIO(data)) as archive:
                member = _zip_member(archive)
                data = archive.read(member)
        except zipfile.BadZipFile as e:
            raise DecodeError(f"not a readable zip archive: {e}") from None
        # Encrypted members (RuntimeError), unknown compression methods and damaged streams.
        except (RuntimeError, NotImplementedError, EOFError, zlib.error) as e:
            raise DecodeError(f"cannot unpack the zip archive: {e}") from None
        try:
            return decode_bytes(data, encoding)[0]
        except DecodeError as e:
            raise DecodeError(f"{member.filename}: {e}") from None
    return decode_bytes(data, encoding)[0]


# ---------------------------------------------------------------------------------------------
# The page


@dataclass
class Result:
    name: str
    output: str | None = None
    messages: list[str] = field(default_factory=list)  # diagnostics, silenced by --quiet
    problem: str | None = None  # why the file failed; always printed
    errors: int = 0
    failed: bool = False


def _stylesheet() -> str:
    return resources.files(__package__).joinpath("page.css").read_text(encoding="utf-8")


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


# ---------------------------------------------------------------------------------------------
# Converting


class _Positions:
    """Maps byte offsets of the sanitized text to 1-based line and character column. Offsets are
    asked in increasing order, so the column is counted on from the last one: many diagnostics
    on one long line cost one pass over it."""

    def __init__(self, sanitized: str):
        self.data = sanitized.encode("utf-8")
        self.line_starts = [0] + [m.end() for m in re.finditer(b"\n", self.data)]
        self.line, self.offset, self.column = 0, 0, 1  # where the last answer was

    def at(self, offset: int) -> tuple[int, int]:
        line = bisect.bisect_right(self.line_starts, offset) - 1
        if line != self.line or offset < self.offset:
            self.line, self.offset, self.column = line, self.line_starts[line], 1
        self.column += len(self.data[self.offset : offset].decode("utf-8", "replace"))
        self.offset = offset
        return line + 1, self.column

    def text(self, start: int, end: int) -> str:
        return self.data[start:end].decode("utf-8", "replace")


def _message(item: dict[str, Any], positions: _Positions) -> str:
    span = item["span"]
    kind: str = item["kind"]
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
    """Converts one decoded text; diagnostics come back as formatted messages, in text order."""
    from yomika_cli import _native  # the sanitized text, for line and column numbers

    result = Result(name)
    doc = yomika_py.Document(text)
    report = doc.diagnostics()
    diagnostics = sorted(json.loads(report)["data"], key=lambda item: item["span"]["start"])
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
        fragment = doc.to_html()
        result.output = render_page(fragment, page_title(fragment, os.path.basename(name)), vertical)
    elif to == "html":
        result.output = doc.to_html()
    elif to == "json":
        result.output = '{"nodes":' + doc.nodes() + ',"pairs":' + doc.pairs() + ',"diagnostics":' + report + "}\n"
    else:
        result.output = doc.serialize()
    return result


def _convert_path(path: str, options: Options) -> Result:
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


def _version() -> str:
    try:
        return metadata.version("yomika_py")
    except metadata.PackageNotFoundError:
        return "unknown"


def _parser() -> argparse.ArgumentParser:
    p = argparse.ArgumentParser(
        prog="yomika",
        description="Convert texts in the yomika notation (ruby, notes, special characters, emphasis,\n"
        "indented and boxed blocks) into a readable HTML page, an HTML fragment, JSON reports\n"
        "or normalized notation. Inputs in UTF-8 or Shift_JIS (CP932), plain or zipped.",
        epilog=EXAMPLES,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    p.add_argument("inputs", nargs="*", metavar="FILE", help="text or .zip files; none or - reads standard input")
    p.add_argument("--to", choices=FORMATS, default="page", help="output format (default: page)")
    p.add_argument("-o", "--output", metavar="PATH", help="output file, or a directory (one file per input)")
    p.add_argument("--encoding", metavar="NAME", help="input encoding (default: detect UTF-8 or CP932)")
    p.add_argument("--vertical", action="store_true", help="vertical writing for --to page")
    p.add_argument("-q", "--quiet", action="store_true", help="do not print diagnostics")
    p.add_argument("--strict", action="store_true", help="fail a file that has any error diagnostic")
    p.add_argument("-j", "--jobs", type=int, default=1, metavar="N", help="convert in N processes")
    p.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    return p


def _output_paths(output: str | None, inputs: list[str], to: str) -> list[str | None]:
    """Where each input's result goes: None for standard output."""
    if output is None:
        return [None] * len(inputs)
    if len(inputs) == 1 and not os.path.isdir(output) and not output.endswith(("/", os.sep)):
        return [output]
    names = [(os.path.splitext(os.path.basename(p))[0] if p != "-" else "stdin") + SUFFIXES[to] for p in inputs]
    return [os.path.join(output, n) for n in names]


class _Progress:
    """A one-line bar on standard error, drawn only when that is a terminal."""

    def __init__(self, total: int):
        self.total = total
        self.done = 0
        self.enabled = total > 1 and sys.stderr.isatty()

    def clear(self) -> None:
        if self.enabled and self.done:
            sys.stderr.write("\r\033[K")

    def step(self) -> None:
        self.done += 1
        if self.enabled:
            width = 30
            filled = width * self.done // self.total
            sys.stderr.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total}")
            if self.done == self.total:
                sys.stderr.write("\n")
            sys.stderr.flush()


def _write_stdout(data: bytes) -> None:
    # Standard output is UTF-8 whatever the locale says, as the page declares. A large write may
    # be taken only in part when the reader goes away; writing the rest raises BrokenPipeError.
    view = memoryview(data)
    while view:
        written = sys.stdout.buffer.write(view)
        if not written:
            raise OSError("standard output takes no more data")
        view = view[written:]
    sys.stdout.buffer.flush()


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    inputs: list[str] = args.inputs or ["-"]
    if args.jobs < 1:
        parser.error("-j needs a positive number of processes")
    if inputs.count("-") > 1:
        parser.error("standard input can be read only once")
    if len(inputs) > 1 and args.output and os.path.isfile(args.output):
        parser.error("-o must name a directory when there are several inputs")
    if args.encoding:
        try:
            "".encode(args.encoding)
        except LookupError:
            parser.error(f"unknown encoding: {args.encoding}")
    targets = _output_paths(args.output, inputs, args.to)
    seen: dict[str, str] = {}
    for path, target in zip(inputs, targets):
        if target is not None and target in seen:
            parser.error(f"{seen[target]} and {path} would both be written to {target}")
        if target is not None:
            seen[target] = path
    try:
        for target in targets:
            if target is not None and os.path.dirname(target):
                os.makedirs(os.path.dirname(target), exist_ok=True)
    except OSError as e:
        parser.error(f"cannot create the output directory: {e}")

    options: Options = {"encoding": args.encoding, "to": args.to, "vertical": args.vertical, "strict": args.strict}
    progress = _Progress(len(inputs))
    failures = 0

    def finish(target: str | None, result: Result) -> None:
        nonlocal failures
        progress.clear()
        if not args.quiet:
            for m in result.messages:
                print(m, file=sys.stderr)
        if not result.failed and result.output is not None:
            try:
                if target is None:
                    _write_stdout(result.output.encode("utf-8"))
                else:
                    with open(target, "w", encoding="utf-8", newline="") as f:
                        f.write(result.output)
            except BrokenPipeError:
                raise
            except OSError as e:
                result.failed = True
                result.problem = f"{result.name}: error: cannot write {target or 'standard output'}: {e.strerror or e}"
        if result.failed:
            failures += 1
            print(result.problem, file=sys.stderr)
        progress.step()

    try:
        jobs = min(args.jobs, len(inputs))
        if jobs > 1 and "-" not in inputs:
            with concurrent.futures.ProcessPoolExecutor(max_workers=jobs) as pool:
                futures = [pool.submit(_convert_path, path, options) for path in inputs]
                for target, future in zip(targets, futures):
                    finish(target, future.result())
        else:
            for path, target in zip(inputs, targets):
                finish(target, _convert_path(path, options))
    except BrokenPipeError:
        # The reader of standard output went away (yomika ... | head): stop quietly.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 1
    except KeyboardInterrupt:
        return 130
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
