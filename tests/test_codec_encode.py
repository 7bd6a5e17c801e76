"""Encoding: normalization, then leftmost-longest replacement of morphemes by their codes."""

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tessarline import _tessarline as T

ALEF, LAM, KAF, TEH, BEH, REH, WAW = "\u0627", "\u0644", "\u0643", "\u062a", "\u0628", "\u0631", "\u0648"
KASRA, FATHA, DAMMA = "\u0650", "\u064e", "\u064f"
LEVELS = ["light", "medium", "aggressive"]

AL, KITAB = ALEF + LAM, KAF + TEH + ALEF + BEH
MAP = {AL: "\ue000", KITAB: "\ue001"}

@pytest.mark.parametrize(
    "text, expected",
    [
        ("", ""),
        (AL + KITAB, "\ue000\ue001"),
        (AL + KAF + REH, "\ue000" + KAF + REH),  # a key inside a word, the rest kept
        (WAW + AL + KITAB + " " + BEH + AL, WAW + "\ue000\ue001 " + BEH + "\ue000"),
        ("Latin text, 123 digits; (punctuation)!\t\n  \r\n", "Latin text, 123 digits; (punctuation)!\t\n  \r\n"),
        ("\x01" + AL + "\x1f\x7f", "\x01\ue000\x1f\x7f"),  # control characters survive the direct path
        ("\ue001" + AL, "\ue001\ue000"),  # a code already in the text passes through
        ("\U0001f600" + AL + "\u4e2d", "\U0001f600\ue000\u4e2d"),
    ],
)
def test_encode_direct_path(text, expected):
    assert T.SarfCodec(MAP).encode(text) == expected
    assert T.encode(text, MAP) == expected


@pytest.mark.parametrize(
    "text, expected",
    [
        # the marks go in normalization, then the two keys match in turn
        (AL + KAF + KASRA + TEH + FATHA + ALEF + BEH + DAMMA, "\ue000\ue001"),
        (AL + "\u0640" + KITAB, "\ue000\ue001"),  # tatweel
        ("\u0661\u0662\u0663 " + AL, "123 \ue000"),  # Arabic-Indic digits become ASCII
        ("\u06f3", "\u06f3"),  # Eastern Arabic-Indic digits stay
    ],
)
def test_encode_normalizes_first(text, expected):
    assert T.SarfCodec(MAP).encode(text) == expected
    assert T.encode(text, MAP) == expected


@pytest.mark.parametrize("level", LEVELS)
@pytest.mark.parametrize("hamza_alef", ["\u0623", "\u0625", "\u0622"])
def test_hamza_alef_matches_an_alef_key_at_every_level(level, hamza_alef):
    codec = T.SarfCodec(MAP, level)
    assert codec.encode(hamza_alef + LAM + KITAB) == "\ue000\ue001"
    assert codec.encode(KAF + hamza_alef + LAM) == KAF + "\ue000"


@pytest.mark.parametrize("level", LEVELS)
@pytest.mark.parametrize(
    "text",
    ["", AL + KAF + KASRA + TEH + FATHA, "\u0623\u0629\u0649\u0624 \u0661", "plain \x01 text", "\u200b\ufeff" + AL],
)
def test_empty_map_encodes_to_normalized_text(level, text):
    codec = T.SarfCodec({}, level)
    assert codec.encode(text) == codec.normalize(text) == T.normalize(text, level)


def test_empty_morpheme_never_matches():
    codec = T.SarfCodec({"": "\ue005", BEH: "\ue006"})
    assert codec.num_morphemes == 2
    assert codec.encode(AL + BEH) == AL + "\ue006"


@pytest.mark.parametrize(
    "morf_map, expected",
    [
        ({}, (0, 0, 0)),
        ({"a": "\ue000", "b": "\U000f0001", "c": "ab"}, (3, 1, 1)),
        ({AL: "\ue000\uf8ff"}, (1, 2, 0)),  # code points, not entries
        ({AL: "\U00100000", BEH: "\U0010fffd"}, (2, 0, 0)),  # plane 16 counts nowhere
        ({AL: "\uf900\U000ffffe\U000fffff\U000ffffd\U000f0000"}, (1, 0, 2)),
        ({AL: "\ue000", BEH: "\ue000"}, (2, 2, 0)),  # a shared code counts per entry
    ],
)
def test_stats(morf_map, expected):
    codec = T.SarfCodec(morf_map)
    total, basic, supplementary = expected
    assert codec.stats() == {
        "total_morphemes": total,
        "basic_pua_codes": basic,
        "supplementary_pua_codes": supplementary,
    }
    assert codec.num_morphemes == total


def reference_encode(text, morf_map, level="medium"):
    """Normalize, then at each UTF-8 byte position take the longest key that matches."""
    data = T.normalize(text, level).encode()
    keys = {k.encode(): v.encode() for k, v in morf_map.items() if k}
    out = bytearray()
    p = 0
    while p < len(data):
        best = max((k for k in keys if data.startswith(k, p)), key=len, default=None)
        if best is None:
            out.append(data[p])
            p += 1
        else:
            out += keys[best]
            p += len(best)
    return out.decode("utf-8", errors="replace")


# Letters that overlap as prefixes, letters that normalization folds or removes,
# a code, and ASCII.
PIECES = [ALEF, LAM, BEH, KAF, TEH, "\u0623", "\u0629", "\u0649", FATHA, "\u0640", "\u0661", "\ue000", "a", "b", " "]
morphemes = st.lists(st.sampled_from(PIECES), max_size=5).map("".join)
codes = st.one_of(
    st.characters(min_codepoint=0xE000, max_codepoint=0xE010),
    st.characters(min_codepoint=0xF0000, max_codepoint=0xF0004),
    st.text(max_size=3),
)
maps = st.dictionaries(morphemes, codes, max_size=25)
texts = st.one_of(st.lists(st.sampled_from(PIECES), max_size=40).map("".join), st.text(max_size=30))


@settings(max_examples=400, deadline=None)
@given(morf_map=maps, text=texts, level=st.sampled_from(LEVELS))
def test_encode_matches_reference(morf_map, text, level):
    assert T.SarfCodec(morf_map, level).encode(text) == reference_encode(text, morf_map, level)


@settings(max_examples=150, deadline=None)
@given(morf_map=maps, text=texts)
def test_module_encode_is_a_medium_codec(morf_map, text):
    assert T.encode(text, morf_map) == T.SarfCodec(morf_map).encode(text) == reference_encode(text, morf_map)
