"""The benchmark suite: every figure of the project's speed and memory in one run, printed as
tables and written to bench/RESULTS.md with the machine it ran on. `make bench` builds and runs it.

Inputs: each book of ../shared/corpus alone; all books concatenated and repeated to 1, 4, 16 and
64 MB (cut at a line end); the largest book repeated to the same sizes; a synthetic text with no
notation; a synthetic text dense with every construct (the same texts as bench/bench_stages.cpp).

Figures:
1. the C++ core per stage and whole beside memcpy (the output of bench_stages, or bench_pipeline
   where that is not built), included as it is printed; and the core on each book as a document
   of its own (bench_books), source to HTML, to the nodes report and to notation text, the two
   builds' copies run in turn and the best of each kept;
2. parse_to_html(s), Document(s).to_html(), Document(s).nodes(), Document(s).pairs() and
   Document(s).serialize() in MB of source per second and as multiples of the floor:
   s.encode("utf-8") plus decoding the same call's output bytes, the least any str-to-str
   converter pays. Every call gets a str object of its own, made outside the clock: CPython keeps
   a string's UTF-8 form once it has been asked for, which would hide the cost of the first
   request. Below the table, the median and the worst book;
3. scaling: parse_to_html's time per byte at 1, 4, 16 and 64 MB against that at 1 MB, for the
   corpus and for the largest book repeated;
4. peak resident memory of one parse_to_html call on the 64 MB text, above what was resident
   before it, as a multiple of the text's UTF-8 size (in a fresh process);
5. the converter: the EPUB of the largest book, whole (the reader's page of every part, the
   package, its compression), in seconds.

The machine is shared and noisy. Every figure is the best of several rounds, the calls compared
with each other run in the same round, and the ratios are the figures to compare between runs.

Usage: python bench/suite.py --build BUILD_DIR [--baseline OTHER_BUILD_DIR [--baseline-name TEXT]]
           [--corpus DIR] [--rounds N] [--no-write]
BUILD_DIR holds the yomika_py module and the bench executables; --baseline names the build of an
earlier yomika_py, measured in the same run (figures 2 to 4) and shown as a second table.
"""

from __future__ import annotations

import argparse
import datetime
import gc
import importlib.machinery
import importlib.util
import json
import os
import platform
import re
import statistics
import subprocess
import sys
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
MB = 1 << 20
SCALES = (1, 4, 16, 64)
SYNTHETIC_MB = 4
BATCH_BYTES = 4 * MB  # a small book is timed over enough calls to make up this much source

# The synthetic texts, unit for unit those of bench/bench_stages.cpp.
PLAIN_UNIT = (
    "\u3000夕方から降り出した雨は、夜になっても止まなかった。駅前の古本屋は、いつもより早く灯り"
    "を落としかけていた。店主の老人は帳場に座り、濡れた傘から落ちる雫を数えていた。\n"
    "\u3000閉店の時刻を過ぎても、客は来ない。そのとき戸が鳴り、若い女が入ってきた。女は奥の棚"
    "の前で足を止め、小さく何かを言った。\n\n"
)
DENSE_UNIT = (
    "駅前の｜古本屋《ふるほんや》は帳場《ちょうば》の奥、《《ここにあった》》と言う。\n"
    "客は来ない［＃「来ない」に傍点］。波［＃「波」に波線］と線［＃「線」の左に傍線］。\n"
    "昭和31［＃「31」は縦中横］年、※［＃「木＋駟のつくり」、第3水準1-85-8］の並木。\n"
    "※［＃「てへん＋劣」、U+6318、12-3］と※［＃二の字点、1-2-22］。\n"
    "［＃３字下げ］本文［＃地付き］終［＃地から２字上げ］終\n"
    "［＃ここから２字下げ］\n字下げの中《なか》の行。\n［＃ここで字下げ終わり］\n"
    "［＃罫囲み］\n囲みの中。\n［＃罫囲み終わり］\n"
    "［＃ここから地から１字上げ］\n上げた行。\n［＃ここで地付き終わり］\n"
    "見出し［＃「見出し」は大見出し］。読［＃レ］書［＃一］む［＃二］。\n"
    "前［＃割り注］割注の中身［＃割り注終わり］後。［＃挿絵（fig01.png）入る］\n"
    "〔cafe'〕と〔Ame'lie〕の話。「引用《いんよう》の中」は文字のまま。［＃ほげ］\n"
    "［＃改ページ］\n［＃改段］\n"
    "　罫線の前の行\n----------\n\n"
)


# ---------------------------------------------------------------------------------------------
# Inputs


def read_books(corpus: Path) -> list[tuple[str, str]]:
    files = sorted(corpus.glob("*.txt")) if corpus.is_dir() else []
    books = []
    for p in files:
        text = p.read_text(encoding="utf-8")
        books.append((p.stem, text if text.endswith("\n") else text + "\n"))
    return books


def repeat_to(unit: str, size: int) -> str:
    """`unit` repeated and cut at the last line end within `size` UTF-8 bytes."""
    raw = unit.encode("utf-8")
    data = raw * (size // len(raw) + 1)
    cut = data.rfind(b"\n", 0, size) + 1
    return data[: cut or size].decode("utf-8")


def inputs(books: list[tuple[str, str]]) -> list[tuple[str, str]]:
    """(name, text) for every input, in table order."""
    out = [(f"book {name}", text) for name, text in books]
    if books:
        concatenated = "".join(text for _, text in books)
        out += [(f"corpus {mb} MB", repeat_to(concatenated, mb * MB)) for mb in SCALES]
        name, largest = max(books, key=lambda b: len(b[1].encode("utf-8")))
        out += [(f"{name} {mb} MB", repeat_to(largest, mb * MB)) for mb in SCALES]
    out.append((f"plain {SYNTHETIC_MB} MB", repeat_to(PLAIN_UNIT, SYNTHETIC_MB * MB)))
    out.append((f"dense {SYNTHETIC_MB} MB", repeat_to(DENSE_UNIT, SYNTHETIC_MB * MB)))
    return out


def fresh(s: str) -> str:
    """A new str object equal to `s`, without the UTF-8 form CPython may have cached on `s`."""
    return (s + "\n")[:-1]


# ---------------------------------------------------------------------------------------------
# Modules


def load_module(build: Path, alias: str | None = None):
    """The yomika_py module built in `build`; under another package name when `alias` is given,
    so that two builds can be measured in one process."""
    found = sorted(build.glob("yomika_py*.so")) + sorted(build.glob("yomika_py*.pyd"))
    if not found:
        sys.exit(f"no yomika_py module in {build}")
    name = f"{alias}.yomika_py" if alias else "yomika_py"
    loader = importlib.machinery.ExtensionFileLoader(name, str(found[0]))
    spec = importlib.util.spec_from_file_location(name, found[0], loader=loader)
    module = importlib.util.module_from_spec(spec)
    loader.exec_module(module)
    return module


# ---------------------------------------------------------------------------------------------
# Figure 2: calls against the floor

CALLS = ("parse_to_html", "to_html", "nodes", "pairs", "serialize")


def call_table(modules: dict, items: list[tuple[str, str]], rounds: int) -> list[dict]:
    """Best seconds per input for the floors and for every call of every module (label -> module).
    The modules are measured in the same rounds, call after call, so that a disturbance of the
    machine touches them alike."""
    rows = []
    first = next(iter(modules.values()))
    for name, text in items:
        size = len(text.encode("utf-8"))
        batch = max(1, BATCH_BYTES // size)
        outputs = {
            "html": first.parse_to_html(text).encode("utf-8"),
            "nodes": first.Document(text).nodes().encode("utf-8"),
            "pairs": first.Document(text).pairs().encode("utf-8"),
            "serialize": first.Document(text).serialize().encode("utf-8"),
        }

        def floor(out: bytes):
            def run(sources):
                for s in sources:
                    s.encode("utf-8")
                    out.decode("utf-8")

            return run

        def each(fn):
            def run(sources):
                for s in sources:
                    fn(s)

            return run

        timed = {
            "floor": floor(outputs["html"]),
            "floor nodes": floor(outputs["nodes"]),
            "floor pairs": floor(outputs["pairs"]),
            "floor serialize": floor(outputs["serialize"]),
        }
        for label, module in modules.items():
            Document = module.Document
            timed[f"{label}:parse_to_html"] = each(module.parse_to_html)
            timed[f"{label}:to_html"] = each(lambda s, D=Document: D(s).to_html())
            timed[f"{label}:nodes"] = each(lambda s, D=Document: D(s).nodes())
            timed[f"{label}:pairs"] = each(lambda s, D=Document: D(s).pairs())
            timed[f"{label}:serialize"] = each(lambda s, D=Document: D(s).serialize())
        best = {key: float("inf") for key in timed}
        for _ in range(rounds):
            for key, run in timed.items():
                sources = [fresh(text) for _ in range(batch)]
                gc.collect()
                t0 = time.perf_counter()
                run(sources)
                best[key] = min(best[key], time.perf_counter() - t0)
                del sources
        rows.append({"input": name, "bytes": size * batch, "seconds": best})
    return rows


def format_call_table(rows: list[dict], label: str) -> list[str]:
    head = (
        "| input | floor MB/s | parse_to_html MB/s | × floor | to_html × floor | nodes × floor | pairs × floor "
        "| serialize × floor |"
    )
    lines = [head, "|" + "---|" * 8]
    for r in rows:
        s, mb = r["seconds"], r["bytes"] / 1e6
        call = lambda name: s[f"{label}:{name}"]  # noqa: E731
        lines.append(
            f"| {r['input']} | {mb / s['floor']:.0f} | {mb / call('parse_to_html'):.0f} "
            f"| {call('parse_to_html') / s['floor']:.2f} | {call('to_html') / s['floor']:.2f} "
            f"| {call('nodes') / s['floor nodes']:.2f} | {call('pairs') / s['floor pairs']:.2f} "
            f"| {call('serialize') / s['floor serialize']:.2f} |"
        )
    books = [r for r in rows if r["input"].startswith("book ")]
    if books:
        # Each call against its own floor, and its time against parse_to_html's on the same book
        # (a report whose output is ASCII has a floor of little more than the encode).
        lines += ["", "One document per book:", ""]
        lines += ["| call | × floor, median book | × floor, worst book | × parse_to_html's time, worst book |",
                  "|---|---|---|---|"]
        for name, floor in (("parse_to_html", "floor"), ("nodes", "floor nodes"), ("pairs", "floor pairs"),
                            ("serialize", "floor serialize")):
            ratios = sorted(r["seconds"][f"{label}:{name}"] / r["seconds"][floor] for r in books)
            against = max(r["seconds"][f"{label}:{name}"] / r["seconds"][f"{label}:parse_to_html"] for r in books)
            lines.append(f"| {name} | {statistics.median(ratios):.2f} | {ratios[-1]:.2f} | {against:.2f} |")
    return lines


# ---------------------------------------------------------------------------------------------
# Figure 3: scaling


def format_scaling(rows: list[dict], label: str) -> list[str]:
    per_byte = lambda r, k: r["seconds"][k] / r["bytes"] * 1e9  # noqa: E731
    call = f"{label}:parse_to_html"
    lines = ["| input | parse_to_html ns/byte | × at 1 MB | floor ns/byte | × at 1 MB |", "|---|---|---|---|---|"]
    # Rows of one scaled text are named "<text> <size> MB" and come in order of size.
    groups: dict[str, list[dict]] = {}
    for r in rows:
        words = r["input"].split()
        if len(words) == 3 and words[2] == "MB" and words[0] not in ("book", "plain", "dense"):
            groups.setdefault(words[0], []).append(r)
    if not groups:
        return ["(no corpus: nothing to scale)"]
    for scaled in groups.values():
        base = scaled[0]
        for r in scaled:
            lines.append(
                f"| {r['input']} | {per_byte(r, call):.2f} "
                f"| {per_byte(r, call) / per_byte(base, call):.2f} "
                f"| {per_byte(r, 'floor'):.2f} | {per_byte(r, 'floor') / per_byte(base, 'floor'):.2f} |"
            )
    return lines


# ---------------------------------------------------------------------------------------------
# Figure 4: peak memory, measured in a fresh process

PEAK_SCRIPT = r"""
import ctypes, gc, json, re, sys
from pathlib import Path
sys.path.insert(0, {bench!r})
import suite
module = suite.load_module(Path({build!r}), {alias!r})
books = suite.read_books(Path({corpus!r}))
text = suite.repeat_to("".join(t for _, t in books), {size})
size = len(text.encode("utf-8"))
del books
gc.collect()
try:
    ctypes.CDLL("libc.so.6").malloc_trim(0)  # what was freed goes back: the call pays for its pages
except OSError:
    pass

def status(key):
    return int(re.search(key + r":\s+(\d+) kB", Path("/proc/self/status").read_text()).group(1)) * 1024

try:
    Path("/proc/self/clear_refs").write_text("5")  # the high-water mark restarts here
    reset = True
except OSError:
    reset = False
before = status("VmRSS")
html = module.parse_to_html(text)
print(json.dumps({{"size": size, "before": before, "peak": status("VmHWM"), "reset": reset}}))
"""


def peak_memory(build: Path, alias: str | None, corpus: Path) -> dict | None:
    if not Path("/proc/self/status").exists():
        return None
    script = PEAK_SCRIPT.format(bench=str(ROOT / "bench"), build=str(build), alias=alias, corpus=str(corpus), size=SCALES[-1] * MB)
    done = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, check=False)
    if done.returncode != 0:
        print(done.stderr, file=sys.stderr)
        return None
    return json.loads(done.stdout)


def format_peak(peak: dict | None) -> list[str]:
    if peak is None:
        return ["(not measured: needs /proc/self/status and the corpus)"]
    above = peak["peak"] - peak["before"]
    note = "" if peak["reset"] else " (high-water mark not resettable: includes building the text)"
    return [
        f"parse_to_html on {peak['size'] / 1e6:.1f} MB of UTF-8: peak resident {above / 1e6:.1f} MB above the "
        f"{peak['before'] / 1e6:.1f} MB before the call = **{above / peak['size']:.2f} × the source's UTF-8 size**{note}"
    ]


# ---------------------------------------------------------------------------------------------
# Figure 1: the C++ core


def core_figures(build: Path, corpus: Path) -> list[str]:
    for name in ("bench_stages", "bench_pipeline"):
        exe = build / name
        if exe.exists():
            done = subprocess.run([str(exe), str(corpus)], capture_output=True, text=True, check=False)
            return [f"`{name}`:", "", "```", done.stdout.rstrip(), "```"]
    return [f"(no bench_stages or bench_pipeline in {build})"]


def book_figures(builds: dict[str, Path], corpus: Path, rounds: int) -> dict[str, dict[str, dict]] | None:
    """Per build label, per book: bytes, nodes, and the best seconds per document of memcpy, HTML,
    nodes and serialize over `rounds` runs of each build's bench_books, the builds taking turns."""
    exes = {label: build / "bench_books" for label, build in builds.items() if (build / "bench_books").exists()}
    if not exes:
        return None
    best: dict[str, dict[str, dict]] = {label: {} for label in exes}
    for _ in range(rounds):
        for label, exe in exes.items():
            done = subprocess.run([str(exe), str(corpus), "--tsv"], capture_output=True, text=True, check=False)
            for line in done.stdout.splitlines():
                name, size, nodes, pairs, *seconds = line.split("\t")
                row = best[label].setdefault(name, {"bytes": int(size), "nodes": int(nodes), "pairs": int(pairs),
                                                    "memcpy": 1e9, "html": 1e9, "nodes_json": 1e9, "serialize": 1e9})
                for key, value in zip(("memcpy", "html", "nodes_json", "serialize"), seconds):
                    row[key] = min(row[key], float(value))
    return best


def format_book_figures(books: dict[str, dict]) -> list[str]:
    lines = ["| book | MB | nodes | pairs | HTML MB/s | nodes MB/s | serialize MB/s |", "|---|---|---|---|---|---|---|"]
    for name, r in books.items():
        mb = r["bytes"] / 1e6
        lines.append(f"| {name} | {mb:.2f} | {r['nodes']} | {r['pairs']} | {mb / r['html']:.0f} "
                     f"| {mb / r['nodes_json']:.0f} | {mb / r['serialize']:.0f} |")
    total = sum(r["bytes"] for r in books.values()) / 1e6
    densest_name, densest = max(books.items(), key=lambda kv: kv[1]["nodes"] / kv[1]["bytes"])
    lines += [
        "",
        f"All books, source to HTML: **{total / sum(r['html'] for r in books.values()):.0f} MB/s** (total bytes over "
        f"total best times); nodes {total / sum(r['nodes_json'] for r in books.values()):.0f} MB/s, serialize "
        f"{total / sum(r['serialize'] for r in books.values()):.0f} MB/s. Densest book ({densest_name}, "
        f"{densest['nodes'] / densest['bytes'] * 1000:.1f} nodes per KB): **{densest['bytes'] / 1e6 / densest['html']:.0f} MB/s** to HTML.",
    ]
    return lines


# ---------------------------------------------------------------------------------------------
# Figure 5: the converter's e-book


def epub_figure(build: Path, books: list[tuple[str, str]], rounds: int) -> list[str]:
    """Times the EPUB of the largest book with the converter of this checkout and the helper
    module of `build` (in a fresh process, so that the build's modules are the ones loaded)."""
    if not books:
        return ["(no corpus: no book to make an e-book of)"]
    name, text = max(books, key=lambda b: len(b[1].encode("utf-8")))
    script = f"""
import importlib.machinery, importlib.util, sys, time
from pathlib import Path
sys.path.insert(0, {str(ROOT / "python")!r})
for name, pattern in (("yomika_py", "yomika_py*.so"), ("yomika_cli._native", "yomika_cli/_native*.so")):
    found = sorted(Path({str(build)!r}).glob(pattern))[0]
    loader = importlib.machinery.ExtensionFileLoader(name, str(found))
    module = importlib.util.module_from_spec(importlib.util.spec_from_file_location(name, found, loader=loader))
    loader.exec_module(module)
    sys.modules[name] = module
from yomika_cli.epub import build_epub
text = sys.stdin.read()
best = size = None
for _ in range({rounds}):
    start = time.perf_counter()
    size = len(build_epub(text, "x", 0)[0])
    best = min(best or 1e9, time.perf_counter() - start)
print(best, size)
"""
    done = subprocess.run([sys.executable, "-c", script], input=text, capture_output=True, text=True, encoding="utf-8",
                          check=False)
    if done.returncode != 0:
        return [f"(not measured: {done.stderr.strip().splitlines()[-1] if done.stderr.strip() else 'failed'})"]
    seconds, size = done.stdout.split()
    mb = len(text.encode("utf-8")) / 1e6
    return [f"EPUB of {name} ({mb:.2f} MB of text, the largest book): **{float(seconds):.3f} s**, "
            f"{int(size) / 1e6:.2f} MB of e-book (best of {rounds})"]


# ---------------------------------------------------------------------------------------------
# The machine


def machine() -> str:
    model, cores = platform.processor() or platform.machine(), os.cpu_count()
    try:
        lscpu = subprocess.run(["lscpu"], capture_output=True, text=True, check=False).stdout
        found = re.search(r"Model name:\s*(.+)", lscpu)
        if found:
            model = found.group(1).strip()
    except OSError:
        pass
    return f"{model}, {cores} cores, Python {platform.python_version()} ({platform.python_implementation()}), {platform.system()} {platform.release()}"


# ---------------------------------------------------------------------------------------------


def module_report(label: str, heading: str, rows: list[dict], peak: dict | None, rounds: int) -> list[str]:
    return [
        f"### {heading}",
        "",
        "Calls against the floor (encode the source, decode the call's output), best of "
        f"{rounds} rounds; MB/s of source:",
        "",
        *format_call_table(rows, label),
        "",
        "Scaling (time per byte, the corpus and the largest book repeated):",
        "",
        *format_scaling(rows, label),
        "",
        "Peak memory:",
        "",
        *format_peak(peak),
        "",
    ]


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build", type=Path, required=True)
    parser.add_argument("--baseline", type=Path)
    parser.add_argument("--baseline-name", help="what the baseline build is, for the report's heading")
    parser.add_argument("--corpus", type=Path, default=ROOT / ".." / "shared" / "corpus")
    parser.add_argument("--rounds", type=int, default=7)
    parser.add_argument("--no-write", action="store_true", help="print only; leave bench/RESULTS.md alone")
    args = parser.parse_args()
    build, corpus = args.build.resolve(), args.corpus.resolve()

    started = time.perf_counter()
    books = read_books(corpus)
    if not books:
        print(f"corpus folder {corpus} not found or empty: measuring the synthetic texts only\n")
    items = inputs(books)

    report = [
        "# Benchmark results",
        "",
        f"Latest `make bench`, {datetime.date.today().isoformat()}, on {machine()}.",
        "",
        "Figures 2 to 4: the Python module. The floor is what any str-to-str converter pays at the "
        "least: `s.encode(\"utf-8\")` plus `.decode(\"utf-8\")` of the call's output bytes, on a fresh "
        "str each call. \"× floor\" below 1.00 is faster than that round trip alone.",
        "",
    ]
    modules = {"this build": load_module(build)}
    if args.baseline:
        modules["baseline"] = load_module(args.baseline.resolve(), "yomika_baseline")
    rows = call_table(modules, items, args.rounds)
    have_corpus = bool(books)
    report += module_report("this build", "this build", rows, peak_memory(build, None, corpus) if have_corpus else None, args.rounds)
    if args.baseline:
        peak = peak_memory(args.baseline.resolve(), "yomika_baseline", corpus) if have_corpus else None
        name = args.baseline_name or str(args.baseline)
        report += module_report("baseline", f"baseline ({name}), measured in the same rounds", rows, peak, args.rounds)
    report += ["## Figure 1: the C++ core per stage", "", *core_figures(build, corpus), ""]
    builds = {"this build": build}
    if args.baseline:
        builds["baseline"] = args.baseline.resolve()
    per_book = book_figures(builds, corpus, max(1, args.rounds // 2)) if have_corpus else None
    if per_book:
        report += ["## Figure 1b: the C++ core, one document per book", ""]
        for label, books_of in per_book.items():
            heading = label if label == "this build" else f"baseline ({args.baseline_name or args.baseline}), run in turn with this build"
            report += [f"### {heading}", "", *format_book_figures(books_of), ""]
    report += ["## Figure 5: the converter's e-book", "", *epub_figure(build, books, args.rounds), ""]
    report.append(f"(suite ran in {time.perf_counter() - started:.0f} s)")

    text = "\n".join(report) + "\n"
    print(text)
    if not args.no_write:
        (ROOT / "bench" / "RESULTS.md").write_text(text, encoding="utf-8")
    return 0


if __name__ == "__main__":
    sys.exit(main())
