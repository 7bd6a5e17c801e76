"""Plain-Python formulations of what the native module does: the baselines of the benchmarks.

Each one is written to be as fast as plain CPython allows (C-level ``str`` methods, one
compiled ``re`` pattern per rule, ``ahocorasick_rs`` for the multi-pattern matcher) while giving
exactly the module's output, so that the benchmarks compare equal work.
"""

from __future__ import annotations

import re
from typing import Callable

# ---- normalization by level ------------------------------------------------------------------

# Removed at every level: the marks U+064B..U+0652 and U+0670, tatweel, invisible formatting.
DELETED = (
    [chr(c) for c in range(0x064B, 0x0653)]
    + ["\u0670", "\u0640"]
    + [chr(c) for c in range(0x200B, 0x200E)]
    + ["\ufeff"]
    + [chr(c) for c in range(0x202A, 0x202F)]
    + [chr(c) for c in range(0x2066, 0x206A)]
)

_LIGHT_FOLDS = [
    ("\u0623", "\u0627"),
    ("\u0625", "\u0627"),
    ("\u0622", "\u0627"),
    ("\u0649", "\u064a"),
] + [(chr(0x0660 + k), chr(0x30 + k)) for k in range(10)]
_MEDIUM_FOLDS = _LIGHT_FOLDS + [("\u0624", "\u0648"), ("\u0626", "\u064a"), ("\u0671", "\u0627")]
_AGGRESSIVE_FOLDS = _MEDIUM_FOLDS + [("\u0629", "\u0647")]

FOLDS = {"light": _LIGHT_FOLDS, "medium": _MEDIUM_FOLDS, "aggressive": _AGGRESSIVE_FOLDS}


def level_folds(level: str) -> list[tuple[str, str]]:
    """The one-to-one folds of a level name; any unknown name means medium."""
    return FOLDS.get(level if level in ("light", "aggressive") else "medium")


def make_normalizers(level: str = "medium") -> dict[str, Callable[[str], str]]:
    """Every plain-Python formulation of one level's normalization, by name.

    All of them give identical output (the folds never chain and never produce a deleted
    character, so their order does not matter); which is fastest depends on the text.
    """
    folds = level_folds(level)
    delete_table = {ord(c): None for c in DELETED}
    full_table = dict(delete_table)
    full_table.update({ord(a): b for a, b in folds})
    delete_re = re.compile("[" + "".join(DELETED) + "]")

    def translate_then_replace(text: str) -> str:
        text = text.translate(delete_table)
        for a, b in folds:
            text = text.replace(a, b)
        return text

    def one_translate(text: str) -> str:
        return text.translate(full_table)

    def re_then_replace(text: str) -> str:
        text = delete_re.sub("", text)
        for a, b in folds:
            text = text.replace(a, b)
        return text

    def replace_only(text: str) -> str:
        for c in DELETED:
            text = text.replace(c, "")
        for a, b in folds:
            text = text.replace(a, b)
        return text

    return {
        "translate(deletions) + str.replace chain": translate_then_replace,
        "one str.translate": one_translate,
        "re.sub(deletions) + str.replace chain": re_then_replace,
        "str.replace chain only": replace_only,
    }


def normalize(text: str, level: str = "medium") -> str:
    return make_normalizers(level)["str.replace chain only"](text)


# ---- byte-level decoding and post-processing ------------------------------------------------

# Unicode White_Space, written out: Python's str.isspace() and re's \s also accept U+001C..U+001F.
WHITE_SPACE = (
    "\t\n\x0b\x0c\r \x85\xa0\u1680"
    + "".join(chr(c) for c in range(0x2000, 0x200B))
    + "\u2028\u2029\u202f\u205f\u3000"
)
_WS_CLASS = "[" + re.escape(WHITE_SPACE) + "]"


def byte_level_table() -> dict[int, int]:
    """The 68 substitutes of the GPT-2 byte-to-unicode mapping, back to their byte values."""
    printable = set(range(0x21, 0x7F)) | set(range(0xA1, 0xAD)) | set(range(0xAE, 0x100))
    others = [b for b in range(256) if b not in printable]
    return {0x100 + i: b for i, b in enumerate(others)}


_LETTER = "[\u0621-\u064a\u066e-\u06d3]"
_DIAC = "[\u064b-\u0655\u0670]"
_DIGIT = "[0-9\u0660-\u0669]"

SPACE_COLLAPSE = re.compile("  +")
RULES_REPEATED = [
    (re.compile(f"({_LETTER}) ({_DIAC})"), r"\1\2", 15),
    (re.compile(f"({_DIAC}) ({_DIAC})"), r"\1\2", 10),
]
PUNCT_JOIN = re.compile(" ([.?\u061f])")
DIGIT_JOIN = re.compile(f"({_DIGIT}) ({_DIGIT})")
AT_JOIN = re.compile(" ?@ ?")
SCHEME_JOIN = re.compile(" ?: ?// ?")
# `$` of the rule means the end of the whole text: \Z in Python (its `$` also matches before a final \n).
DOT_WORD_JOIN = re.compile(r" ?\. ?([a-zA-Z]{2,})(" + _WS_CLASS + r"|\Z)")


def _repeat(rx: re.Pattern[str], repl: str, text: str, cap: int) -> str:
    for _ in range(cap):
        new = rx.sub(repl, text)
        if new == text:
            break
        text = new
    return text


def post_process(text: str) -> str:
    text = SPACE_COLLAPSE.sub(" ", text).strip(WHITE_SPACE)
    if not text:
        return ""
    for rx, repl, cap in RULES_REPEATED:
        text = _repeat(rx, repl, text, cap)
    text = PUNCT_JOIN.sub(r"\1", text)
    text = _repeat(DIGIT_JOIN, r"\1\2", text, 5)
    text = AT_JOIN.sub("@", text)
    text = SCHEME_JOIN.sub("://", text)
    text = DOT_WORD_JOIN.sub(r".\1\2", text)
    return SPACE_COLLAPSE.sub(" ", text).strip(WHITE_SPACE)


class Decoder:
    """Byte-level decoding and code replacement in one ``str.translate`` (neither stage's output
    is the other's input: substitutes decode below U+0100, codes are single PUA characters),
    then the post-processing rules."""

    def __init__(self, morf_map: dict[str, str]):
        table: dict[int, str | int] = dict(byte_level_table())
        for morpheme, code in morf_map.items():
            if len(code) != 1:
                raise ValueError("this baseline handles one-character codes only")
            table[ord(code)] = morpheme
        self.table = table

    def decode(self, text: str) -> str:
        return post_process(text.translate(self.table))


# ---- encoding -----------------------------------------------------------------------------------


class AcEncoder:
    """Leftmost-longest Aho-Corasick over the normalized text, then a join of the pieces."""

    def __init__(self, morf_map: dict[str, str], normalize: Callable[[str], str]):
        import ahocorasick_rs as ac

        keys = [k for k in morf_map if k]
        self.codes = [morf_map[k] for k in keys]
        self.matcher = ac.AhoCorasick(
            keys, matchkind=ac.MatchKind.LeftmostLongest, implementation=ac.Implementation.DFA
        )
        self.normalize = normalize

    def encode(self, text: str) -> str:
        text = self.normalize(text)
        codes = self.codes
        pieces = []
        append = pieces.append
        last = 0
        for index, start, end in self.matcher.find_matches_as_indexes(text):
            append(text[last:start])
            append(codes[index])
            last = end
        append(text[last:])
        return "".join(pieces)
