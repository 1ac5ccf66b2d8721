"""Gaiji tables: the committed generated source matches its generator, every JIS X 0213 cell and
every description row resolves through the module."""

import importlib.util
from pathlib import Path

import pytest

import yomika_py

ROOT = Path(__file__).resolve().parents[2]
TSV = ROOT / "src" / "yomika" / "syntax" / "gaiji_descriptions.tsv"


def load_generator():
    spec = importlib.util.spec_from_file_location("gen_gaiji_tables", ROOT / "tools" / "gen_gaiji_tables.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def code_points(text: str) -> str:
    return " ".join(f"U+{ord(ch):04X}" for ch in text)


def resolved(text: str) -> str:
    return f'<span class="yomika-gaiji" data-codepoint="{code_points(text)}">{text}</span>'


def test_committed_tables_match_the_generator():
    gen = load_generator()
    assert gen.OUTPUT.read_text(encoding="utf-8") == gen.render()


def test_generator_keeps_the_cells_the_standard_adds():
    plane1, pairs, plane2 = load_generator().collect()
    assert (len(plane1), len(pairs), len(plane2)) == (1893, 25, 2436)
    assert {(r, c) for r, c, _ in plane1}.isdisjoint((r, c) for r, c, _ in pairs)


@pytest.mark.parametrize("plane", ["plane1", "pairs", "plane2"])
def test_every_cell_resolves_by_its_mention(plane):
    plane1, pairs, plane2 = load_generator().collect()
    cells, level, number = {"plane1": (plane1, 3, 1), "pairs": (pairs, 3, 1), "plane2": (plane2, 4, 2)}[plane]
    # The description is two characters, so a missed mention shows up as an unresolved gaiji.
    source = "".join(f"※［＃「ほげ」、第{level}水準{number}-{r}-{c}］" for r, c, _ in cells)
    expected = "<p>" + "".join(resolved(text) for _, _, text in cells) + "</p>\n"
    assert yomika_py.parse_to_html(source) == expected


def description_rows():
    rows = []
    for line in TSV.read_text(encoding="utf-8").splitlines():
        if line and not line.startswith("#"):
            description, value = line.split("\t")
            rows.append((description, chr(int(value.removeprefix("U+"), 16))))
    return rows


@pytest.mark.parametrize("description, char", description_rows())
def test_every_description_row_resolves(description, char):
    for source in (f"※［＃「{description}」］", f"※［＃{description}、1-1］"):
        assert yomika_py.parse_to_html(source) == f"<p>{resolved(char)}</p>\n"
