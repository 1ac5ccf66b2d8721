"""Shared helpers for the Python tests: how much memory the machine can still give."""

import subprocess
import sys
import textwrap

GIB = 1 << 30


def mem_available() -> int:
    """Bytes the kernel reports as available for new allocations (0 where unknown)."""
    try:
        with open("/proc/meminfo") as f:
            for line in f:
                if line.startswith("MemAvailable:"):
                    return int(line.split()[1]) * 1024
    except OSError:
        pass
    return 0


def run_python(code: str, timeout: float = 300) -> subprocess.CompletedProcess:
    """Runs a snippet in a fresh interpreter (for tests that limit or exhaust its memory)."""
    return subprocess.run(
        [sys.executable, "-c", textwrap.dedent(code)],
        capture_output=True,
        text=True,
        timeout=timeout,
    )
