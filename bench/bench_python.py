"""parse_to_html through the Python module, beside the cheapest possible round trip of the same
data: encoding the source to UTF-8 and decoding a UTF-8 buffer as long as the HTML. Every timed
call gets a str object of its own, because CPython caches a str's UTF-8 form and a repeated
object would skip the encoding that a real caller pays for.

Usage: PYTHONPATH=<build dir> python bench/bench_python.py [corpus-dir]
(default: ../shared/corpus beside the repository)"""

from __future__ import annotations

import sys
import time
from pathlib import Path

import yomika_py

MIN_BYTES = 8 << 20
RUNS = 7


def fresh(s: str) -> str:
    # A new object with equal contents and no cached UTF-8 form.
    return (s + "\n")[:-1]


def best_seconds(make_args, fn) -> float:
    best = float("inf")
    for _ in range(RUNS):
        args = make_args()
        t0 = time.perf_counter()
        fn(*args)
        best = min(best, time.perf_counter() - t0)
    return best


def main() -> int:
    root = Path(__file__).resolve().parents[1]
    corpus = Path(sys.argv[1]) if len(sys.argv) > 1 else root / ".." / "shared" / "corpus"
    files = sorted(corpus.glob("*.txt")) if corpus.is_dir() else []
    if not files:
        print(f"corpus folder {corpus} not found or empty; nothing to measure")
        return 0
    books = [p.read_text(encoding="utf-8") for p in files]
    books = [b if b.endswith("\n") else b + "\n" for b in books]
    one = "".join(books)
    copies = -(-MIN_BYTES // len(one.encode("utf-8")))
    text = one * copies
    mb = len(text.encode("utf-8")) / 1e6
    html_bytes = yomika_py.parse_to_html(text).encode("utf-8")
    book_html = [yomika_py.parse_to_html(b).encode("utf-8") for b in books]
    print(f"corpus: {len(files)} files, {mb:.1f} MB of UTF-8; HTML {len(html_bytes) / 1e6:.1f} MB\n")

    def baseline(s: str, html: bytes) -> None:
        s.encode("utf-8")
        html.decode("utf-8")

    def books_parse(docs: list[str]) -> None:
        for d in docs:
            yomika_py.parse_to_html(d)

    def books_baseline(docs: list[str]) -> None:
        for d, h in zip(docs, book_html * copies):
            d.encode("utf-8")
            h.decode("utf-8")

    rows = [
        ("encode + decode (baseline)", best_seconds(lambda: (fresh(text), html_bytes), baseline)),
        ("parse_to_html", best_seconds(lambda: (fresh(text),), yomika_py.parse_to_html)),
        ("baseline, one doc per book", best_seconds(lambda: ([fresh(b) for b in books * copies],), books_baseline)),
        ("parse_to_html, one doc per book", best_seconds(lambda: ([fresh(b) for b in books * copies],), books_parse)),
    ]
    print(f"{'call':34} {'ms':>9} {'MB/s':>9} {'x baseline':>11}")
    for i, (name, sec) in enumerate(rows):
        base = rows[i - i % 2][1]
        print(f"{name:34} {sec * 1e3:9.2f} {mb / sec:9.1f} {sec / base:11.1f}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
