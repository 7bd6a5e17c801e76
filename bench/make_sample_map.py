#!/usr/bin/env python3
"""Builds the sample morpheme maps from real Arabic sources (deterministic).

- The benchmark map (about 10,000 entries, cached as ``bench/data/cache/sample_map.json``): every
  prefix and suffix string of the hunspell-ar affix rules, then the most frequent words and stems
  of the benchmark texts, all normalized at the medium level.
- The demo data (``examples/data/``, committed): a small map of the commonest affixes, words and
  stems, and a handful of real sentences.

Codes run from U+E000 upward through the basic Private Use Area (6,400 codes) and continue in
plane 15 at U+F0000, in rank order, so the commonest morphemes get the shorter codes.

    python bench/make_sample_map.py            # refresh the cache and examples/data/
"""

from __future__ import annotations

import json
import sys
from collections import Counter
from pathlib import Path

HERE = Path(__file__).resolve().parent
if str(HERE) not in sys.path:
    sys.path.insert(0, str(HERE))

import corpus  # noqa: E402
import reference  # noqa: E402

MAP_SIZE = 10_000
EXAMPLE_AFFIXES = (20, 30)  # prefixes, suffixes
EXAMPLE_WORDS = 200
EXAMPLES_DIR = HERE.parent / "examples" / "data"
BASIC_PUA = (0xE000, 0xF8FF)
PLANE15_PUA = 0xF0000

_normalize = reference.make_normalizers("medium")["str.replace chain only"]
_PUNCT = "،.؟!:؛,;()«»\"'"


def code_for(rank: int) -> str:
    basic = BASIC_PUA[1] - BASIC_PUA[0] + 1
    return chr(BASIC_PUA[0] + rank) if rank < basic else chr(PLANE15_PUA + rank - basic)


def _is_arabic_token(token: str) -> bool:
    letters = sum(1 for c in token if "\u0621" <= c <= "\u064a")
    return letters >= 2 and all("\u0600" <= c <= "\u06ff" or "\u08a0" <= c <= "\u08ff" for c in token)


def _dedup(items):
    seen: set[str] = set()
    return [x for x in items if x and not (x in seen or seen.add(x))]


def affixes() -> tuple[list[str], list[str]]:
    aff, _ = corpus.hunspell()
    return (
        _dedup(_normalize(a) for a in aff.affix_strings("PFX")),
        _dedup(_normalize(a) for a in aff.affix_strings("SFX")),
    )


def word_counts() -> Counter[str]:
    counts: Counter[str] = Counter()
    for text in (corpus.vowelled(), corpus.modern()):
        for token in _normalize(text).split():
            token = token.strip(_PUNCT)
            if _is_arabic_token(token):
                counts[token] += 1
    return counts


def stem_counts(words: Counter[str], prefixes: list[str], suffixes: list[str]) -> Counter[str]:
    """Counts of dictionary stems found by stripping one known prefix and one known suffix
    (either may be empty, not both) from each corpus word; the longest such stem is taken."""
    _, dic = corpus.hunspell()
    stems = {_normalize(e.word) for e in dic if e.section in ("names", "verb.huns", "tools")}
    pset, sset = set(prefixes), set(suffixes)
    max_p = max(map(len, prefixes))
    max_s = max(map(len, suffixes))
    counts: Counter[str] = Counter()
    for word, n in words.items():
        best = ""
        for i in range(0, min(max_p, len(word) - 2) + 1):
            if i and word[:i] not in pset:
                continue
            for j in range(0, min(max_s, len(word) - i - 2) + 1):
                if (i or j) and (not j or word[len(word) - j :] in sset):
                    middle = word[i : len(word) - j]
                    if len(middle) > len(best) and middle in stems:
                        best = middle
        if best:
            counts[best] += n
    return counts


def ranked_entries() -> tuple[list[str], list[str], list[str], Counter[str]]:
    prefixes, suffixes = affixes()
    words = word_counts()
    stems = stem_counts(words, prefixes, suffixes)
    combined = Counter(words)
    combined.update(stems)
    ranked = sorted(combined, key=lambda w: (-combined[w], w))
    return prefixes, suffixes, ranked, words


def build_sample_map(size: int = MAP_SIZE) -> dict[str, str]:
    prefixes, suffixes, ranked, _ = ranked_entries()
    keys = _dedup(prefixes + suffixes + ranked)[:size]
    return {k: code_for(i) for i, k in enumerate(keys)}


def sample_map() -> dict[str, str]:
    """The cached benchmark map."""
    text = corpus.cached("sample_map.json", lambda: json.dumps(build_sample_map(), ensure_ascii=False))
    return json.loads(text)


def build_example_map() -> dict[str, str]:
    prefixes, suffixes, ranked, words = ranked_entries()

    def starts(p: str) -> int:
        return sum(n for w, n in words.items() if len(w) > len(p) + 1 and w.startswith(p))

    def ends(s: str) -> int:
        return sum(n for w, n in words.items() if len(w) > len(s) + 1 and w.endswith(s))

    top_p = sorted(prefixes, key=lambda p: (-starts(p), p))[: EXAMPLE_AFFIXES[0]]
    top_s = sorted(suffixes, key=lambda s: (-ends(s), s))[: EXAMPLE_AFFIXES[1]]
    keys = _dedup(top_p + top_s + ranked)[: sum(EXAMPLE_AFFIXES) + EXAMPLE_WORDS]
    return {k: code_for(i) for i, k in enumerate(keys)}


# Verses shown in the demo: (surah, first verse, last verse).
_EXAMPLE_VERSES = [(1, 1, 4), (2, 255, 255), (112, 1, 2)]


def build_example_sentences() -> list[str]:
    mushaf = corpus._mushaf()
    out = []
    for surah, first, last in _EXAMPLE_VERSES:
        for n in range(first, last + 1):
            ayah = mushaf.ayah(surah, n)
            segment = []
            for w in ayah.word_list:  # the first pause-delimited segment keeps lines short
                segment.append(w.text)
                if any(m.kind == "waqf" for m in w.marks):
                    break
            out.append(" ".join(segment))
    ayah = mushaf.ayah(2, 255)
    modern = " ".join(ayah.rasm_imlai[:7])
    number = "".join(chr(0x0660 + int(d)) for d in "255")
    out.append(f"سورة البقرة، الآية {number}: {modern}.")
    return out


def write_examples(directory: Path = EXAMPLES_DIR) -> None:
    directory.mkdir(parents=True, exist_ok=True)
    m = build_example_map()
    # One entry a line, morphemes as text and codes as \u escapes (PUA characters do not print).
    lines = [f" {json.dumps(k, ensure_ascii=False)}: {json.dumps(v)}" for k, v in m.items()]
    (directory / "morf_map.json").write_text("{\n" + ",\n".join(lines) + "\n}\n", encoding="utf-8")
    (directory / "sentences.txt").write_text("\n".join(build_example_sentences()) + "\n", encoding="utf-8")


def main() -> int:
    corpus.sentences()  # fills the rest of the cache
    m = sample_map()
    basic = sum(1 for c in m.values() if ord(c) <= BASIC_PUA[1])
    print(f"sample map: {len(m)} entries ({basic} basic PUA, {len(m) - basic} plane 15) in {corpus.CACHE_DIR}")
    write_examples()
    print(f"examples: {EXAMPLES_DIR}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
