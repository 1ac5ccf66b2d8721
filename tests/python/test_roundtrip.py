"""Round trip: text written back by serialize() reads back to the same text and the same document."""

import pathlib

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

yomika_py = pytest.importorskip("yomika_py")
Document = yomika_py.Document

CORPUS = pathlib.Path(__file__).resolve().parents[2] / ".." / "shared" / "corpus"
CORPUS_FILES = sorted(CORPUS.glob("*.txt")) if CORPUS.is_dir() else []

@pytest.mark.skipif(not CORPUS_FILES, reason="corpus not present")
@pytest.mark.parametrize("path", CORPUS_FILES, ids=[p.name for p in CORPUS_FILES])
def test_corpus_round_trip(path):
    source = path.read_text(encoding="utf-8")
    once = Document(source).serialize()
    twice = Document(once).serialize()
    assert once == twice
    assert Document(once).to_html() == Document(source).to_html()


# Pieces of notation, well-formed and broken, and text that the pieces can refer back to.
FRAGMENTS = [
    "漢字", "猫", "かな", "12", "AB", "甲", "乙", "、", " ", "　", "\n", "\n\n\n", "\r\n",
    "｜", "《", "》", "《《", "》》", "［", "］", "［＃", "＃", "※", "「", "」", "〔", "〕",
    "漢字《かんじ》", "｜かな《よみ》", "《《強調》》", "猫［＃「猫」に傍点］", "［＃「猫」の左に傍線］",
    "［＃「甲」「乙」に傍点］", "12［＃「12」は縦中横］", "［＃「漢字」は大見出し］",
    "［＃改ページ］", "［＃改段］", "［＃３字下げ］", "［＃地付き］", "［＃地から２字上げ］",
    "［＃ここから２字下げ］", "［＃ここで字下げ終わり］", "［＃ここから地付き］", "［＃ここで地付き終わり］",
    "［＃罫囲み］", "［＃罫囲み終わり］", "［＃割り注］", "［＃割り注終わり］", "［＃レ］", "［＃（ヲ）］",
    "［＃挿絵（a.png）入る］", "［＃ほげ］", "［＃］", "※［＃「丸1」］", "※［＃二の字点、1-2-22］",
    "※［＃「木＋駟のつくり」、第3水準1-85-8］", "〔cafe'〕", "〔AE&〕", "e'", "----------", "==========",
    "\ue001", "\ue002", "\ue000", "\ufeff", "甲、乙", "あ漢", "［＃「甲、乙」に傍点］", "［＃「漢字《かんじ》」に傍点］",
    "［＃「丸1」に傍点］", "［＃「漢字」「かな」は大見出し］", "［＃「AB」「12」は縦中横］", "漢《かん※［＃「丸1」］》",
]


# Documents whose written form must read back to the same HTML.
SAME_DOCUMENT = [
    ("ruby_implicit", "あ漢字《かんじ》と｜かな《よみ》"),
    ("bouten_adjacent", "猫［＃「猫」の左に傍線］が鳴いた"),
    # Several names are joined with 、 into one target; written back as one quote of the joined
    # text they would no longer be found before the note and the emphasis would be lost.
    ("bouten_several_names", "春と秋［＃「春」「秋」に白丸傍点］"),
    ("bouten_several_names_next_to_joined_text", "甲、乙［＃「甲」「乙」に傍点］"),
    ("bouten_name_with_comma", "甲、乙と［＃「甲、乙」に傍点］"),
    # A target that reaches back into the ruby before it: written in front of the note once more,
    # it would read back as a second ruby.
    ("adjacent_target_covering_ruby", "漢字《かんじ》［＃「漢字《かんじ》」に傍点］"),
    ("adjacent_target_reaching_past_ruby", "漢字《かんじ》X［＃「字《かんじ》X」に傍点］"),
    ("tcy_covering_kaeriten", "［＃レ］12［＃「レ］12」は縦中横］"),
    ("blocks", "A［＃改ページ］B［＃改段］\n\n\n［＃挿絵（a.png）入る］C"),
    ("containers", "［＃ここから２字下げ］\nB\n［＃ここで字下げ終わり］\n［＃罫囲み］C［＃罫囲み終わり］"),
    ("block_amounts", "［＃ここから１字下げ］\nB\n［＃ここで字下げ終わり］\n［＃ここから地から３字上げ］\nC\n［＃ここで地付き終わり］"),
    ("indent_of_one", "［＃１字下げ］本文\n［＃２字下げ］本文"),
    ("gaiji_in_ruby_bases", "｜柳※［＃「木＋駟のつくり」、第3水準1-85-8］《りゅう》と※［＃「丸1」］《まる》"),
    ("markup_in_dialogue", "「漢字《かんじ》と猫［＃「猫」に傍点］」"),
    ("gaiji", "※［＃「木＋駟のつくり」、第3水準1-85-8］※［＃二の字点、1-2-22］"),
    ("gaiji_in_reading", "漢《かん※［＃「丸1」］》"),
    ("accents", "〔cafe'〕と〔AE&on〕"),
]


@pytest.mark.parametrize("source", [c[1] for c in SAME_DOCUMENT], ids=[c[0] for c in SAME_DOCUMENT])
def test_written_form_reads_back_to_same_document(source):
    once = Document(source).serialize()
    assert Document(once).serialize() == once
    assert Document(once).to_html() == Document(source).to_html()


@settings(max_examples=400, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(st.lists(st.sampled_from(FRAGMENTS), max_size=24).map("".join))
def test_serialize_is_a_fixed_point(source):
    once = Document(source).serialize()
    assert Document(once).serialize() == once
