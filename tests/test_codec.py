"""SarfCodec as a Python object: construction, levels, stats, roundtrip, hostile input."""

import pytest

from tessarline import _tessarline as T

AL, KITAB = "\u0627\u0644", "\u0643\u062a\u0627\u0628"
MAP = {AL: "\ue000", KITAB: "\ue001"}


def test_empty_map_codec():
    codec = T.SarfCodec({})
    assert codec.num_morphemes == 0
    assert repr(codec) == "SarfCodec(morphemes=0)"
    assert codec.stats() == {"total_morphemes": 0, "basic_pua_codes": 0, "supplementary_pua_codes": 0}
    text = "\u0623\u064e\u0644\u0640\u0649 x"
    assert codec.encode(text) == codec.normalize(text) == T.normalize(text)


def test_stats_count_code_points_not_entries():
    codec = T.SarfCodec({"a": "\ue000\ue001", "b": "\U000f0001", "c": "z", "d": "\U00100000"})
    assert codec.stats() == {"total_morphemes": 4, "basic_pua_codes": 2, "supplementary_pua_codes": 1}
    assert list(codec.stats()) == ["total_morphemes", "basic_pua_codes", "supplementary_pua_codes"]
    assert codec.num_morphemes == 4 and repr(codec) == "SarfCodec(morphemes=4)"
    with pytest.raises(AttributeError):
        codec.num_morphemes = 1


def test_map_is_taken_as_given():
    # Empty keys, multi-character and non-PUA codes are accepted unchecked.
    codec = T.SarfCodec({"": "\ue000", AL: "xy", KITAB: "\ue001"})
    assert codec.num_morphemes == 3
    assert codec.encode(AL + KITAB) == "xy\ue001"


@pytest.mark.parametrize(
    "name, taa_marbuta_kept, hamza_waw_kept",
    [
        ("light", True, True),
        ("medium", True, False),
        ("aggressive", False, False),
        ("Aggressive", True, False),  # level names are case-sensitive; unknown names mean medium
        ("LIGHT", True, False),
        ("", True, False),
        ("extreme", True, False),
    ],
)
def test_level_names(name, taa_marbuta_kept, hamza_waw_kept):
    codec = T.SarfCodec({}, name)
    assert (codec.normalize("\u0629") == "\u0629") is taa_marbuta_kept
    assert (codec.normalize("\u0624") == "\u0624") is hamza_waw_kept
    assert codec.normalize("\u0629\u0624") == T.normalize("\u0629\u0624", name)


def test_roundtrip_results():
    codec = T.SarfCodec(MAP)
    assert codec.roundtrip("") == ("", "", True)
    assert codec.roundtrip(AL + KITAB) == (AL + KITAB, AL + KITAB, True)
    # Marks go in normalization; expected is the normalized text.
    assert codec.roundtrip(AL + "\u0643\u0650\u062a\u064e\u0627\u0628") == (AL + KITAB, AL + KITAB, True)
    # Normalization keeps extra spaces; decoding's clean-up does not.
    for text in [AL + "  " + KITAB, " " + KITAB, KITAB + " "]:
        expected, decoded, ok = codec.roundtrip(text)
        assert expected == text and decoded == " ".join(text.split()) and ok is False
    # A byte-level substitute survives normalization but not decoding.
    assert codec.roundtrip("\u0100") == ("\u0100", "\x00", False)
    # No key at all: decoded is the normalized text after clean-up.
    assert codec.roundtrip("abc") == ("abc", "abc", True)


def test_module_functions_equal_codec_methods():
    for text in ["", AL + KITAB, "\u0627\u0644 \u0643\u062a\u0627\u0628\u0629 1 2", "\ue000 \ue001"]:
        assert T.encode(text, MAP) == T.SarfCodec(MAP).encode(text)
        assert T.decode(text, MAP) == T.SarfCodec(MAP).decode(text)
    assert T.encode(KITAB, {}) == T.normalize(KITAB)


HOSTILE = [
    "",
    "\x00\x01\x1f\x7f\x85",
    "\ue000" * 50,
    "\uffff\ufffe\ufeff",
    "\U0010ffff\U0001f600\U000f0000",
    "\u200b\u200c\u200d\u202a\u202e\u2066\u2069",
    " " * 100 + "\t\n\r\x0b\x0c",
    "\u0100\u0120\u0143\u0144",
    "a" * 100_000,
    ("\u0627\u0644\u0643\u062a\u0627\u0628 " * 20_000),
]


@pytest.mark.parametrize("text", HOSTILE, ids=range(len(HOSTILE)))
def test_every_str_gives_a_result(text):
    codec = T.SarfCodec(MAP, "aggressive")
    for result in [codec.encode(text), codec.decode(text), codec.normalize(text), T.decode_bytes(text),
                   T.encode(text, MAP), T.decode(text, MAP), T.normalize(text, "light")]:
        assert type(result) is str
    expected, decoded, ok = codec.roundtrip(text)
    assert type(expected) is str and type(decoded) is str and ok is (expected == decoded)


def test_texts_do_not_keep_a_utf8_copy_after_the_call():
    # The interpreter would cache a UTF-8 copy on every non-ASCII str it
    # encodes; for a corpus held in memory that doubles its size.
    import sys

    codec = T.SarfCodec(MAP)
    texts = [AL + KITAB + " " + str(i) for i in range(3)] + ["caf\u00e9", "\U0001f600"]
    sizes = [sys.getsizeof(t) for t in texts]
    codec.encode(texts[0])
    codec.decode(texts[1])
    codec.encode_batch(texts)
    T.normalize(texts[2])
    T.SarfCodec({texts[3]: texts[4]})
    assert [sys.getsizeof(t) for t in texts] == sizes
