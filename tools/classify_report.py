"""Runs every text of a folder (default ../shared/corpus) through yomika_py and reports how many
constructs of each kind were recognised and which shapes of ［＃…］ notes stayed verbatim, so that
a missing rule shows up as a frequent shape.

    PYTHONPATH=<build dir> python tools/classify_report.py [folder] [--top N]

A note's shape is its text with every quoted target written 「…」 and every run of digits #.
"""

from __future__ import annotations

import argparse
import collections
import html
import json
import re
import sys
import time
from pathlib import Path

import yomika_py

VERBATIM = re.compile(r'<span class="yomika-annotation" hidden>(.*?)</span>', re.S)


def shape(raw: str) -> str:
    raw = re.sub(r"「[^」]*」", "「…」", raw)
    return re.sub(r"[0-9０-９]+", "#", raw)


def main() -> int:
    default = Path(__file__).resolve().parents[1] / ".." / "shared" / "corpus"
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder", nargs="?", type=Path, default=default)
    ap.add_argument("--top", type=int, default=15)
    args = ap.parse_args()

    texts = sorted(args.folder.glob("*.txt"))
    if not texts:
        print(f"no texts in {args.folder}", file=sys.stderr)
        return 1
    kinds: collections.Counter[str] = collections.Counter()
    shapes: collections.Counter[str] = collections.Counter()
    total_bytes, total_time = 0, 0.0
    for path in texts:
        source = path.read_text(encoding="utf-8")
        start = time.perf_counter()
        doc = yomika_py.Document(source)
        found = json.loads(doc.nodes())["data"]
        out = doc.to_html()
        total_time += time.perf_counter() - start
        total_bytes += doc.source_byte_len()
        here = collections.Counter(n["kind"] for n in found)
        kinds.update(here)
        # Verbatim notes, including those nested in readings; warichu markers render differently.
        shapes.update(shape(html.unescape(raw)) for raw in VERBATIM.findall(out))
        print(f"{path.name}: {sum(here.values())} nodes, " + ", ".join(f"{k} {v}" for k, v in here.most_common()))

    print(f"\n{len(texts)} texts, {total_bytes / 1e6:.1f} MB, {total_time:.2f} s (nodes + HTML)")
    print("\nnode kinds:")
    for kind, count in kinds.most_common():
        print(f"  {kind:16} {count}")
    print(f"\nverbatim notes: {sum(shapes.values())} in {len(shapes)} shapes; most common:")
    for s, count in shapes.most_common(args.top):
        print(f"  {count:6}  {s}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
