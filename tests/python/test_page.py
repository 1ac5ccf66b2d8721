"""The converter's page around the fragment: paragraphs with indented or end-aligned lines are cut
into one block per line without losing, repeating or mis-nesting anything, and the rules for the
amounts in use are added."""

import re
from html.parser import HTMLParser

import pytest

yomika_cli = pytest.importorskip("yomika_cli")
import yomika_py  # noqa: E402


class Reader(HTMLParser):
    """Collects the visible text and every nesting fault of a piece of HTML."""

    VOID = {"br", "meta"}

    def __init__(self, markup: str):
        super().__init__(convert_charrefs=True)
        self.open, self.faults, self.text, self.lines = [], [], [], []
        self.feed(markup)
        self.close()
        self.faults += self.open

    def handle_starttag(self, tag, attrs):
        if tag not in self.VOID:
            self.open.append(tag)
        if ("class", "yomika-line") in attrs:
            self.lines.append(dict(attrs))

    def handle_startendtag(self, tag, attrs):  # <br />
        self.handle_starttag(tag, attrs)

    def handle_endtag(self, tag):
        if not self.open or self.open.pop() != tag:
            self.faults.append(tag)

    def handle_data(self, data):
        self.text.append(data)


def main_of(page: str) -> str:
    return re.search(r'<main class="yomika-text">\n(.*)</main>', page, re.S).group(1)


@pytest.mark.parametrize(
    "source,lines",
    [
        ("本文\n［＃３字下げ］字下げ\n終わり", [{}, {"data-indent": "3"}, {}]),
        ("［＃地付き］署名\n［＃地から２字上げ］日付", [{"data-align-end": "0"}, {"data-align-end": "2"}]),
        ("［＃２字下げ］［＃地付き］両方", [{"data-indent": "2", "data-align-end": "0"}]),
        # A warichu note, with ruby inside, running over two lines: they stay one block.
        ("前［＃割り注］｜漢字《かんじ》の注\n続き《つづき》［＃割り注終わり］後\n［＃地付き］署名",
         [{}, {"data-align-end": "0"}]),
        ("［＃割り注］甲\n［＃地付き］乙\n［＃割り注］丙［＃割り注終わり］\n［＃２字下げ］丁", [{}]),
        ("一段落目\n\n［＃４字下げ］二段落目\n\n三段落目\n四行目", [{"data-indent": "4"}]),
        ("印のない段落\n二行目", []),
    ],
    ids=["indent", "align_end", "both", "warichu_across_lines", "unclosed_warichu", "only_marked_paragraphs",
         "unmarked"],
)
def test_marked_paragraphs_become_lines(source, lines):
    fragment = yomika_py.parse_to_html(source)
    body = main_of(yomika_cli.render_page(fragment, "t"))
    page, plain = Reader(body), Reader(fragment)
    assert page.faults == [] and plain.faults == []
    assert "".join(page.text).replace("\n", "") == "".join(plain.text).replace("\n", "")
    assert [{k: v for k, v in line.items() if k != "class"} for line in page.lines] == lines


@pytest.mark.parametrize(
    "source,rules",
    [
        ("［＃３字下げ］甲\n［＃３字下げ］乙", ['.yomika-line[data-indent="3"] { padding-inline-start: 3em; }']),
        ("［＃地から２字上げ］甲", ['.yomika-line[data-align-end="2"] { padding-inline-end: 2em; }']),
        ("［＃ここから５字下げ］\n甲\n［＃ここで字下げ終わり］",
         ['.yomika-container-indent[data-amount="5"] { padding-inline-start: 5em; }']),
        ("［＃ここから地から１字上げ］\n甲\n［＃ここで地付き終わり］",
         ['.yomika-container-align-end[data-offset="1"] { padding-inline-end: 1em; }']),
        ("［＃地付き］甲\n［＃ここから地付き］\n乙\n［＃ここで地付き終わり］", []),
    ],
    ids=["line_indent_once", "line_align_end", "block_indent", "block_align_end", "zero_amounts"],
)
def test_amount_rules_for_what_the_page_uses(source, rules):
    page = yomika_cli.render_page(yomika_py.parse_to_html(source), "t")
    style = re.search(r"<style>\n(.*)</style>", page, re.S).group(1)
    assert re.findall(r"^\.yomika-(?:line|container-\w+(?:-end)?)\[data-[a-z-]+=.*$", style, re.M) == rules


@pytest.mark.parametrize("lines", [1000, 8000])
def test_page_grows_by_a_fixed_amount_per_line(lines):
    # Notes opened on every line and never closed nest ever deeper; the page must not repeat them.
    fragment = yomika_py.parse_to_html("［＃割り注］甲\n" * lines + "［＃地付き］乙")
    page = main_of(yomika_cli.render_page(fragment, "t"))
    assert len(page) < len(fragment) + 100
