"""Reader for Debian's Arabic hunspell dictionary (``hunspell-ar``).

Only what the benchmark data needs: the affix rules of ``ar.aff`` (flag aliases, prefix and
suffix classes with strip/add/condition and continuation classes) and the stems of ``ar.dic``
with their flags, plus a small generator that inflects a stem with real affix rules.
"""

from __future__ import annotations

import random
import re
from dataclasses import dataclass, field
from pathlib import Path

AFF_PATH = Path("/usr/share/hunspell/ar.aff")
DIC_PATH = Path("/usr/share/hunspell/ar.dic")


@dataclass(frozen=True)
class AffixRule:
    kind: str  # "PFX" or "SFX"
    flag: str
    strip: str
    add: str
    continuation: tuple[str, ...]
    condition: re.Pattern[str]

    def applies(self, word: str) -> bool:
        if self.strip and not (word.startswith(self.strip) if self.kind == "PFX" else word.endswith(self.strip)):
            return False
        return self.condition.search(word) is not None

    def apply(self, word: str) -> str:
        if self.kind == "PFX":
            return self.add + word[len(self.strip):]
        return word[: len(word) - len(self.strip)] + self.add


@dataclass
class AffixFile:
    aliases: list[tuple[str, ...]] = field(default_factory=list)  # AF index - 1 -> flags
    cross: dict[str, bool] = field(default_factory=dict)  # flag -> cross product allowed
    rules: dict[str, list[AffixRule]] = field(default_factory=dict)  # flag -> rules

    def flags(self, spec: str) -> tuple[str, ...]:
        """Flags of an ``/N`` field: an alias number (``AF``) or a run of two-character flags."""
        if not spec:
            return ()
        if spec.isdigit():
            n = int(spec)
            return self.aliases[n - 1] if 0 < n <= len(self.aliases) else ()
        return tuple(spec[i : i + 2] for i in range(0, len(spec), 2))

    def affix_strings(self, kind: str) -> list[str]:
        """Every distinct non-empty affix string of one kind, in file order."""
        seen: dict[str, None] = {}
        for rules in self.rules.values():
            for r in rules:
                if r.kind == kind and r.add:
                    seen.setdefault(r.add, None)
        return list(seen)


def _split_flags(text: str) -> tuple[str, ...]:
    return tuple(text[i : i + 2] for i in range(0, len(text), 2))


def _condition(kind: str, cond: str) -> re.Pattern[str]:
    if cond in ("", "."):
        return re.compile("")
    return re.compile("^" + cond if kind == "PFX" else cond + "$")


def read_aff(path: Path = AFF_PATH) -> AffixFile:
    aff = AffixFile()
    raw: list[tuple[str, str, str, str, str, str]] = []  # continuation aliases may come later
    for line in path.read_text(encoding="utf-8").splitlines():
        f = line.split()
        if not f:
            continue
        if f[0] == "AF" and len(f) >= 2 and not f[1].isdigit():
            aff.aliases.append(_split_flags(f[1]))
        elif f[0] in ("PFX", "SFX") and len(f) >= 4:
            if len(f) == 4 and f[2] in ("Y", "N") and f[3].isdigit():  # class header
                aff.cross[f[1]] = f[2] == "Y"
                continue
            add, _, cont = f[3].partition("/")
            raw.append((f[0], f[1], f[2], add, cont, f[4] if len(f) >= 5 else "."))
    for kind, flag, strip, add, cont, cond in raw:
        rule = AffixRule(
            kind,
            flag,
            "" if strip == "0" else strip,
            "" if add == "0" else add,
            aff.flags(cont),
            _condition(kind, cond),
        )
        aff.rules.setdefault(flag, []).append(rule)
    return aff


@dataclass(frozen=True)
class DicEntry:
    word: str
    flags: tuple[str, ...]
    section: str  # the source list inside ar.dic: stopwords, tools, names, verb.huns


def read_dic(aff: AffixFile, path: Path = DIC_PATH) -> list[DicEntry]:
    entries: list[DicEntry] = []
    section = ""
    lines = path.read_text(encoding="utf-8").splitlines()
    for i, line in enumerate(lines):
        if i == 0 or not line.strip():
            continue
        if line.startswith("::::"):
            continue
        if line.endswith(".dic") and "/" not in line:
            section = line.removesuffix(".dic")
            continue
        head = line.split("\t", 1)[0].strip()
        word, _, spec = head.partition("/")
        if word:
            entries.append(DicEntry(word, aff.flags(spec), section))
    return entries


class Inflector:
    """Inflects stems with the dictionary's own rules: suffix, its continuation, then prefix."""

    def __init__(self, aff: AffixFile):
        self.aff = aff

    def _pick(self, rng: random.Random, flags: tuple[str, ...], kind: str, word: str) -> AffixRule | None:
        candidates = [
            r for fl in flags for r in self.aff.rules.get(fl, ()) if r.kind == kind and r.applies(word)
        ]
        return rng.choice(candidates) if candidates else None

    def inflect(self, rng: random.Random, entry: DicEntry, p_suffix: float = 0.6, p_prefix: float = 0.45) -> str:
        word = entry.word
        flags = entry.flags
        cross = True
        if rng.random() < p_suffix:
            sfx = self._pick(rng, flags, "SFX", word)
            if sfx is not None:
                word = sfx.apply(word)
                cross = self.aff.cross.get(sfx.flag, False)
                flags = flags + sfx.continuation
                if rng.random() < 0.25:  # a second suffix where the first one allows it
                    sfx2 = self._pick(rng, sfx.continuation, "SFX", word)
                    if sfx2 is not None:
                        word = sfx2.apply(word)
        if cross and rng.random() < p_prefix:
            pfx = self._pick(rng, flags, "PFX", word)
            if pfx is not None and self.aff.cross.get(pfx.flag, False):
                word = pfx.apply(word)
        return word
