"""The progress bar of a run over several inputs, on standard error when that is a terminal."""

from __future__ import annotations

import os
import sys
import unicodedata


def _size(n: float) -> str:
    for unit in ("B", "kB", "MB"):
        if n < 1000:
            return f"{n:.0f} {unit}" if unit == "B" else f"{n:.1f} {unit}"
        n /= 1000
    return f"{n:.1f} GB"


def _fit(name: str, width: int) -> str:
    """The end of the name in at most `width` terminal cells (wide characters take two)."""
    cells = 0
    for i in range(len(name) - 1, -1, -1):
        cells += 2 if unicodedata.east_asian_width(name[i]) in "WF" else 1
        if cells > width - 1:
            return "…" + name[i + 1 :]
    return name


class Progress:
    """Files and bytes done and the file being converted, redrawn in place on one line; messages
    printed meanwhile wipe it first so that they start their own line. The last line says how
    many files converted and failed."""

    def __init__(self, names: list[str], sizes: list[int]):
        self.enabled = len(names) > 1 and sys.stderr.isatty()
        self.total, self.total_bytes = len(names), sum(sizes)
        self.done = self.done_bytes = 0
        self.current = ""
        self.shown = False

    def working_on(self, name: str) -> None:
        self.current = name
        self._draw()

    def finished(self, size: int) -> None:
        self.current = ""
        self.done += 1
        self.done_bytes += size
        self._draw()

    def clear(self) -> None:
        if self.shown:
            sys.stderr.write("\r\033[K")
            self.shown = False

    def summary(self, failed: int) -> None:
        if self.enabled:
            self._draw()
            sys.stderr.write(f"\n{self.done - failed} converted, {failed} failed\n")
            sys.stderr.flush()
            self.shown = False

    def _draw(self) -> None:
        if not self.enabled:
            return
        width = 30
        filled = width * self.done // self.total
        line = f"[{'#' * filled}{'.' * (width - filled)}] {self.done}/{self.total}"
        if self.total_bytes:
            line += f"  {_size(self.done_bytes)} of {_size(self.total_bytes)}"
        if self.current:
            try:
                columns = os.get_terminal_size(sys.stderr.fileno()).columns or 80
            except OSError:
                columns = 80
            line += "  " + _fit(self.current, max(columns - len(line) - 3, 10))
        sys.stderr.write("\r\033[K" + line)
        sys.stderr.flush()
        self.shown = True
