"""The plain-Python baselines must be exact: a wrong baseline would report false mismatches.

    PYTHONPATH=python .venv/bin/python -m pytest -q bench/test_reference.py
"""

import pytest

import reference

POST_PROCESS_CASES = [
    ("", ""),
    ("   ", ""),
    ("  a   b  ", "a b"),
    ("\u0628 \u064e", "\u0628\u064e"),
    ("\u0628\u064e \u0651", "\u0628\u064e\u0651"),
    ("1 2 3", "123"),
    ("\u0661 2", "\u06612"),
    ("x .", "x."),
    ("\u0647\u0644 \u061f", "\u0647\u0644\u061f"),
    ("a @ b", "a@b"),
    ("a : // b", "a://b"),
    ("name . txt", "name.txt"),
    ("name . txt end", "name.txt end"),
    ("v . 2", "v. 2"),
    ("a . b", "a. b"),
    ("name . txt,", "name. txt,"),
    ("a\nb", "a\nb"),
    ("\na b\n", "a b"),
    # `$` is the end of the whole text, not "before a final newline" as Python's `$` would allow
    ("x . ab\n", "x.ab"),
    # U+001C is whitespace to str.strip() but not White_Space: it survives the trims
    ("\x1ca\x1c", "\x1ca\x1c"),
]


@pytest.mark.parametrize(("text", "expected"), POST_PROCESS_CASES)
def test_post_process(text, expected):
    assert reference.post_process(text) == expected


def test_digit_join_closes_runs_of_single_digits():
    # the first pass closes every other gap (matches cannot overlap), the second the rest
    assert reference.post_process(" ".join("1234567890")) == "1234567890"


def test_byte_level_substitutes():
    d = reference.Decoder({})
    assert d.decode("\u0120hello") == "hello"  # the leading space is trimmed afterwards
    table = reference.byte_level_table()
    assert len(table) == 68
    assert (table[0x100], table[0x120], table[0x121], table[0x142], table[0x143]) == (0, 0x20, 0x7F, 0xA0, 0xAD)
    assert "\u00c3\u00a9".translate(d.table) == "\u00c3\u00a9"


@pytest.mark.parametrize("level", ["light", "medium", "aggressive", "Light", ""])
def test_normalizers_agree_and_fold_by_level(level):
    text = (
        "\u0623\u0625\u0622\u0649\u0663\u06f3\u0624\u0626\u0671\u0629"
        "\u064b\u0652\u0670\u0653\u0640\u200b\u200e\u202b\u2066x"
    )
    outs = {f(text) for f in reference.make_normalizers(level).values()}
    assert len(outs) == 1
    out = outs.pop()
    folded = {"light": "\u0624\u0626\u0671\u0629", "aggressive": "\u0648\u064a\u0627\u0647"}.get(
        level, "\u0648\u064a\u0627\u0629"
    )
    assert out == "\u0627\u0627\u0627\u064a3\u06f3" + folded + "\u0653\u200ex"


def test_leftmost_longest_encoding():
    m = {"\u0627\u0644": "\ue000", "\u0627\u0644\u0643\u062a\u0627\u0628": "\ue001", "ab": "X", "bc": "Y"}
    enc = reference.AcEncoder(m, lambda t: t)
    assert enc.encode("\u0627\u0644\u0643\u062a\u0627\u0628") == "\ue001"
    assert enc.encode("\u0627\u0644\u0643\u0631\u0629") == "\ue000\u0643\u0631\u0629"
    assert enc.encode("abc") == "Xc"


def test_decode_joins_morphemes_and_keeps_unknown_codes():
    d = reference.Decoder({"\u0627\u0644": "\ue000", "\u0643\u062a\u0627\u0628": "\ue001"})
    assert d.decode("\ue000\ue001 \ue005") == "\u0627\u0644\u0643\u062a\u0627\u0628 \ue005"
