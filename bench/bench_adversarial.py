"""Adversarial benchmark: every generator of bench/adversarial.py at 1 MB of UTF-8, its time per
byte against that of the real texts in the same run, and whether it stays within 10 times.

Each text is timed as a Document built and asked for all five outputs (to_html, serialize, nodes,
pairs, diagnostics), the work a caller does who wants everything. The reference is each book of
../shared/corpus as its own document (the books concatenated into one would leave few constructs:
an unclosed 「 keeps the rest of a document as text), all books together divided by their bytes;
without the corpus, the sample text of examples/ repeated to 1 MB stands in and the table says so.
Every figure is the best of --rounds rounds, and the corpus is timed in every round next to the
generators, so a busy machine slows both sides of each ratio.

With --memory, it measures instead the peak memory of one parse of each text (bench_parse_memory
of the build, in a fresh process per text) as a multiple of the text's UTF-8 size, against
--memory-limit; --baseline OTHER_BUILD adds that build's column, measured in the same run.

Usage: python bench/bench_adversarial.py [--build DIR] [--corpus DIR] [--mb 1] [--rounds 3]
         [--limit 10] [--only NAME ...] [--memory [--memory-limit 8] [--baseline DIR]]
--build puts a build directory holding yomika_py first on the import path. Exits 1 when a
generator's time per byte exceeds --limit times the reference (or its memory --memory-limit).
"""

from __future__ import annotations

import argparse
import gc
import subprocess
import sys
import tempfile
import time
from pathlib import Path

ROOT = Path(__file__).resolve().parents[1]
MB = 1 << 20
OUTPUTS = ("to_html", "serialize", "nodes", "pairs", "diagnostics")


def all_outputs(yomika_py, text: str) -> float:
    """Seconds for one Document of text and all its outputs."""
    start = time.perf_counter()
    doc = yomika_py.Document(text)
    for name in OUTPUTS:
        getattr(doc, name)()
    elapsed = time.perf_counter() - start
    del doc
    return elapsed


def sized(adversarial, name: str, nbytes: int) -> str:
    """The generator's text at about nbytes of UTF-8 (the generators count characters)."""
    sample = adversarial.generate(name, 20_000)
    per_char = len(sample.encode("utf-8")) / max(1, len(sample))
    return adversarial.generate(name, max(16, int(nbytes / per_char)))


def reference_texts(corpus: Path, nbytes: int) -> tuple[str, list[str]]:
    books = [p.read_text(encoding="utf-8") for p in sorted(corpus.glob("*.txt"))] if corpus.is_dir() else []
    if books:
        return f"corpus ({len(books)} books, one document each)", books
    sample = (ROOT / "examples" / "sample.txt").read_text(encoding="utf-8")
    return "examples/sample.txt repeated (no corpus found)", [sample * max(1, nbytes // len(sample.encode("utf-8")))]


def parse_peaks(build: Path, texts: dict[str, str]) -> dict[str, float]:
    """Peak memory of one parse of each text, as a multiple of its UTF-8 size."""
    exe = build / "bench_parse_memory"
    if not exe.exists():
        sys.exit(f"no bench_parse_memory in {build}")
    peaks = {}
    with tempfile.TemporaryDirectory() as folder:
        for name, text in texts.items():
            path = Path(folder) / f"{name}.txt"
            path.write_text(text, encoding="utf-8")
            size, peak, _ = subprocess.run([str(exe), str(path)], capture_output=True, text=True, check=True).stdout.split()
            peaks[name] = int(peak) / int(size)
    return peaks


def memory_report(args, names: list[str], texts: dict[str, str]) -> int:
    build = (args.build or ROOT / "build" / "bench").resolve()
    columns = {"this build": parse_peaks(build, texts)}
    if args.baseline:
        columns["baseline"] = parse_peaks(args.baseline.resolve(), texts)
    print(f"peak memory of one parse (parse_document) above the text, as a multiple of its UTF-8 size; "
          f"limit {args.memory_limit:g}\n")
    header = f"{'generator':40} {'MB':>6} " + " ".join(f"{label:>12}" for label in columns) + "  verdict"
    print(header)
    print("-" * len(header))
    failed = []
    for name in names:
        size = len(texts[name].encode("utf-8"))
        mine = columns["this build"][name]
        verdict = "ok" if mine <= args.memory_limit else "OVER"
        if mine > args.memory_limit:
            failed.append(name)
        print(f"{name:40} {size / MB:6.2f} " + " ".join(f"{c[name]:12.2f}" for c in columns.values()) + f"  {verdict}")
    print()
    if failed:
        print(f"{len(failed)} of {len(names)} texts take more than {args.memory_limit:g} times their size: {', '.join(failed)}")
        return 1
    print(f"all {len(names)} texts within {args.memory_limit:g} times their size")
    return 0


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, help="directory holding the yomika_py module")
    parser.add_argument("--corpus", type=Path, default=ROOT / ".." / "shared" / "corpus")
    parser.add_argument("--mb", type=float, default=1.0, help="size of each adversarial text in MB")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--limit", type=float, default=10.0, help="allowed multiple of the reference time per byte")
    parser.add_argument("--only", nargs="*", help="generator names to run (default: all)")
    parser.add_argument("--memory", action="store_true", help="measure the peak memory of a parse instead")
    parser.add_argument("--memory-limit", type=float, default=8.0, help="allowed peak as a multiple of the text")
    parser.add_argument("--baseline", type=Path, help="another build's bench_parse_memory, for --memory")
    args = parser.parse_args()

    if args.build:
        sys.path.insert(0, str(args.build.resolve()))
    sys.path.insert(0, str(ROOT / "bench"))
    import adversarial  # noqa: E402
    import yomika_py  # noqa: E402

    nbytes = int(args.mb * MB)
    names = args.only or sorted(adversarial.GENERATORS)
    texts = {name: sized(adversarial, name, nbytes) for name in names}
    if args.memory:
        return memory_report(args, names, texts)
    ref_label, ref_texts = reference_texts(args.corpus.resolve(), nbytes)
    ref_bytes = sum(len(t.encode("utf-8")) for t in ref_texts)

    best_ref = float("inf")
    best = {name: float("inf") for name in names}
    for _ in range(args.rounds):
        gc.collect()
        best_ref = min(best_ref, sum(all_outputs(yomika_py, t) for t in ref_texts))
        for name in names:
            gc.collect()
            best[name] = min(best[name], all_outputs(yomika_py, texts[name]))

    ref_ns = best_ref / ref_bytes * 1e9
    print(f"yomika_py from {Path(yomika_py.__file__).parent}")
    print(f"reference: {ref_label}, {ref_bytes / MB:.2f} MB, {ref_ns:.1f} ns/byte (Document and all five outputs)")
    print(f"best of {args.rounds} rounds; limit {args.limit:g} times the reference\n")
    header = f"{'generator':40} {'MB':>6} {'seconds':>8} {'ns/byte':>8} {'x ref':>6}  verdict"
    print(header)
    print("-" * len(header))
    failed = []
    for name in names:
        size = len(texts[name].encode("utf-8"))
        ns = best[name] / size * 1e9
        ratio = ns / ref_ns
        verdict = "ok" if ratio <= args.limit else "TOO SLOW"
        if ratio > args.limit:
            failed.append(name)
        print(f"{name:40} {size / MB:6.2f} {best[name]:8.3f} {ns:8.1f} {ratio:6.2f}  {verdict}")
    print()
    if failed:
        print(f"{len(failed)} of {len(names)} generators exceed {args.limit:g} times the reference: {', '.join(failed)}")
        return 1
    print(f"all {len(names)} generators within {args.limit:g} times the reference")
    return 0


if __name__ == "__main__":
    sys.exit(main())
