"""Converts a notation text (by default the bundled sample) with the yomika converter into what a
reader opens: build/demo/<name>.html (horizontal writing), build/demo/<name>-vertical.html
(vertical writing) and build/demo/<name>.epub (an e-book, vertical)."""

import sys
from pathlib import Path

import yomika_cli

ROOT = Path(__file__).resolve().parent.parent
source = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "examples" / "sample.txt"
out = ROOT / "build" / "demo"
status = 0
for name, options in ((f"{source.stem}.html", []), (f"{source.stem}-vertical.html", ["--vertical"]),
                      (f"{source.stem}.epub", ["--to", "epub"])):
    target = out / name
    if yomika_cli.main([*options, str(source), "-o", str(target)]) == 0:
        print(f"wrote {target.relative_to(ROOT) if target.is_relative_to(ROOT) else target}")
    else:
        status = 1
print("open the pages in a browser and the e-book in a reader; `yomika --help` shows what else the converter does")
sys.exit(status)
