"""Prints the HTML of a notation text (by default the bundled sample)."""

import sys
from pathlib import Path

import yomika_py

path = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parent.parent / "examples" / "sample.txt"
sys.stdout.write(yomika_py.parse_to_html(path.read_text(encoding="utf-8")))
