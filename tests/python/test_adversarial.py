"""Complexity guards: every adversarial pattern at a size where quadratic work would take minutes
and linear work well under a second. The limit is generous on purpose: this catches a change of
growth rate, not a slowdown."""

import sys
import time
from pathlib import Path

import pytest

sys.path.insert(0, str(Path(__file__).resolve().parents[2] / "bench"))
import adversarial  # noqa: E402

import yomika_py  # noqa: E402

SIZE = 1_000_000  # characters; quadratic work on this is ~10^12 steps
LIMIT = 20.0  # seconds for all outputs together


@pytest.mark.parametrize("name", sorted(adversarial.GENERATORS))
def test_adversarial_input_runs_in_linear_time(name):
    text = adversarial.generate(name, SIZE)
    start = time.perf_counter()
    doc = yomika_py.Document(text)
    html = doc.to_html()
    doc.serialize()
    doc.nodes()
    doc.pairs()
    doc.diagnostics()
    elapsed = time.perf_counter() - start
    assert elapsed < LIMIT, f"{name}: {elapsed:.1f} s for {len(text)} characters"
    assert html == yomika_py.parse_to_html(text)
