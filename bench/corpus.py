"""Benchmark texts built from real Arabic sources, cached under ``bench/data/cache/``.

Sources:
- ``quran-text`` (PyPI): the fully vowelled Uthmani text of the Hafs reading, and for every word
  its spelling in modern standard orthography (rasm imla'i);
- Debian's ``hunspell-ar``: the stems of ``ar.dic`` and the prefix/suffix rules of ``ar.aff``.

Texts:
- ``vowelled``: every verse of the vowelled text, one per line, as is (about 1.3 MB of UTF-8);
- ``modern``: about 1 MiB of modern-style prose: dictionary words inflected with the dictionary's
  own affix rules, function words ranked by their frequency in the modern-spelled corpus, sentence
  punctuation, Arabic-Indic and ASCII numbers, paragraph breaks (fixed seed, deterministic);
- ``sentences``: about 21,000 short real sentences: every verse cut at its pause marks, once in
  the vowelled spelling and once in the modern spelling.

Everything is deterministic; the cache is rebuilt when the generator version or a source changes.
"""

from __future__ import annotations

import json
import random
import re
from collections import Counter
from functools import cache
from importlib import metadata
from itertools import accumulate
from pathlib import Path

import hunspell_ar

GENERATOR_VERSION = 4
CACHE_DIR = Path(__file__).resolve().parent / "data" / "cache"
MODERN_BYTES = 1 << 20
MODERN_SEED = 20240611

_ARABIC_WORD = re.compile(r"^[\u0621-\u063a\u0641-\u065f\u0670]+$")  # letters and marks, no tatweel


def _sources() -> dict[str, object]:
    return {
        "quran-text": metadata.version("quran-text"),
        "ar.aff": hunspell_ar.AFF_PATH.stat().st_size,
        "ar.dic": hunspell_ar.DIC_PATH.stat().st_size,
    }


def _cache_valid() -> bool:
    manifest = CACHE_DIR / "manifest.json"
    if not manifest.exists():
        return False
    try:
        data = json.loads(manifest.read_text(encoding="utf-8"))
    except ValueError:
        return False
    return data.get("version") == GENERATOR_VERSION and data.get("sources") == _sources()


def cached(name: str, build) -> str:
    """The text of cache file ``name``; builds it with ``build()`` (returning str) when missing."""
    CACHE_DIR.mkdir(parents=True, exist_ok=True)
    if not _cache_valid():
        for f in CACHE_DIR.iterdir():
            if f.is_file():
                f.unlink()
        (CACHE_DIR / "manifest.json").write_text(
            json.dumps({"version": GENERATOR_VERSION, "sources": _sources()}), encoding="utf-8"
        )
    path = CACHE_DIR / name
    if path.exists():
        return path.read_text(encoding="utf-8")
    text = build()
    tmp = path.with_suffix(path.suffix + ".tmp")
    tmp.write_text(text, encoding="utf-8")
    tmp.replace(path)
    return text


# ---- the vowelled corpus ------------------------------------------------------------------------


@cache
def _mushaf():
    from quran_text import Mushaf

    return Mushaf.hafs()


def _ayahs():
    return _mushaf().all.ayahs


def _build_vowelled() -> str:
    return "\n".join(a.text for a in _ayahs()) + "\n"


def vowelled() -> str:
    return cached("vowelled.txt", _build_vowelled)


# ---- short sentences ---------------------------------------------------------------------------


def verse_segments() -> list[tuple[list[str], list[str | None], bool]]:
    """Each verse cut after every word that carries a pause mark: (vowelled words, modern
    spellings, whether the segment ends the verse)."""
    out = []
    for ayah in _ayahs():
        words = ayah.word_list
        modern = ayah.rasm_imlai or [None] * len(words)
        start = 0
        for i, w in enumerate(words):
            last = i == len(words) - 1
            if last or any(m.kind == "waqf" for m in w.marks):
                out.append(([x.text for x in words[start : i + 1]], list(modern[start : i + 1]), last))
                start = i + 1
    return out


def _build_sentences() -> str:
    vowelled_part, modern_part = [], []
    for v, m, ends_verse in verse_segments():
        vowelled_part.append(" ".join(v))
        if all(m):
            modern_part.append(" ".join(m) + ("." if ends_verse else "،"))
    return "\n".join(vowelled_part + modern_part) + "\n"


def sentences() -> list[str]:
    return cached("sentences.txt", _build_sentences).splitlines()


# ---- the modern-style text --------------------------------------------------------------------------


@cache
def hunspell():
    aff = hunspell_ar.read_aff()
    return aff, hunspell_ar.read_dic(aff)


def modern_word_frequencies() -> Counter[str]:
    """Word counts of the corpus in modern spelling: a real frequency ranking for function words."""
    counts: Counter[str] = Counter()
    for ayah in _ayahs():
        counts.update(w for w in (ayah.rasm_imlai or ()) if w)
    return counts


class _Zipf:
    def __init__(self, items: list, rng: random.Random, s: float = 1.05, q: float = 2.7):
        self.items = items
        self.cum = list(accumulate(1.0 / (r + q) ** s for r in range(len(items))))
        self.rng = rng

    def draw(self):
        return self.rng.choices(self.items, cum_weights=self.cum)[0]


def _digits(rng: random.Random) -> str:
    n = rng.choice([rng.randint(1, 31), rng.randint(1900, 2030), rng.randint(10, 999), rng.randint(1000, 99999)])
    text = str(n)
    if rng.random() < 0.5:  # Arabic-Indic digits, as most Arabic news text writes them
        text = text.translate({ord(d): chr(0x0660 + int(d)) for d in "0123456789"})
    return text


def _build_modern() -> str:
    aff, dic = hunspell()
    inflector = hunspell_ar.Inflector(aff)
    rng = random.Random(MODERN_SEED)

    def usable(e: hunspell_ar.DicEntry) -> bool:
        return len(e.word) >= 2 and _ARABIC_WORD.match(e.word) is not None

    freq = modern_word_frequencies()
    stop = [e for e in dic if e.section in ("stopwords", "tools") and usable(e)]
    seen: set[str] = set()
    stop = [e for e in stop if not (e.word in seen or seen.add(e.word))]
    stop.sort(key=lambda e: -freq[e.word])  # stable: unseen words keep the dictionary's order
    nouns = [e for e in dic if e.section == "names" and usable(e)]
    verbs = [e for e in dic if e.section == "verb.huns" and usable(e)]
    # Content words: those the modern-spelled corpus uses, by its counts, then the rest shuffled.
    rng.shuffle(nouns)
    rng.shuffle(verbs)
    nouns.sort(key=lambda e: -freq[e.word])
    verbs.sort(key=lambda e: -freq[e.word])
    pick_stop = _Zipf(stop, rng, s=1.1)
    pick_noun, pick_verb = _Zipf(nouns, rng, q=10.0), _Zipf(verbs, rng, q=10.0)

    paragraphs: list[str] = []
    sentences_: list[str] = []
    size = 0
    while size < MODERN_BYTES:
        words = []
        for _ in range(rng.randint(5, 18)):
            r = rng.random()
            if r < 0.03:
                words.append(_digits(rng))
                continue
            if r < 0.36:
                word = pick_stop.draw().word
            elif r < 0.78:
                word = inflector.inflect(rng, pick_noun.draw())
            else:
                word = inflector.inflect(rng, pick_verb.draw())
            if rng.random() < 0.07:
                word += "،"
            words.append(word)
        end = rng.choices([".", "؟", "!", ":"], weights=[80, 10, 5, 5])[0]
        sentence = " ".join(words).rstrip("،") + end
        sentences_.append(sentence)
        size += len(sentence.encode()) + 1
        if rng.random() < 0.2:
            paragraphs.append(" ".join(sentences_))
            sentences_ = []
    if sentences_:
        paragraphs.append(" ".join(sentences_))
    return "\n".join(paragraphs) + "\n"


def modern() -> str:
    return cached("modern.txt", _build_modern)

