"""The converter's page of our sample text in a real browser (headless Chromium), in horizontal
and vertical writing: ruby sits above or beside its base, emphasis marks are drawn, indented
blocks are indented, and nothing overflows the text column. Screenshots are kept in
build/screenshots for a person to look at."""

import json
import os
import re
import shutil
import subprocess
from pathlib import Path

import pytest

pytest.importorskip("yomika_cli")
import yomika_cli  # noqa: E402

ROOT = Path(__file__).resolve().parents[2]
SAMPLE = ROOT / "examples" / "sample.txt"
SHOTS = ROOT / "build" / "screenshots"


def find_browser():
    for name in ("chromium", "chromium-browser", "google-chrome", "chrome"):
        path = shutil.which(name)
        if path:
            return path
    return None


BROWSER = find_browser()
pytestmark = pytest.mark.skipif(
    BROWSER is None, reason="no Chromium found (the test command installs Debian's chromium where it can)"
)

# Runs in the page after layout and writes its findings into <pre id="probe">.
PROBE = r"""
<script>
window.addEventListener('load', async () => {
  await document.fonts.ready;
  const vertical = document.body.classList.contains('yomika-vertical');
  const main = document.querySelector('main').getBoundingClientRect();
  const out = {ruby: [], bouten: [], indent: [], overflow: [], vertical};
  for (const ruby of document.querySelectorAll('ruby')) {
    const rt = ruby.querySelector('rt').getBoundingClientRect();
    const range = document.createRange();
    range.selectNodeContents(ruby);
    range.setEndBefore(ruby.querySelector('rp') || ruby.querySelector('rt'));
    const base = range.getBoundingClientRect();
    out.ruby.push({text: ruby.textContent,
                   // The font's content box is taller than its glyphs, so the reading may overlap
                   // the base's box a little; it must stand on the far side of the base's middle.
                   ok: vertical ? rt.left >= (base.left + base.right) / 2 && rt.right > base.right
                                : rt.bottom <= (base.top + base.bottom) / 2 && rt.top < base.top});
  }
  for (const em of document.querySelectorAll('em.yomika-bouten')) {
    const s = getComputedStyle(em);
    const style = s.textEmphasisStyle || s.webkitTextEmphasisStyle;
    const line = s.textDecorationLine;
    const r = em.getBoundingClientRect();
    out.bouten.push({cls: em.className, drawn: (style !== 'none' || line !== 'none') && r.width > 0 && r.height > 0});
  }
  const firstP = document.querySelector('main > p').getBoundingClientRect();
  for (const div of document.querySelectorAll('.yomika-container-indent')) {
    const p = div.querySelector('p');
    if (!p) continue;
    const r = p.getBoundingClientRect();
    const amount = Number(div.dataset.amount);
    const shift = vertical ? r.top - firstP.top : r.left - firstP.left;
    out.indent.push({amount, shift, fontSize: parseFloat(getComputedStyle(p).fontSize)});
  }
  for (const el of document.querySelectorAll('main *')) {
    if (el.hidden || el.closest('[hidden]') || el.tagName === 'RP') continue;
    const r = el.getBoundingClientRect();
    if (r.width === 0 && r.height === 0) continue;
    const over = vertical ? (r.top < main.top - 1 || r.bottom > main.bottom + 1)
                          : (r.left < main.left - 1 || r.right > main.right + 1);
    if (over) out.overflow.push(el.tagName + '.' + el.className);
  }
  const pre = document.createElement('pre');
  pre.id = 'probe';
  pre.textContent = JSON.stringify(out);
  document.body.appendChild(pre);
});
</script>
"""


def chromium(*args):
    return subprocess.run(
        [BROWSER, "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars", "--window-size=1100,900", *args],
        capture_output=True,
        timeout=120,
    )


@pytest.mark.parametrize("vertical", [False, True], ids=["horizontal", "vertical"])
def test_sample_page_lays_out(tmp_path, vertical):
    text = SAMPLE.read_text(encoding="utf-8")
    page = yomika_cli.convert_text(text, "sample.txt", to="page", vertical=vertical).output
    mode = "vertical" if vertical else "horizontal"
    SHOTS.mkdir(parents=True, exist_ok=True)
    plain = tmp_path / f"sample-{mode}.html"
    plain.write_text(page, encoding="utf-8")
    shot = SHOTS / f"sample-{mode}.png"
    chromium(f"--screenshot={shot}", plain.as_uri())
    assert shot.exists() and shot.stat().st_size > 1000

    probed = tmp_path / f"probe-{mode}.html"
    probed.write_text(page.replace("</body>", PROBE + "</body>"), encoding="utf-8")
    dom = chromium("--virtual-time-budget=10000", "--dump-dom", probed.as_uri()).stdout.decode("utf-8")
    found = re.search(r'<pre id="probe">(.*?)</pre>', dom, re.S)
    assert found, "the probe script did not report"
    report = json.loads(found.group(1).replace("&quot;", '"').replace("&amp;", "&").replace("&lt;", "<").replace("&gt;", ">"))

    assert report["vertical"] == vertical
    assert report["ruby"], "the sample has ruby"
    assert [r["text"] for r in report["ruby"] if not r["ok"]] == []
    assert report["bouten"], "the sample has emphasis marks"
    assert [b["cls"] for b in report["bouten"] if not b["drawn"]] == []
    assert report["indent"], "the sample has an indented block"
    for block in report["indent"]:
        assert block["shift"] == pytest.approx(block["amount"] * block["fontSize"], abs=2)
    assert report["overflow"] == []
