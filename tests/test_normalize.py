"""Normalization by level: the fused native pass against the eight steps written out in Python."""

import re

import pytest
from hypothesis import given, settings
from hypothesis import strategies as st

from tessarline import _tessarline as T

LEVELS = ("light", "medium", "aggressive")
CODECS = {level: T.SarfCodec({}, level) for level in LEVELS}

MARKS = re.compile("[\u064b-\u0652\u0670]")
INVISIBLE = re.compile("[\u200b-\u200d\ufeff\u200c\u200d\u202a-\u202e\u2066-\u2069]")


def reference(text: str, level: str) -> str:
    """The folds of a level, one whole-text pass per step, in order."""
    if level not in ("light", "aggressive"):
        level = "medium"
    text = MARKS.sub("", text)
    text = text.replace("\u0640", "")
    text = INVISIBLE.sub("", text)
    for form in "\u0623\u0625\u0622":
        text = text.replace(form, "\u0627")
    text = text.replace("\u0649", "\u064a")
    for k in range(10):
        text = text.replace(chr(0x0660 + k), chr(0x30 + k))
    if level in ("medium", "aggressive"):
        text = text.replace("\u0624", "\u0648")
        text = text.replace("\u0626", "\u064a")
        text = text.replace("\u0671", "\u0627")
    if level == "aggressive":
        text = text.replace("\u0629", "\u0647")
    return text


def chars(*ranges: tuple[int, int]) -> list[str]:
    return [chr(c) for first, last in ranges for c in range(first, last + 1)]


ALPHABET = (
    chars((0x0621, 0x064A), (0x064B, 0x0656), (0x0670, 0x0671), (0x0660, 0x0669), (0x06F0, 0x06F9))
    + chars((0x200B, 0x200F), (0x2060, 0x2064), (0x202A, 0x202E), (0x2066, 0x2069), (0xFEFF, 0xFEFF))
    + chars((0x0622, 0x0626), (0x0629, 0x0629), (0x0640, 0x0640), (0x0649, 0x0649))  # weighted up
    + [" ", " ", " ", "\t", "\n", "\r", "\u00a0", "\u2065", "\u206a"]
    + chars((ord("a"), ord("z")), (ord("A"), ord("Z")), (ord("0"), ord("9")))
)

TEXT = st.text(
    alphabet=st.one_of(
        st.sampled_from(ALPHABET),
        st.characters(min_codepoint=0xE000, max_codepoint=0xF8FF),  # basic PUA
        st.characters(min_codepoint=0xF0000, max_codepoint=0x10FFFD),  # planes 15 and 16
        st.characters(min_codepoint=0x10000, max_codepoint=0x1FFFF),  # other astral characters
        st.characters(min_codepoint=0x0600, max_codepoint=0x06FF),  # the rest of the Arabic block
    ),
    max_size=60,
)


@settings(max_examples=1500)
@given(text=TEXT, level=st.sampled_from(LEVELS))
def test_matches_the_steps_one_by_one(text, level):
    expected = reference(text, level)
    assert T.normalize(text, level) == expected
    assert CODECS[level].normalize(text) == expected


@settings(max_examples=300)
@given(text=TEXT)
def test_default_and_unknown_levels_are_medium(text):
    expected = reference(text, "medium")
    assert T.normalize(text) == expected
    assert T.normalize(text, level="Aggressive") == expected
    assert T.normalize(text, "") == expected


B = "\u0628"  # an Arabic letter no level touches


@pytest.mark.parametrize(
    "text, level, expected",
    [
        ("", "light", ""),
        ("", "aggressive", ""),
        # level names: exact bytes only
        ("\u0629\u0624", "aggressive", "\u0647\u0648"),
        ("\u0629\u0624", "Aggressive", "\u0629\u0648"),
        ("\u0629\u0624", "", "\u0629\u0648"),
        ("\u0629\u0624", "strong", "\u0629\u0648"),
        ("\u0629\u0624", "LIGHT", "\u0629\u0648"),
        ("\u0629\u0624", "light", "\u0629\u0624"),
        # teh marbuta only at aggressive; alef maqsura everywhere
        ("\u0629\u0649", "light", "\u0629\u064a"),
        ("\u0629\u0649", "aggressive", "\u0647\u064a"),
        # Arabic-Indic digits fold, Eastern Arabic-Indic digits stay
        ("\u0663\u06f3", "light", "3\u06f3"),
        ("\u0663\u06f3", "aggressive", "3\u06f3"),
        # light keeps spacing, CR and the marks that are not formatting characters
        (f"  {B}  {B}\r\n ", "light", f"  {B}  {B}\r\n "),
        (f"{B}\u200e\u200f\u2060{B}", "light", f"{B}\u200e\u200f\u2060{B}"),
        (f"{B}\u200b\u200c\u200d\ufeff\u202b{B}", "light", f"{B}{B}"),
        # marks U+064B..U+0652 and U+0670 go, U+0653..U+0656 stay
        (f"{B}\u064b\u0650\u0652\u0670\u0653\u0654\u0655\u0656", "medium", f"{B}\u0653\u0654\u0655\u0656"),
        ("\u0643\u0640\u0640\u062a\u0627\u0628", "light", "\u0643\u062a\u0627\u0628"),
        # PUA and astral characters pass through
        ("\ue000\U000f0001\U0001f600", "aggressive", "\ue000\U000f0001\U0001f600"),
    ],
)
def test_named_cases(text, level, expected):
    assert T.normalize(text, level) == expected
    assert T.SarfCodec({}, level).normalize(text) == expected
