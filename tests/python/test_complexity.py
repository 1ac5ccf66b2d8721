"""Complexity guards for assembly, the HTML renderer and the reader's page. Each input is sized
so that work quadratic in it (rescanning the pending text at every 《, searching a deep open stack
at every closer, searching past the current line for a rare escape character, gathering a line's
text again at every quoted note) would take minutes, while the linear pass takes milliseconds.
The limit is generous: it catches a change of growth rate, not a slowdown."""

import time

import pytest

import yomika_cli
import yomika_py

N = 400_000
LIMIT = 10.0  # seconds


def _case(name, text, check):
    return pytest.param(text, check, id=name)


CASES = [
    # A ｜ at the start and failing 《》 after it: every 《 asks for the last ｜ of a pending
    # text that keeps growing.
    _case("bar_then_failing_rubies", "｜" + "漢《》" * N, lambda h: "<ruby>" not in h),
    _case("failing_rubies_after_text", "あ" * N + "漢《》" * N, lambda h: "<ruby>" not in h),
    # The implicit base is read backwards: a long kanji run before many failing 《》.
    _case("kanji_run_then_failing_rubies", "漢" * N + "《》" * N, lambda h: "<ruby>" not in h),
    # Unclosed 「 inside one ［…］, then closers of another kind.
    _case("unclosed_quotes_in_bracket_then_strays", "［" + "「" * N + "》" * N + "］", lambda h: h.startswith("<p>［")),
    _case("quotes_closed_in_bracket", "［＃" + "「" * N + "」" * N + "］", lambda h: h.count("\n") <= 2),
    # An unclosed ［ ends with its line; every later line is read as usual.
    _case("unclosed_bracket_replays_once", "［" + "漢字《かんじ》\n" * (N // 4), lambda h: h.count("<ruby>") == N // 4 - 1),
    _case("bars_in_dialogue", "「" + "｜漢《かん》\n" * (N // 4) + "」", lambda h: h.count("<ruby>") == N // 4),
    # A base reaches back over every special character and kanji before it, once.
    _case("gaiji_chain_in_one_base", "漢※［＃「あ」］" * (N // 8) + "《よみ》", lambda h: h.count("<ruby>") == 1),
    _case("bar_before_a_gaiji_chain", "｜" + "※［＃「あ」］あ" * (N // 8) + "《よみ》", lambda h: h.count("<ruby>") == 1),
    _case("gaiji_chain_without_ruby", "※［＃「あ」］漢" * (N // 8), lambda h: h.count("yomika-gaiji") == N // 8),
    _case("successful_rubies", "あ漢《かん》" * (N // 2), lambda h: h.count("<ruby>") == N // 2),
    # The renderer's escape searches must not look past the current line again and again.
    _case("rare_escape_after_many_lines", "a\n" * (2 * N) + '"', lambda h: h.endswith("&quot;</p>\n")),
    _case("rare_escape_after_many_blocks", "x［＃改ページ］" * (N // 4) + "'", lambda h: h.endswith("&#x27;</p>\n")),
]


@pytest.mark.parametrize("text,check", CASES)
def test_assembly_and_rendering_stay_linear(text, check):
    start = time.perf_counter()
    html = yomika_py.parse_to_html(text)
    elapsed = time.perf_counter() - start
    assert elapsed < LIMIT, f"{elapsed:.1f} s for {len(text)} characters"
    assert check(html)


def _html(book):
    return "".join(s["html"] for s in book["sections"])


# The reader's page, on one line holding every note: a quoted note looks back for its target.
READER_N = 200_000
READER_CASES = [
    _case("targets_before_their_notes", "あ［＃「あ」は太字］" * READER_N,
          lambda h: h.count('<span class="yomika-bold">') == READER_N),
    _case("targets_one_character_back", "あい［＃「あ」は太字］" * READER_N,
          lambda h: h.count('<span class="yomika-bold">') == READER_N),
    _case("targets_nowhere", "あ［＃「い」は太字］" * READER_N, lambda h: "yomika-bold" not in h),
    # Each target the whole text so far: wrapped around the last, and cut from one long text piece.
    _case("targets_growing", "あ" * READER_N + "".join(f"［＃「{'あ' * k}」は太字］" for k in range(1, 2000)),
          lambda h: 0 < h.count("yomika-bold") <= 16),
]


@pytest.mark.parametrize("text,check", READER_CASES)
def test_reader_page_stays_linear_on_one_line(text, check):
    start = time.perf_counter()
    html = _html(yomika_cli.render_book(text))
    elapsed = time.perf_counter() - start
    assert elapsed < LIMIT, f"{elapsed:.1f} s for {len(text)} characters"
    assert check(html)
