"""Decoding: byte-level decoding, code replacement and the spacing clean-up.

The native clean-up is a hand-written scanner; here it is checked against the
rules written plainly as Python regular expressions, applied one by one with
their repetition caps.
"""

import re

import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

from tessarline import _tessarline as T

# ---- reference ---------------------------------------------------------------

# Unicode White_Space. Python's own \s and str.strip() differ from it (they also
# take U+001C..U+001F), so the reference spells the set out.
WHITE_SPACE = "\t\n\x0b\x0c\r \x85\xa0\u1680" + "".join(map(chr, range(0x2000, 0x200B))) + "\u2028\u2029\u202f\u205f\u3000"
WS_CLASS = "[" + re.escape(WHITE_SPACE) + "]"

LETTER = "[\u0621-\u064a\u066e-\u06d3]"
MARK = "[\u064b-\u0655\u0670]"
DIGIT = "[0-9\u0660-\u0669]"

SPACE_COLLAPSE = (re.compile("  +"), " ")
LETTER_MARK = (re.compile(f"({LETTER}) ({MARK})"), r"\1\2")
MARK_MARK = (re.compile(f"({MARK}) ({MARK})"), r"\1\2")
PUNCTUATION = (re.compile(" ([.?\u061f])"), r"\1")
DIGITS = (re.compile(f"({DIGIT}) ({DIGIT})"), r"\1\2")
AT_SIGN = (re.compile(" ?@ ?"), "@")
SCHEME = (re.compile(" ?: ?// ?"), "://")
# \Z, not $: Python's $ also matches before a final newline.
DOT_WORD = (re.compile(r" ?\. ?([a-zA-Z]{2,})(" + WS_CLASS + r"|\Z)"), r".\1\2")


def apply(rule, text):
    pattern, replacement = rule
    return pattern.sub(replacement, text)


def repeat(rule, text, cap):
    for _ in range(cap):
        after = apply(rule, text)
        if after == text:
            break
        text = after
    return text


def reference_postprocess(text):
    text = apply(SPACE_COLLAPSE, text).strip(WHITE_SPACE)
    if not text:
        return ""
    text = repeat(LETTER_MARK, text, 15)
    text = repeat(MARK_MARK, text, 10)
    text = apply(PUNCTUATION, text)
    text = repeat(DIGITS, text, 5)
    text = apply(AT_SIGN, text)
    text = apply(SCHEME, text)
    text = apply(DOT_WORD, text)
    return apply(SPACE_COLLAPSE, text).strip(WHITE_SPACE)


def gpt2_byte_to_char():
    """The published GPT-2 rule: printable bytes stand for themselves, the other
    68 take U+0100, U+0101, ... in ascending byte order."""
    printable = [*range(0x21, 0x7F), *range(0xA1, 0xAD), *range(0xAE, 0x100)]
    table = {b: chr(b) for b in printable}
    for n, b in enumerate(b for b in range(256) if b not in table):
        table[b] = chr(0x100 + n)
    return table


CHAR_TO_BYTE = {c: b for b, c in gpt2_byte_to_char().items()}


def reference_decode_bytes(text):
    return "".join(chr(CHAR_TO_BYTE[c]) if ord(c) >= 0x100 and c in CHAR_TO_BYTE else c for c in text)


# ---- generated text ------------------------------------------------------------

ARABIC_LETTERS = [chr(c) for c in (0x0620, 0x0621, 0x0622, 0x0623, 0x0624, 0x0625, 0x0626, 0x0627, 0x0628, 0x0629,
                                   0x062A, 0x0633, 0x063F, 0x0640, 0x0644, 0x0645, 0x064A, 0x066D, 0x066E, 0x0671,
                                   0x067E, 0x0686, 0x06A9, 0x06AF, 0x06C1, 0x06CC, 0x06D2, 0x06D3, 0x06D4)]
MARKS = [chr(c) for c in range(0x064B, 0x0657)] + ["\u0670", "\u066f"]  # U+0656 and U+066F lie just outside
DIGIT_CHARS = list("0123456789") + [chr(c) for c in range(0x0660, 0x066A)] + ["\u06f0", "\u06f5", "\u066a"]
SPACING = [" "] * 12 + ["  ", "\t", "\n", "\r", "\x0b", "\x0c", "\x85", "\xa0", "\u1680", "\u2000", "\u200a",
                        "\u2028", "\u2029", "\u202f", "\u205f", "\u3000", "\u200b", "\u180e", "\ufeff",
                        "\x1c", "\x1d", "\x1e", "\x1f"]
PUNCT = list(".?\u061f@:/,!") + ["//", "://", " . ", " @ ", " : // "]
ASCII = list("abxzAZ") + ["txt", "com", "www", "ab"]
OTHER = ["\ue000", "\ue001", "\U000f0000", "\u00c3\u00a9", "\x00", "\x7f", "\xad"]
SUBSTITUTES = [chr(c) for c in range(0x00FF, 0x0145)] + ["\u0120"] * 6  # U+0120 becomes a space

char = st.sampled_from(ARABIC_LETTERS + MARKS + DIGIT_CHARS + SPACING + PUNCT + ASCII + OTHER + SUBSTITUTES)
space = st.sampled_from([" "] * 6 + ["\u0120", "  ", "\t"])


def spaced(parts):
    """Elements joined by single spaces (sometimes a byte-level space or a double space)."""
    return st.lists(parts, min_size=2, max_size=24).flatmap(
        lambda xs: st.lists(space, min_size=len(xs) - 1, max_size=len(xs) - 1).map(
            lambda seps: xs[0] + "".join(s + x for s, x in zip(seps, xs[1:]))))


# Runs that make the repeated joins fire several times in a row: "1 2 3 4 ...",
# a letter followed by a spaced stack of marks, U+0670 chains (letter and mark at once).
fragment = st.one_of(
    spaced(st.sampled_from(DIGIT_CHARS)),
    st.tuples(st.sampled_from(ARABIC_LETTERS), spaced(st.sampled_from(MARKS))).map(lambda t: t[0] + " " + t[1]),
    spaced(st.sampled_from(["\u0670", "\u0628", "\u064e", "\u0651"])),
    spaced(st.sampled_from(ARABIC_LETTERS + MARKS)),
    spaced(st.sampled_from(ASCII + [".", "@", ":", "//", "?", "\u061f", "\n", "\u3000"])),
)
text = st.lists(st.one_of(char, char, char, fragment), max_size=40).map("".join)

# Addresses, schemes and dotted names with spaces in between, where the at-sign,
# scheme and dot-word joins meet each other and the punctuation join.
ADDRESS_PARTS = [" ", " ", ":", " :", ": ", "//", " //", "// ", "://", ".", " .", ". ", "@", " @ ", "ab", "txt",
                 "com ", ". ab ", "x", "?", "\u061f", ",", "1", "\t", "\n", "\u2028", "\u0120"]
address = st.lists(st.sampled_from(ADDRESS_PARTS), max_size=30).map("".join)

DIFF = settings(max_examples=2000, deadline=None, suppress_health_check=[HealthCheck.too_slow])


# ---- differential tests --------------------------------------------------------


@DIFF
@given(text)
def test_decode_bytes_matches_reference(s):
    assert T.decode_bytes(s) == reference_decode_bytes(s)


@given(st.text())
def test_decode_bytes_matches_reference_on_any_text(s):
    assert T.decode_bytes(s) == reference_decode_bytes(s)


@DIFF
@given(text)
def test_decode_with_empty_map_matches_reference(s):
    assert T.decode(s, {}) == reference_postprocess(reference_decode_bytes(s))


@DIFF
@given(address)
def test_decode_of_addresses_with_empty_map_matches_reference(s):
    assert T.decode(s, {}) == reference_postprocess(reference_decode_bytes(s))


@given(st.text())
def test_decode_with_empty_map_matches_reference_on_any_text(s):
    assert T.decode(s, {}) == reference_postprocess(reference_decode_bytes(s))


def test_reference_reaches_repeated_joins():
    """The generator is only worth something if the repeated joins need more than one pass."""
    assert apply(DIGITS, "1 2 3") == "12 3"
    assert reference_postprocess("1 2 3 4 5 6 7 8") == "12345678"
    assert apply(LETTER_MARK, "\u0628 \u0670 \u064e") == "\u0628\u0670 \u064e"
    assert reference_postprocess("\u0628 \u0670 \u064e") == "\u0628\u0670\u064e"


# ---- named cases ------------------------------------------------------------------

POSTPROCESS_CASES = [
    ("", ""),
    ("   ", ""),
    ("  a   b  ", "a b"),
    ("\u0628 \u064e", "\u0628\u064e"),
    ("\u0628\u064e \u0651", "\u0628\u064e\u0651"),  # two marks: the mark join, U+064E is no letter
    ("\u0628 \u0656", "\u0628 \u0656"),  # U+0656 is not a diacritic here
    ("\u0628 \u0670 \u0670 \u064e", "\u0628\u0670\u0670\u064e"),  # U+0670 is letter and mark
    # Long chains settle within the repetition caps: a skipped pair is joined by the next pass.
    ("\u0628 " + " ".join(["\u0670"] * 40) + " \u064e", "\u0628" + "\u0670" * 40 + "\u064e"),
    (" ".join(["\u064e"] * 30), "\u064e" * 30),
    ("1 2 3", "123"),
    ("1 2 3 4 5 6 7 8 9 0 1 2 3 4 5 6 7 8 9 0", "12345678901234567890"),
    ("\u0661 2", "\u06612"),
    ("\u06f1 2", "\u06f1 2"),  # extended Arabic-Indic digits are not joined
    ("x .", "x."),
    ("\u0647\u0644 \u061f", "\u0647\u0644\u061f"),
    ("a ?", "a?"),
    ("a @ b", "a@b"),
    ("a @ @ b", "a@@b"),
    ("a : // b", "a://b"),
    ("a :// b", "a://b"),
    ("a: //b", "a://b"),
    ("a : / / b", "a : / / b"),
    ("a :// :// b", "a://://b"),
    ("name . txt", "name.txt"),
    ("name . txt end", "name.txt end"),
    ("v . 2", "v. 2"),
    ("a . b", "a. b"),
    ("name . txt,", "name. txt,"),
    ("name . txt\tx", "name.txt\tx"),
    ("name . txt ?", "name. txt?"),  # the space after the letters is gone before the dot-word join
    ("a. bc .de", "a. bc.de"),  # the dot before "de" takes the space first
    ("a .bc . de", "a.bc.de"),
    ("line one\nline two", "line one\nline two"),
    ("\nab\n", "ab"),
    ("\u3000\xa0 a \x85", "a"),
    ("\x1ca\x1f", "\x1ca\x1f"),  # not White_Space, so not trimmed
]


@pytest.mark.parametrize(("raw", "expected"), POSTPROCESS_CASES)
def test_postprocess_cases(raw, expected):
    assert T.decode(raw, {}) == expected
    assert reference_postprocess(raw) == expected


@pytest.mark.parametrize("ws", list(WHITE_SPACE))
def test_every_white_space_character_is_trimmed_and_ends_a_dot_word(ws):
    assert T.decode(ws + "a" + ws, {}) == "a"
    assert T.decode("x . ab" + ws + "y", {}) == "x.ab" + ws + "y"


@pytest.mark.parametrize("other", ["\x1c", "\x1d", "\x1e", "\x1f", "\u180e", "\u200b", "\u2060", "\ufeff", "\xad"])
def test_characters_outside_white_space_are_kept(other):
    assert T.decode(other + "a" + other, {}) == other + "a" + other
    assert T.decode("x . ab" + other + "y", {}) == "x. ab" + other + "y"


DECODE_BYTES_CASES = [
    ("", ""),
    ("\u0120hello", " hello"),
    ("\u010a", "\n"),
    ("\u0109", "\t"),
    ("\u0100", "\x00"),
    ("\u011f", "\x1f"),
    ("\u0121", "\x7f"),
    ("\u0122", "\x80"),
    ("\u0142", "\xa0"),
    ("\u0143", "\xad"),
    ("\u0144\u00ff\u00a0\u0628\ue000\U000f0000", "\u0144\u00ff\u00a0\u0628\ue000\U000f0000"),
    ("\u00c3\u00a9", "\u00c3\u00a9"),  # byte-level spelling of U+00E9 is not reassembled
    ("\u0141\u0142\u0143\u0144\u0145", "\x9f\xa0\xad\u0144\u0145"),  # the C5 80..C5 83 end of the range
    ("\u013f\u0140", "\x9d\x9e"),  # across the C4/C5 lead boundary
]


@pytest.mark.parametrize(("raw", "expected"), DECODE_BYTES_CASES)
def test_decode_bytes_cases(raw, expected):
    assert T.decode_bytes(raw) == expected
    assert reference_decode_bytes(raw) == expected


def test_byte_level_spaces_feed_the_clean_up():
    # U+0120 becomes a space before the clean-up runs, so it is collapsed and trimmed.
    assert T.decode("\u0120\u0120a\u0120\u0120\u0120b\u0120", {}) == "a b"
    assert T.decode("1\u01202", {}) == "12"


# ---- code replacement ----------------------------------------------------------

AL, KITAB = "\u0627\u0644", "\u0643\u062a\u0627\u0628"
MAP = {AL: "\ue000", KITAB: "\ue001"}


@pytest.mark.parametrize(
    ("morf_map", "encoded", "expected"),
    [
        (MAP, "\ue000\ue001", AL + KITAB),  # morphemes are joined as they stand
        (MAP, "\ue000 \ue001", AL + " " + KITAB),
        (MAP, "\ue005\ue000", "\ue005" + AL),  # a PUA character that is no code passes
        (MAP, "", ""),
        (MAP, " \u0120\t\n", ""),
        ({"a": "\ue000", "bb": "\ue000\ue001"}, "\ue000\ue001\ue000", "bba"),  # the longer code wins
        ({"a": "\ue000", "bb": "\ue000\ue001"}, "\ue000\ue000\ue001", "abb"),
        ({"b": "\U000f0000", "x": "\ue000"}, "\U000f0000\ue000", "bx"),
        ({"x\u0120y": "\ue000"}, "\ue000", "x\u0120y"),  # byte-level decoding ran before replacement
        ({"\u0120": "\ue000"}, "\u0120\ue000\u0120", "\u0120"),
        ({"1 ": "\ue000", "2": "\ue001"}, "\ue000\ue001", "12"),  # the clean-up runs after replacement
        ({"\u0628 ": "\ue000"}, "\ue000\u064e", "\u0628\u064e"),
        ({"ab": "\ue000"}, "x\u0120.\u0120\ue000", "x.ab"),
    ],
)
def test_code_replacement(morf_map, encoded, expected):
    assert T.decode(encoded, morf_map) == expected
    assert T.SarfCodec(morf_map).decode(encoded) == expected


def reference_replace(text, code_to_morpheme):
    """Leftmost-longest replacement over characters (codes are whole characters)."""
    longest = max(map(len, code_to_morpheme), default=0)
    out, i = [], 0
    while i < len(text):
        for k in range(min(longest, len(text) - i), 0, -1):
            if text[i:i + k] in code_to_morpheme:
                out.append(code_to_morpheme[text[i:i + k]])
                i += k
                break
        else:
            out.append(text[i])
            i += 1
    return "".join(out)


codes = st.lists(st.sampled_from(["\ue000", "\ue001", "\ue002", "\U000f0000"]), min_size=1, max_size=3).map("".join)
morphemes = st.lists(st.sampled_from(ARABIC_LETTERS + MARKS + [" ", "\u0120", "1", "."]), max_size=4).map("".join)
code_maps = st.dictionaries(codes, morphemes, max_size=8)
encoded_text = st.lists(st.one_of(codes, char), max_size=30).map("".join)


@settings(max_examples=1000, deadline=None)
@given(code_maps, encoded_text)
def test_decode_matches_reference(code_to_morpheme, s):
    morf_map = {m: c for c, m in code_to_morpheme.items()}
    # Two codes for one morpheme collapse to one map entry; decode through what is left.
    reverse = {c: m for m, c in morf_map.items()}
    expected = reference_postprocess(reference_replace(reference_decode_bytes(s), reverse))
    assert T.decode(s, morf_map) == expected
    assert T.SarfCodec(morf_map).decode(s) == expected
