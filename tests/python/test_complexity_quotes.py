"""Complexity guards for quoted references: tens of thousands of distinct targets in a text of
several megabytes. Searching the text before every note anew is quadratic here (hundreds of
gigabytes of scanning: minutes even at memmem speed); the resolver must stay near linear. The limit is generous on
purpose: it catches a change of growth rate, not a slowdown."""

import json
import time

import pytest

import yomika_py

LIMIT = 30.0  # seconds per document
NOTES = 50_000
FILLER = "吾輩は猫である。名前はまだ無い。どこで生れたかとんと見当がつかぬ。\n" * 90_000  # ~9 MB


def target(i):
    # Starting with words of the text keeps a substring search from skipping ahead cheaply.
    return f"猫である{i:05x}"


def note(i):
    return f"［＃「{target(i)}」に傍点］"


def tail_notes():
    # Every other target occurs once, at the very start; all notes stand at the end.
    head = "".join(target(i) for i in range(0, NOTES, 2))
    return head + "\n" + FILLER + "".join(note(i) for i in range(NOTES)), NOTES, NOTES // 2


def spread_notes():
    # Notes spread through the text; none of their targets occurs anywhere before them.
    lines = FILLER.splitlines(keepends=True)
    step = max(1, len(lines) // NOTES)
    parts, count = [], 0
    for k, line in enumerate(lines):
        parts.append(line)
        if k % step == 0:
            parts.append(note(count))
            count += 1
    return "".join(parts), count, 0


def later_targets():
    # Each target first occurs right after its own note: found by a search, but only later.
    parts = [FILLER]
    for i in range(NOTES):
        parts.append(note(i) + target(i))
    return "".join(parts), NOTES, 0


def binary_targets_in_ascii():
    # A character per byte and targets numbered in binary, whose short runs all occur earlier: the
    # filters let them through and only the suffix index, built over the bytes within the
    # resolver's memory limit, keeps them from a scan each.
    filler = "The quick brown fox jumps over the lazy dog. " * 4 + "\n"
    parts = []
    for i in range(NOTES):
        parts.append(filler)
        parts.append(f"［＃「x{i:b}」に傍点］")
    return "".join(parts), NOTES, 0


@pytest.mark.parametrize(
    "make", [tail_notes, spread_notes, later_targets, binary_targets_in_ascii], ids=lambda f: f.__name__
)
def test_many_distinct_targets_stay_near_linear(make):
    source, notes, expected_bouten = make()
    assert len(source.encode()) > 8_000_000
    start = time.perf_counter()
    found = json.loads(yomika_py.Document(source).nodes())["data"]
    elapsed = time.perf_counter() - start
    kinds = [n["kind"] for n in found]
    assert kinds.count("bouten") == expected_bouten
    assert kinds.count("annotation") == notes - expected_bouten
    assert elapsed < LIMIT, f"{make.__name__}: {elapsed:.1f} s for {len(source)} characters"
