"""Measures, book by book, how much of the notation a reader would still see as raw marks in
parse_to_html's output, and whether each fragment is well formed.

    PYTHONPATH=<build dir> python tools/corpus_fidelity.py [folder] [--check]

For every text of the folder (default ../shared/corpus), one document per book:
  raw ruby    non-empty 《…》 marks still visible as text (outside <rt> and hidden notes), as a
              share of the non-empty 《…》 marks of the source;
  found       ※［＃ references that became special-character elements, as a share of the
              references in the source;
  unresolved  references whose character no rule could name, as a share of the references;
  well formed every element, container divs included, closes in the order it opened.

With --check the exit status is 1 when a book misses the targets (raw ruby at most 1.5 % overall
and 4 % in every book, at least 98 % of references found, at most 5 % unresolved, every fragment
well formed).
"""

from __future__ import annotations

import argparse
import html.parser
import re
import sys
from pathlib import Path

import yomika_py

RUBY_MARK = re.compile(r"《(?!《)[^《》\n]+》")
REFERENCE = "※［＃"
GAIJI = re.compile(r'<span class="yomika-gaiji" data-(codepoint|description)=')
VOID = {"br"}
HIDDEN_CLASSES = {"yomika-annotation"}


class Fragment(html.parser.HTMLParser):
    """Collects the visible text of a fragment and checks that its elements nest."""

    def __init__(self) -> None:
        super().__init__(convert_charrefs=True)
        self.stack: list[str] = []
        self.hidden_depth = 0  # elements open inside <rt> or a hidden note
        self.visible: list[str] = []
        self.fault = ""

    def handle_starttag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag in VOID:
            return
        self.stack.append(tag)
        classes = set((dict(attrs).get("class") or "").split())
        if self.hidden_depth or tag == "rt" or classes & HIDDEN_CLASSES:
            self.hidden_depth += 1

    def handle_startendtag(self, tag: str, attrs: list[tuple[str, str | None]]) -> None:
        if tag not in VOID and not self.fault:
            self.fault = f"<{tag} /> is not a void element"

    def handle_endtag(self, tag: str) -> None:
        if tag in VOID:
            return
        if not self.stack or self.stack[-1] != tag:
            if not self.fault:
                top = self.stack[-1] if self.stack else "nothing"
                self.fault = f"</{tag}> closes {top} at line {self.getpos()[0]}"
            return
        self.stack.pop()
        if self.hidden_depth:
            self.hidden_depth -= 1

    def handle_data(self, data: str) -> None:
        if not self.hidden_depth:
            self.visible.append(data)

    def finish(self) -> str:
        self.close()
        if not self.fault and self.stack:
            self.fault = f"{len(self.stack)} element(s) left open: {' '.join(self.stack[-3:])}"
        return self.fault


def measure(text: str) -> dict[str, object]:
    out = yomika_py.parse_to_html(text)
    frag = Fragment()
    frag.feed(out)
    fault = frag.finish()
    visible = "".join(frag.visible)
    gaiji = GAIJI.findall(out)
    return {
        "bytes": len(text.encode("utf-8")),
        "ruby": len(RUBY_MARK.findall(text)),
        "raw_ruby": len(RUBY_MARK.findall(visible)),
        "references": text.count(REFERENCE),
        "found": len(gaiji),
        "unresolved": sum(1 for kind in gaiji if kind == "description"),
        "fault": fault,
    }


def share(part: int, whole: int) -> float:
    return 100.0 * part / whole if whole else 0.0


def main() -> int:
    default = Path(__file__).resolve().parents[1] / ".." / "shared" / "corpus"
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("folder", nargs="?", type=Path, default=default)
    ap.add_argument("--check", action="store_true", help="exit 1 when a target is missed")
    args = ap.parse_args()

    books = sorted(args.folder.glob("*.txt"))
    if not books:
        print(f"no texts in {args.folder}", file=sys.stderr)
        return 2
    rows = [(p.stem, measure(p.read_text(encoding="utf-8"))) for p in books]
    total = {k: sum(int(r[k]) for _, r in rows) for k in ("bytes", "ruby", "raw_ruby", "references", "found", "unresolved")}

    print("| book | MB | 《…》 | raw ruby | ※［＃ | found | unresolved | well formed |")
    print("|---|---|---|---|---|---|---|---|")
    for name, r in rows + [("all", {**total, "fault": ""})]:
        print(
            f"| {name} | {int(r['bytes']) / 1e6:.2f} | {r['ruby']} | {share(int(r['raw_ruby']), int(r['ruby'])):.1f} % "
            f"| {r['references']} | {share(int(r['found']), int(r['references'])):.1f} % "
            f"| {share(int(r['unresolved']), int(r['references'])):.1f} % | {r['fault'] or 'yes'} |"
        )

    missed = []
    if share(total["raw_ruby"], total["ruby"]) > 1.5:
        missed.append("raw ruby over 1.5 % overall")
    for name, r in rows:
        if share(int(r["raw_ruby"]), int(r["ruby"])) > 4.0:
            missed.append(f"{name}: raw ruby over 4 %")
        if r["fault"]:
            missed.append(f"{name}: fragment not well formed ({r['fault']})")
    if share(total["found"], total["references"]) < 98.0:
        missed.append("fewer than 98 % of references found")
    if share(total["unresolved"], total["references"]) > 5.0:
        missed.append("more than 5 % of references unresolved")
    for m in missed:
        print(f"missed: {m}", file=sys.stderr)
    return 1 if args.check and missed else 0


if __name__ == "__main__":
    sys.exit(main())
