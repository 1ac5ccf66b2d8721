"""Threads and memory: documents on many threads at once, the owner-thread rule, steady memory
for a document asked many times, and no growth from creating and dropping documents."""

import gc
import resource
import sys
import threading

import pytest

import yomika_py

# Constructs on every line, so that every repetition adds nodes, pairs and diagnostics (stray
# closers) to each output: an unclosed 「 or 《 here would turn the rest into plain text.
TEXT = (
    "｜吾輩《わがはい》は猫である。［＃「猫」に傍点］\n［＃ここから２字下げ］\n"
    "本文》］※［＃「木＋駟のつくり」、第3水準1-85-8］\n［＃ここで字下げ終わり］\n"
) * 50
OUTPUTS = ["to_html", "serialize", "nodes", "pairs", "diagnostics"]


def rss_kib():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss


def test_many_threads_parse_concurrently():
    expected = yomika_py.parse_to_html(TEXT)
    errors, results = [], []

    def work(i):
        try:
            doc = yomika_py.Document(TEXT + str(i))
            for _ in range(20):
                html = doc.to_html()
                doc.nodes()
            results.append((i, html))
        except BaseException as e:  # noqa: BLE001
            errors.append(e)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(16)]
    for t in threads:
        t.start()
    for t in threads:
        t.join()
    assert errors == []
    assert len(results) == 16
    for i, html in results:
        assert html == yomika_py.parse_to_html(TEXT + str(i))
    assert expected == yomika_py.parse_to_html(TEXT)


@pytest.mark.parametrize("method", ["to_html", "serialize", "nodes", "pairs", "diagnostics", "source_byte_len", "source"])
def test_foreign_thread_raises_and_owner_still_works(method):
    doc = yomika_py.Document(TEXT)
    before = getattr(doc, method)() if method != "source" else doc.source
    caught = []

    def poke():
        try:
            getattr(doc, method)() if method != "source" else doc.source
        except RuntimeError as e:
            caught.append(str(e))

    t = threading.Thread(target=poke)
    t.start()
    t.join()
    assert caught == ["yomika_py::bindings::Document is unsendable, but sent to another thread"]
    after = getattr(doc, method)() if method != "source" else doc.source
    assert after == before


def test_document_asked_many_times_holds_steady_memory():
    doc = yomika_py.Document(TEXT * 4)
    # Every output is large enough that keeping one of them, or one parse, per call would add
    # far more than the limit over the loop.
    sizes = {name: len(getattr(doc, name)()) for name in OUTPUTS}
    assert min(sizes.values()) * 2_000 > 100 * 8 * 1024, sizes
    for _ in range(40):
        for name in OUTPUTS:
            getattr(doc, name)()
    gc.collect()
    base = rss_kib()
    for _ in range(2_000):
        for name in OUTPUTS:  # 10 000 calls in all
            getattr(doc, name)()
    gc.collect()
    assert rss_kib() - base < 8 * 1024  # KiB


def test_creating_and_dropping_documents_does_not_grow():
    for _ in range(2000):
        yomika_py.Document(TEXT).to_html()
    gc.collect()
    base = rss_kib()
    for _ in range(100_000):
        yomika_py.Document("｜漢《かん》［＃改ページ］").to_html()
    gc.collect()
    assert rss_kib() - base < 8 * 1024


def test_drop_on_foreign_thread_reports_unraisable():
    seen = []
    old = sys.unraisablehook
    sys.unraisablehook = lambda u: seen.append(u.exc_value)
    try:
        holder = [yomika_py.Document("abc")]

        def drop():
            holder.pop()

        t = threading.Thread(target=drop)
        t.start()
        t.join()
    finally:
        sys.unraisablehook = old
    assert len(seen) == 1
    assert isinstance(seen[0], RuntimeError)
    assert str(seen[0]) == "yomika_py::bindings::Document is unsendable, but is being dropped on another thread"
