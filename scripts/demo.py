"""Converts a notation text (by default the bundled sample) into readable pages with the yomika
converter: build/demo/<name>.html in horizontal and build/demo/<name>-vertical.html in vertical
writing."""

import sys
from pathlib import Path

import yomika_cli

ROOT = Path(__file__).resolve().parent.parent
source = Path(sys.argv[1]) if len(sys.argv) > 1 else ROOT / "examples" / "sample.txt"
out = ROOT / "build" / "demo"
status = 0
for suffix, options in (("", []), ("-vertical", ["--vertical"])):
    page = out / f"{source.stem}{suffix}.html"
    if yomika_cli.main([*options, str(source), "-o", str(page)]) == 0:
        print(f"wrote {page.relative_to(ROOT) if page.is_relative_to(ROOT) else page}")
    else:
        status = 1
print("open them in a browser; `yomika --help` shows what else the converter does")
sys.exit(status)
