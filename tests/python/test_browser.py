"""The converter's pages in a real browser (headless Chromium, driven over its DevTools pipe):
the bundled sample, a page of every construct, and Shift_JIS zips of real books turned into pages
with one command, one of them holding a picture. The checks read the browser's own layout: ruby
sits above or beside its base, emphasis marks and side lines are drawn, indented and end-aligned
lines and blocks move by their amounts, hanging indents wrap further in, headings are larger and
bold type heavier, the contents list leads to every heading, the picture is drawn, nothing
overflows the text column, and a vertical book starts at the right edge and scrolls over its
whole length. Screenshots are kept in build/screenshots for a person to look at. Under CI=true a
missing browser fails the tests instead of skipping them."""

import base64
import fcntl
import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
from pathlib import Path

import pytest

pytest.importorskip("yomika_cli")
import yomika_cli  # noqa: E402
from book_texts import BOOK, CONSTRUCTS, PICTURE  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "sample.txt"
CORPUS = ROOT.parent / "shared" / "corpus"
SHOTS = ROOT / "build" / "screenshots"


def find_browser():
    for name in ("chromium", "chromium-browser", "google-chrome", "chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


def has_japanese_fonts():
    try:
        listed = subprocess.run(["fc-list", ":lang=ja"], capture_output=True, text=True, timeout=60).stdout
    except (OSError, subprocess.SubprocessError):
        return False
    return bool(listed.strip())


BROWSER = find_browser()
IN_CI = os.environ.get("CI") == "true"
# Outside CI a machine without a browser skips these tests; in CI they must run, and fail when the
# test set-up could not install the browser or the fonts.
if not IN_CI:
    pytestmark = pytest.mark.skipif(
        BROWSER is None, reason="no Chromium found (the test command installs Debian's chromium where it can)"
    )


class Chromium:
    """One headless browser, spoken to over --remote-debugging-pipe: JSON messages ended by a NUL
    byte, commands on the browser's descriptor 3 and answers on its descriptor 4. This needs
    nothing beyond the browser itself, and its screenshots show the viewport as a reader sees it
    (the --screenshot switch places vertical pages wrongly)."""

    def __init__(self, binary, width=1100, height=900):
        self.width, self.height = width, height
        self.profile = tempfile.TemporaryDirectory()
        command_read, self.command_write = os.pipe()
        self.answer_read, answer_write = os.pipe()

        def wire():  # in the child: the two pipe ends become descriptors 3 and 4
            commands = fcntl.fcntl(command_read, fcntl.F_DUPFD, 10)
            answers = fcntl.fcntl(answer_write, fcntl.F_DUPFD, 10)
            os.dup2(commands, 3)
            os.dup2(answers, 4)

        self.process = subprocess.Popen(
            [BROWSER, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--no-first-run",
             "--remote-debugging-pipe", f"--user-data-dir={self.profile.name}", "about:blank"],
            preexec_fn=wire, close_fds=False,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL,
        )
        os.close(command_read)
        os.close(answer_write)
        self.pending = b""
        self.last_id = 0
        self.events = []
        self.session = None

    def _receive(self, deadline):
        while b"\0" not in self.pending:
            left = deadline - time.monotonic()
            if left <= 0 or not select.select([self.answer_read], [], [], left)[0]:
                raise TimeoutError("the browser did not answer in time")
            chunk = os.read(self.answer_read, 1 << 16)
            if not chunk:
                raise RuntimeError("the browser closed its pipe")
            self.pending += chunk
        message, self.pending = self.pending.split(b"\0", 1)
        return json.loads(message)

    def send(self, method, timeout=60, **params):
        self.last_id += 1
        message = {"id": self.last_id, "method": method, "params": params}
        if self.session and not method.startswith(("Target.", "Browser.")):
            message["sessionId"] = self.session
        os.write(self.command_write, json.dumps(message).encode() + b"\0")
        deadline = time.monotonic() + timeout
        while True:
            reply = self._receive(deadline)
            if reply.get("id") == self.last_id:
                if "error" in reply:
                    raise RuntimeError(f"{method}: {reply['error']}")
                return reply["result"]
            self.events.append(reply)

    def _wait_event(self, name, timeout=60):
        deadline = time.monotonic() + timeout
        while True:
            for i, event in enumerate(self.events):
                if event.get("method") == name:
                    return self.events.pop(i)
            self.events.append(self._receive(deadline))

    def open(self, path):
        self.open_url(Path(path).as_uri())

    def open_url(self, url):
        if self.session is None:
            target = self.send("Target.createTarget", url="about:blank")["targetId"]
            self.session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
            self.send("Page.enable")
            self.send("Emulation.setDeviceMetricsOverride", width=self.width, height=self.height,
                      deviceScaleFactor=1, mobile=False)
        self.events.clear()
        self.send("Page.navigate", url=url)
        self._wait_event("Page.loadEventFired")
        self.evaluate("document.fonts.ready.then(() => true)")

    def evaluate(self, expression):
        reply = self.send("Runtime.evaluate", expression=expression, awaitPromise=True, returnByValue=True)
        if "exceptionDetails" in reply:
            raise RuntimeError(reply["exceptionDetails"])
        return reply["result"].get("value")

    def screenshot(self, name):
        SHOTS.mkdir(parents=True, exist_ok=True)
        data = base64.b64decode(self.send("Page.captureScreenshot", format="png")["data"])
        (SHOTS / name).write_bytes(data)
        assert len(data) > 1000

    def close(self):
        try:
            self.send("Browser.close", timeout=10)
        except (OSError, RuntimeError, TimeoutError):
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()
        os.close(self.command_write)
        os.close(self.answer_read)
        self.profile.cleanup()


@pytest.fixture(scope="module")
def browser():
    if BROWSER is None:
        pytest.fail("the browser tests must run here (CI=true), but Chromium could not be installed")
    if IN_CI and not has_japanese_fonts():
        pytest.fail("the browser tests must run here (CI=true), but no Japanese font could be installed")
    chromium = Chromium(BROWSER)
    yield chromium
    chromium.close()


# Measures the page from the browser's layout. "Start" and "end" are along the line (left and
# right in horizontal writing, top and bottom in vertical writing).
PROBE = r"""
(() => {
  const vertical = document.documentElement.classList.contains('yomika-vertical');
  const start = (r) => vertical ? r.top : r.left;
  const end = (r) => vertical ? r.bottom : r.right;
  const text = (el) => { const r = document.createRange(); r.selectNodeContents(el); return r.getBoundingClientRect(); };
  const em = (el) => parseFloat(getComputedStyle(el).fontSize);
  const main = document.querySelector('main');
  const out = {vertical, title: document.title, ruby: [], bouten: [], lines: [], blocks: [], overflow: []};
  for (const ruby of main.querySelectorAll('ruby')) {
    const rt = ruby.querySelector('rt').getBoundingClientRect();
    const range = document.createRange();
    range.selectNodeContents(ruby);
    range.setEndBefore(ruby.querySelector('rp') || ruby.querySelector('rt'));
    const base = range.getBoundingClientRect();
    // The font's content box is taller than its glyphs, so the reading may overlap the base's
    // box a little; it must stand on the far side of the base's middle. A reading set on the
    // left stands on the other side.
    const left = ruby.classList.contains('yomika-ruby-left');
    const over = vertical ? rt.left >= (base.left + base.right) / 2 && rt.right > base.right
                          : rt.bottom <= (base.top + base.bottom) / 2 && rt.top < base.top;
    const under = vertical ? rt.right <= (base.left + base.right) / 2 && rt.left < base.left
                           : rt.top >= (base.top + base.bottom) / 2 && rt.bottom > base.bottom;
    out.ruby.push({text: ruby.textContent, ok: left ? under : over});
  }
  for (const el of main.querySelectorAll('em.yomika-bouten')) {
    const s = getComputedStyle(el);
    const r = el.getBoundingClientRect();
    out.bouten.push({cls: el.className, mark: s.textEmphasisStyle || s.webkitTextEmphasisStyle,
                     line: s.textDecorationLine, drawn: r.width > 0 && r.height > 0});
  }
  for (const line of main.querySelectorAll('[data-indent], [data-align-end]')) {
    if (line.closest('.yomika-hanging')) continue;
    const box = line.getBoundingClientRect(), t = text(line);
    out.lines.push({indent: Number(line.dataset.indent || 0), alignEnd: line.dataset.alignEnd ?? null,
                    startGap: start(t) - start(box), endGap: end(box) - end(t), em: em(line)});
  }
  for (const div of main.querySelectorAll('.yomika-container-indent, .yomika-container-align-end')) {
    const d = div.getBoundingClientRect();
    for (const p of div.querySelectorAll(':scope > p')) {
      const t = text(p);
      out.blocks.push({kind: div.classList.contains('yomika-container-indent') ? 'indent' : 'align-end',
                       amount: Number(div.dataset.amount ?? div.dataset.offset),
                       startGap: start(t) - start(d), endGap: end(d) - end(t), em: em(p)});
    }
  }
  const column = main.getBoundingClientRect();
  for (const el of main.querySelectorAll('*')) {
    if (el.closest('details:not([open])') && !el.matches('details, summary')) continue;
    if (el.tagName === 'RP') continue;
    const r = el.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) continue;
    if (start(r) < start(column) - 1 || end(r) > end(column) + 1) out.overflow.push(el.tagName + '.' + el.className);
  }
  return out;
})()
"""


def check_layout(report, vertical):
    assert report["vertical"] == vertical
    assert [r["text"] for r in report["ruby"] if not r["ok"]] == []
    for b in report["bouten"]:
        assert b["drawn"] and (b["mark"] != "none" or b["line"] != "none"), b
    for line in report["lines"]:
        if line["alignEnd"] is None:
            assert line["startGap"] == pytest.approx(line["indent"] * line["em"], abs=2), line
        else:
            assert line["endGap"] == pytest.approx(int(line["alignEnd"]) * line["em"], abs=2), line
    for block in report["blocks"]:
        gap = block["startGap"] if block["kind"] == "indent" else block["endGap"]
        assert gap == pytest.approx(block["amount"] * block["em"], abs=2), block
    assert report["overflow"] == []


def page_of(browser, tmp_path, text, name, vertical):
    page = yomika_cli.convert_text(text, name, to="page", vertical=vertical).output
    path = tmp_path / f"{name}-{'vertical' if vertical else 'horizontal'}.html"
    path.write_text(page, encoding="utf-8")
    browser.open(path)
    return browser.evaluate(PROBE)


MODES = pytest.mark.parametrize("vertical", [False, True], ids=["horizontal", "vertical"])
MODE_NAME = {False: "horizontal", True: "vertical"}


def convert(*args):
    run = subprocess.run([sys.executable, "-m", "yomika_cli", *map(str, args)], capture_output=True, timeout=120)
    assert run.returncode == 0, run.stderr
    return run


@MODES
def test_sample_page_lays_out(browser, tmp_path, vertical):
    page = tmp_path / f"sample-{MODE_NAME[vertical]}.html"
    convert(*(["--vertical"] if vertical else []), SAMPLE, "-o", page)  # the picture beside it is drawn
    browser.open(page)
    report = browser.evaluate(PROBE)
    browser.screenshot(f"sample-{MODE_NAME[vertical]}.png")
    check_layout(report, vertical)
    assert report["title"] == "雨の古本屋 — 見本　太郎"
    assert report["ruby"] and report["bouten"] and report["blocks"] and report["lines"], "the sample has these"


STYLES = r"""
(() => {
  const s = (q, pseudo) => getComputedStyle(document.querySelector(q), pseudo);
  const body = parseFloat(s('main p').fontSize);
  return {
    marks: [...document.querySelectorAll('em.yomika-bouten')].map((e) => e.className.split(' ')[1]),
    tcy: s('.yomika-tcy').textCombineUpright,
    kaeriten: [parseFloat(s('.yomika-kaeriten').fontSize) / parseFloat(s('main').fontSize), s('.yomika-kaeriten').verticalAlign],
    gaiji: s('.yomika-gaiji[data-description]', '::before').content,
    warichu: [s('.yomika-warichu', '::before').content, document.querySelectorAll('.yomika-warichu').length],
    notes: document.querySelectorAll('.yomika-annotation').length,
    box: [s('.yomika-container-keigakomi').borderTopStyle, s('.yomika-container-keigakomi').borderLeftStyle],
    parts: document.querySelectorAll('.yomika-part').length,
    partRule: s('.yomika-part[data-break="page"]').borderBlockStartStyle,
    sectionBreak: s('.yomika-section-break', '::after').content,
    bold: [Number(s('.yomika-bold').fontWeight), Number(s('main p').fontWeight)],
    italic: s('.yomika-italic').fontStyle,
    sizes: [parseFloat(s('.yomika-larger').fontSize) / body, parseFloat(s('.yomika-smaller').fontSize) / body],
  };
})()
"""

# How far in the first row and the wrapped rows of each line of a hanging indent start: the rows
# are the line boxes of its text (readings left out), grouped by where they stand across the line.
HANGING = r"""
(() => {
  const vertical = document.documentElement.classList.contains('yomika-vertical');
  const start = (x) => vertical ? x.top : x.left;
  const across = (x) => vertical ? (x.left + x.right) / 2 : (x.top + x.bottom) / 2;
  const out = [];
  for (const p of document.querySelectorAll('.yomika-hanging p')) {
    const rects = [];
    const walk = document.createTreeWalker(p, NodeFilter.SHOW_TEXT);
    for (let node = walk.nextNode(); node; node = walk.nextNode()) {
      if (node.parentElement.closest('rt, rp')) continue;
      const r = document.createRange();
      r.selectNodeContents(node);
      rects.push(...[...r.getClientRects()].filter((x) => x.width > 0 && x.height > 0));
    }
    const em = parseFloat(getComputedStyle(p).fontSize);
    const rows = [];
    for (const x of rects) {
      const row = rows.find((r) => Math.abs(r.at - across(x)) < em / 2);
      if (row) row.start = Math.min(row.start, start(x)); else rows.push({at: across(x), start: start(x)});
    }
    if (rows.length < 2) continue;
    rows.sort((a, b) => vertical ? b.at - a.at : a.at - b.at);
    const box = p.getBoundingClientRect();
    const block = p.closest('.yomika-hanging');
    out.push({first: rows[0].start - start(box), wrapped: rows[1].start - start(box), em,
              amounts: [Number(block.dataset.first), Number(block.dataset.rest)]});
  }
  return out;
})()
"""


def check_hanging(rows):
    assert rows, "a hanging indent whose line wraps"
    for row in rows:
        first, rest = row["amounts"]
        assert row["first"] == pytest.approx(first * row["em"], abs=2), row
        assert row["wrapped"] == pytest.approx(rest * row["em"], abs=2), row
        assert row["wrapped"] > row["first"]


@MODES
def test_every_construct_is_dressed(browser, tmp_path, vertical):
    report = page_of(browser, tmp_path, CONSTRUCTS, "constructs", vertical)
    browser.screenshot(f"constructs-{MODE_NAME[vertical]}.png")
    check_layout(report, vertical)
    assert sum(bool(line["indent"] or line["alignEnd"]) for line in report["lines"]) == 3
    assert len(report["blocks"]) == 2
    styles = browser.evaluate(STYLES)
    assert sorted(set(styles["marks"])) == sorted(
        "yomika-bouten-" + k
        for k in ("goma white-sesame circle white-circle double-circle janome cross white-triangle "
                  "wavy-line under-line double-under-line").split()
    )
    assert styles["tcy"] == "all"
    assert styles["kaeriten"] == [pytest.approx(0.55), "sub"]
    assert styles["gaiji"] == '"〓("'
    # A note that runs over a line break is one element on each line.
    assert styles["warichu"] == ['"（"', 2]
    assert styles["notes"] == 0
    assert styles["box"] == ["solid", "solid"]
    assert styles["parts"] == 2 and styles["partRule"] == "dashed"
    assert styles["sectionBreak"] == '"＊"'
    assert styles["bold"][0] > styles["bold"][1]
    assert styles["italic"] == "italic"
    assert styles["sizes"][0] > 1.2 and styles["sizes"][1] < 0.8
    check_hanging(browser.evaluate(HANGING))


# What cp932 decodes 0x815C and its kind to: texts in Shift_JIS files come back this way.
CP932_FORMS = str.maketrans({"\u2014": "\u2015", "\u301c": "\uff5e", "\u2016": "\u2225", "\u2212": "\uff0d",
                             "\u00a2": "\uffe0", "\u00a3": "\uffe1", "\u00ac": "\uffe2"})


def shift_jis_zip(tmp_path, book, pictures=()):
    text = (CORPUS / f"{book}.txt").read_text(encoding="utf-8").translate(CP932_FORMS)
    archive = tmp_path / f"{book}.zip"
    with zipfile.ZipFile(archive, "w", zipfile.ZIP_DEFLATED) as z:
        z.writestr(f"{book}/{book}.txt", text.replace("\n", "\r\n").encode("cp932"))
        for name in pictures:
            z.writestr(f"{book}/{name}", (ROOT / "examples" / "slope.png").read_bytes())
    return archive


BOOK_PROBE = r"""
(() => {
  const paragraphs = document.querySelectorAll('main p');
  const first = document.querySelector('main > *').getBoundingClientRect();
  const atStart = {scrollX, right: first.right, left: first.left, width: innerWidth,
                   scrollWidth: document.scrollingElement.scrollWidth};
  window.dispatchEvent(new WheelEvent('wheel', {deltaY: 300, cancelable: true}));
  const wheeled = scrollX;
  scrollTo({left: -document.scrollingElement.scrollWidth});
  const last = document.querySelector('main > :last-child').getBoundingClientRect();
  const atEnd = {left: last.left, right: last.right, scrollX};
  scrollTo({left: 0});
  return {atStart, wheeled, atEnd};
})()
"""


@pytest.mark.skipif(not (CORPUS / "kumo_no_ito.txt").exists(), reason="the corpus (../shared/corpus) is absent")
def test_shift_jis_zip_of_a_book_becomes_a_vertical_page(browser, tmp_path):
    page = tmp_path / "kumo_no_ito.html"
    convert("--vertical", shift_jis_zip(tmp_path, "kumo_no_ito"), "-o", page)
    browser.open(page)
    report = browser.evaluate(PROBE)
    browser.screenshot("book-vertical.png")
    check_layout(report, vertical=True)
    assert report["title"] == "蜘蛛の糸 — 芥川龍之介"
    assert len(report["ruby"]) > 50 and report["lines"]

    # The book opens at its beginning, on the right, and scrolls leftwards to its very end.
    book = browser.evaluate(BOOK_PROBE)
    start = book["atStart"]
    assert start["scrollX"] == 0 and start["width"] - 200 < start["right"] <= start["width"]
    assert start["scrollWidth"] > 3 * start["width"]
    assert book["wheeled"] == -300, "the wheel moves the page forward"
    assert book["atEnd"]["scrollX"] < 0 and 0 <= book["atEnd"]["left"] < start["width"]


# A reader's view of a book: its title page, contents, headings, picture, type and colophon.
READER_PROBE = r"""
(async () => {
  const s = (el) => getComputedStyle(el);
  const main = document.querySelector('main');
  const title = document.querySelector('.yomika-title-page');
  const body = [...main.querySelectorAll('.yomika-part p')].find((p) => !p.closest('.yomika-smaller, .yomika-larger'));
  const headings = [...main.querySelectorAll('.yomika-part h2, .yomika-part h3, .yomika-part h4')];
  const links = [...main.querySelectorAll('nav.yomika-contents a')];
  const img = main.querySelector('figure img');
  const out = {
    title: title ? [title.querySelector('.yomika-title').textContent, title.querySelector('.yomika-author').textContent,
                    title.getBoundingClientRect().height > 0] : null,
    contents: links.map((a) => a.getAttribute('href')),
    headings: headings.map((h) => '#' + h.id),
    larger: headings.every((h) => parseFloat(s(h).fontSize) > parseFloat(s(body).fontSize)),
    legend: document.body.textContent.includes('テキスト中に現れる記号について'),
    picture: img ? [img.complete, img.naturalWidth, img.getBoundingClientRect().width, img.getBoundingClientRect().height] : null,
    bold: [Number(s(main.querySelector('.yomika-bold')).fontWeight), Number(s(body).fontWeight)],
    small: [parseFloat(s(main.querySelector('.yomika-smaller')).fontSize), parseFloat(s(body).fontSize)],
    colophonLast: main.lastElementChild.matches('footer.yomika-colophon') &&
                  [...main.querySelectorAll('.yomika-part')].every(
                    (p) => p.compareDocumentPosition(main.lastElementChild) & Node.DOCUMENT_POSITION_FOLLOWING),
  };
  // Following an entry of the contents brings its heading into view.
  main.querySelector('nav.yomika-contents details').open = true;
  const entry = links[Math.floor(links.length / 2)];
  entry.click();
  await new Promise((done) => requestAnimationFrame(() => requestAnimationFrame(done)));
  const target = document.querySelector(entry.getAttribute('href')).getBoundingClientRect();
  out.followed = target.right > 0 && target.left < innerWidth && target.bottom > 0 && target.top < innerHeight;
  scrollTo(0, 0);
  return out;
})()
"""


@pytest.mark.skipif(not (CORPUS / "tono.txt").exists(), reason="the corpus (../shared/corpus) is absent")
@MODES
def test_a_book_reads_as_a_book(browser, tmp_path, vertical):
    archive = shift_jis_zip(tmp_path, "tono", ["fig52504_01.png"])
    page = tmp_path / f"tono-{MODE_NAME[vertical]}.html"
    convert(*(["--vertical"] if vertical else []), archive, "-o", page)
    browser.open(page)
    layout = browser.evaluate(PROBE)
    browser.screenshot(f"tono-{MODE_NAME[vertical]}.png")
    check_layout(layout, vertical)
    assert layout["title"] == "遠野物語 — 柳田国男"
    report = browser.evaluate(READER_PROBE)
    assert report["title"] == ["遠野物語", "柳田国男", True]
    assert len(report["headings"]) > 100 and report["contents"] == report["headings"]
    assert report["followed"], "following an entry of the contents shows its heading"
    assert report["larger"]
    assert not report["legend"]
    complete, natural, width, height = report["picture"]
    assert complete and natural > 0 and width > 0 and height > 0
    assert report["bold"][0] > report["bold"][1]
    assert report["small"][0] < report["small"][1]
    assert report["colophonLast"]
    check_hanging(browser.evaluate(HANGING))


EPUB_PROBE = r"""
(() => {
  const lines = [...document.querySelectorAll('.yomika-part p')].filter((p) => p.textContent.trim()).slice(0, 8)
    .map((p) => p.getBoundingClientRect());
  return {mode: getComputedStyle(document.documentElement).writingMode,
          rightToLeft: lines.length > 3 && lines.every((r, i) => i === 0 || r.right <= lines[i - 1].left + 1)};
})()
"""


def test_epub_documents_read_as_vertical_books(browser, tmp_path):
    folder = tmp_path / "book"
    folder.mkdir()
    (folder / "book.txt").write_text(BOOK, encoding="utf-8")
    (folder / PICTURE).write_bytes((ROOT / "examples" / "slope.png").read_bytes())
    epub = tmp_path / "book.epub"
    convert("--to", "epub", folder / "book.txt", "-o", epub)
    unpacked = tmp_path / "unpacked"
    zipfile.ZipFile(epub).extractall(unpacked)

    # The part with every construct: vertical lines, each to the left of the one before, ruby
    # beside its base, and nothing outside the column.
    browser.open(unpacked / "OEBPS" / "text" / "part-0002.xhtml")
    lines = browser.evaluate(EPUB_PROBE)
    report = browser.evaluate(PROBE.replace("document.querySelector('main')", "document.body"))
    browser.screenshot("epub-part-vertical.png")
    assert lines == {"mode": "vertical-rl", "rightToLeft": True}
    assert len(report["ruby"]) == 3 and [r["text"] for r in report["ruby"] if not r["ok"]] == []

    # Every entry of the contents leads to a heading.
    browser.open(unpacked / "OEBPS" / "nav.xhtml")
    targets = browser.evaluate("[...document.querySelectorAll('#toc a')].map((a) => a.href)")
    assert len(targets) == 5
    for url in targets:
        browser.open_url("about:blank")  # each link a load of its own, also within one document
        browser.open_url(url)
        found = browser.evaluate(
            "(() => { const h = document.getElementById(location.hash.slice(1)); "
            "return h ? h.localName + ' ' + h.textContent : null; })()")
        assert found and found.split()[0] in ("h2", "h3", "h4"), (url, found)
