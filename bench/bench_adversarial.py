"""Adversarial benchmark: every generator of bench/adversarial.py at 1 MB of UTF-8, its time per
byte against that of the real texts in the same run, and whether it stays within 10 times.

Each text is timed as a Document built and asked for all five outputs (to_html, serialize, nodes,
pairs, diagnostics), the work a caller does who wants everything. The reference is each book of
../shared/corpus as its own document (the books concatenated into one would leave few constructs:
an unclosed 「 keeps the rest of a document as text), all books together divided by their bytes;
without the corpus, the sample text of examples/ repeated to 1 MB stands in and the table says so.
Every figure is the best of --rounds rounds, and the corpus is timed in every round next to the
generators, so a busy machine slows both sides of each ratio.

Usage: python bench/bench_adversarial.py [--build DIR] [--corpus DIR] [--mb 1] [--rounds 3]
         [--limit 10] [--only NAME ...]
--build puts a build directory holding yomika_py first on the import path. Exits 1 when a
generator's time per byte exceeds --limit times the reference.
"""

from __future__ import annotations

import argparse
import gc
import sys
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


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", type=Path, help="directory holding the yomika_py module")
    parser.add_argument("--corpus", type=Path, default=ROOT / ".." / "shared" / "corpus")
    parser.add_argument("--mb", type=float, default=1.0, help="size of each adversarial text in MB")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--limit", type=float, default=10.0, help="allowed multiple of the reference time per byte")
    parser.add_argument("--only", nargs="*", help="generator names to run (default: all)")
    args = parser.parse_args()

    if args.build:
        sys.path.insert(0, str(args.build.resolve()))
    sys.path.insert(0, str(ROOT / "bench"))
    import adversarial  # noqa: E402
    import yomika_py  # noqa: E402

    nbytes = int(args.mb * MB)
    names = args.only or sorted(adversarial.GENERATORS)
    texts = {name: sized(adversarial, name, nbytes) for name in names}
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
