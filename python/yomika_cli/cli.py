"""The `yomika` command: its options, the checks made before anything is written, and the run."""

from __future__ import annotations

import argparse
import concurrent.futures
import contextlib
import json
import os
import signal
import sys
from collections.abc import Generator
from importlib import metadata

from yomika_cli.convert import FORMATS, Options, Result, convert_path
from yomika_cli.errors import OutputError, UsageError
from yomika_cli.output import (
    Stopped,
    end_by,
    make_folders,
    output_targets,
    refuse_inputs_as_outputs,
    stopping_cleanly,
    write_atomically,
    write_stdout,
)
from yomika_cli.progress import Progress
from yomika_cli.reading import input_size

EXAMPLES = """\
examples:
  yomika book.txt > book.html           a readable page (UTF-8 or Shift_JIS, detected)
  yomika --vertical book.zip -o book.html
                                        the Shift_JIS text inside a zip, as a vertical page
  yomika --to epub book.zip -o book.epub
                                        an e-book (EPUB 3), vertical, right to left
  yomika --to json book.txt             nodes, pairs and diagnostics as one JSON object
  yomika --to text book.txt             the notation written back in its one fixed form
  yomika -j 2 -o pages/ *.zip           one page per input, in two processes
  cat book.txt | yomika --to html       read standard input, write the HTML fragment
  yomika --strict --quiet --to text *.txt > /dev/null
                                        check a collection: exit status 1 if any file has errors

exit status: 0 every file converted, 1 some file failed or an output folder could not be made,
2 wrong usage (nothing is written); a run stopped by a signal ends by that signal
"""


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
    p.add_argument("-o", "--output", metavar="PATH",
                   help="output file, - for standard output, or a folder (one file per input; end it with /)")
    p.add_argument("--encoding", metavar="NAME", help="input encoding (default: detect UTF-8 or CP932)")
    p.add_argument("--member", metavar="NAME", help="the file to read inside a zip archive (default: the largest .txt)")
    p.add_argument("--vertical", action="store_true", help="vertical writing (the default for --to epub)")
    p.add_argument("--horizontal", action="store_true", help="horizontal writing (the default for --to page)")
    p.add_argument("--keep-legend", action="store_true",
                   help="keep the notation's legend at the start of a book (--to page, epub); left out by default")
    p.add_argument("--report-notes", action="store_true",
                   help="count, by keyword, the notes the page cannot draw (standard error)")
    p.add_argument("-q", "--quiet", action="store_true", help="do not print diagnostics and notes")
    p.add_argument("--strict", action="store_true", help="fail a file that has any error diagnostic")
    p.add_argument("-j", "--jobs", type=int, default=1, metavar="N", help="convert in N processes")
    p.add_argument("--version", action="version", version=f"%(prog)s {_version()}")
    return p


def _targets(args: argparse.Namespace, inputs: list[str]) -> list[str | None]:
    """Everything that makes a run wrong usage, found before anything is read or written."""
    if args.jobs < 1:
        raise UsageError("-j needs a positive number of processes")
    if inputs.count("-") > 1:
        raise UsageError("standard input can be read only once")
    books = ("page", "epub")
    for flag, given in (("--vertical", args.vertical), ("--horizontal", args.horizontal), ("--keep-legend", args.keep_legend)):
        if given and args.to not in books:
            raise UsageError(f"{flag} applies to --to page and --to epub, not to --to {args.to}")
    if args.vertical and args.horizontal:
        raise UsageError("--vertical and --horizontal exclude each other")
    if args.encoding:
        try:
            "".encode(args.encoding)
        except LookupError:
            raise UsageError(f"unknown encoding: {args.encoding}") from None
    targets = output_targets(args.output, inputs, args.to)
    if len(inputs) > 1 and targets[0] is None and args.to in books:
        raise UsageError(f"several {'pages' if args.to == 'page' else 'e-books'} cannot share standard output "
                         "(each is one document); use -o FOLDER/")
    if args.to == "epub" and targets[0] is None and sys.stdout.isatty():
        raise UsageError("an e-book is not for a terminal; give -o FILE.epub or redirect standard output")
    refuse_inputs_as_outputs(inputs, targets)
    return targets


def _source_date_epoch() -> int | None:
    """SOURCE_DATE_EPOCH, the time reproducible builds stamp their outputs with, when set."""
    value = os.environ.get("SOURCE_DATE_EPOCH", "").strip()
    if not value:
        return None
    if not value.isdigit():
        raise UsageError(f"SOURCE_DATE_EPOCH must be a whole number of seconds, not {value!r}")
    return int(value)


def _start_worker() -> None:
    # Only the main process writes files; a worker stopped by a signal just ends.
    for s in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, signal.SIG_DFL)


def _stop_workers(pool: concurrent.futures.ProcessPoolExecutor) -> None:
    terminate = getattr(pool, "terminate_workers", None)  # Python 3.14 and later
    if terminate is not None:
        terminate()
    else:
        for process in list((getattr(pool, "_processes", None) or {}).values()):
            process.terminate()
    pool.shutdown(wait=False, cancel_futures=True)


def _results(inputs: list[str], options: Options, jobs: int, progress: Progress) -> Generator[tuple[int, Result], None, None]:
    """Each input's result, in input order; with several processes the next ones are converted
    while one is being written."""
    if jobs <= 1 or "-" in inputs:
        for i, path in enumerate(inputs):
            progress.working_on(path)
            yield i, convert_path(path, options)
        return
    pool = concurrent.futures.ProcessPoolExecutor(max_workers=jobs, initializer=_start_worker)
    try:
        futures = [pool.submit(convert_path, path, options) for path in inputs]
        for i, future in enumerate(futures):
            progress.working_on(inputs[i])
            try:
                result = future.result()
            except concurrent.futures.BrokenExecutor:  # a worker killed from outside
                result = Result(inputs[i], failed=True, problem=f"{inputs[i]}: error: its process ended unexpectedly")
            yield i, result
    except BaseException:  # also the end of a run stopped while a result was being written
        _stop_workers(pool)
        raise
    pool.shutdown()


def _deliver(result: Result, target: str | None, json_lines: bool) -> None:
    """Writes a converted result; a write that fails makes the result a failure."""
    if result.failed or (result.output is None and result.data is None):
        return
    if result.data is not None:
        data = result.data
    else:
        output = result.output or ""
        if json_lines:  # one object per input, with the file it came from
            output = '{"file":' + json.dumps(result.name, ensure_ascii=False) + "," + output[1:]
        data = output.encode("utf-8")
    try:
        if target is None:
            write_stdout(data)
        else:
            write_atomically(target, data)
    except BrokenPipeError:
        raise
    except OSError as e:
        result.failed = True
        result.problem = f"{result.name}: error: cannot write {target or 'standard output'}: {e.strerror or e}"


def main(argv: list[str] | None = None) -> int:
    parser = _parser()
    args = parser.parse_args(argv)
    inputs: list[str] = args.inputs or ["-"]
    try:
        targets = _targets(args, inputs)
        epoch = _source_date_epoch()
    except UsageError as e:
        parser.error(str(e))
    try:
        make_folders(targets)
    except OutputError as e:
        print(f"yomika: error: {e}", file=sys.stderr)
        return 1

    options: Options = {"encoding": args.encoding, "member": args.member, "to": args.to,
                        "vertical": args.vertical or (args.to == "epub" and not args.horizontal), "strict": args.strict,
                        "keep_legend": args.keep_legend, "report_notes": args.report_notes,
                        "epoch": epoch}
    sizes = [input_size(path) for path in inputs]
    progress = Progress(inputs, sizes)
    json_lines = args.to == "json" and len(inputs) > 1 and targets[0] is None
    failures = 0
    with stopping_cleanly():
        try:
            with contextlib.closing(_results(inputs, options, min(args.jobs, len(inputs)), progress)) as results:
                for i, result in results:
                    if result.messages and not args.quiet:
                        progress.clear()
                        print("\n".join(result.messages), file=sys.stderr)
                    _deliver(result, targets[i], json_lines)
                    if result.failed:
                        failures += 1
                        progress.clear()
                        target = targets[i]
                        kept = f" ({target} is left as it was)" if target is not None and os.path.lexists(target) else ""
                        print(f"{result.problem}{kept}", file=sys.stderr)
                    progress.finished(sizes[i])
        except BrokenPipeError:
            # The reader of standard output went away (yomika ... | head): stop quietly.
            os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
            return 1
        except Stopped as e:  # the write under way has been undone
            progress.clear()
            sys.stderr.flush()
            return end_by(e.signum)
    progress.summary(failures)
    return 1 if failures else 0
