"""Draws examples/slope.png, the picture of the bundled sample (a slope in the rain), with nothing
but the standard library, so that the sample's figure is ours and can be drawn again.

    python tools/draw_sample_picture.py
"""

from __future__ import annotations

import math
import struct
import zlib
from pathlib import Path

WIDTH, HEIGHT = 320, 200
OUTPUT = Path(__file__).resolve().parents[1] / "examples" / "slope.png"


def pixel(x: int, y: int) -> tuple[int, int, int]:
    # The slope rises from the left; a path climbs it; rain falls in thin slanted streaks.
    ground = 150 - 0.35 * x - 12 * math.sin(x / 40)
    path = ground + 14 + 0.08 * x
    if y > ground:
        if abs(y - path) < 3 + x / 160:
            return (196, 176, 140)
        shade = min(40, int((y - ground) / 2))
        return (92 - shade // 2, 122 - shade // 2, 88 - shade // 2)
    sky = 200 + int(30 * y / HEIGHT)
    if (x + 2 * y) % 23 == 0 and (x * 7 + y) % 5 < 3:
        return (150, 160, 175)
    return (sky - 20, sky - 10, sky)


def png(width: int, height: int) -> bytes:
    rows = b"".join(b"\0" + b"".join(bytes(pixel(x, y)) for x in range(width)) for y in range(height))

    def chunk(kind: bytes, data: bytes) -> bytes:
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))

    header = struct.pack(">IIBBBBB", width, height, 8, 2, 0, 0, 0)
    return b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) + chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b"")


if __name__ == "__main__":
    OUTPUT.write_bytes(png(WIDTH, HEIGHT))
    print(f"wrote {OUTPUT}")
