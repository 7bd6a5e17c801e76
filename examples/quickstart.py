#!/usr/bin/env python3
"""A short tour of tessarline on real Arabic text.

    PYTHONPATH=python python examples/quickstart.py        # or: make demo

The sample data in examples/data/ comes from real sources (bench/make_sample_map.py builds it):
a morpheme map of the commonest affixes of the hunspell-ar dictionary and the commonest words and
stems of a Qur'an text, and a few sentences of that text, vowelled and in modern spelling.
"""

from __future__ import annotations

import json
import tempfile
from pathlib import Path

import tessarline as tl

DATA = Path(__file__).resolve().parent / "data"
MAP_FILE = DATA / "morf_map.json"
SENTENCES = (DATA / "sentences.txt").read_text(encoding="utf-8").splitlines()

SECTIONS = []


def section(title: str, *needs: str):
    """Registers a demo section; it runs only once every name in `needs` is registered: a module
    name in `tessarline.__all__`, or "Class.member" in that class's own attributes."""

    def register(fn):
        SECTIONS.append((title, needs, fn))
        return fn

    return register


def show(label: str, value) -> None:
    print(f"  {label:<24} {value}")


def codes(text: str) -> str:
    """Private Use Area characters do not print: show them as U+XXXX."""
    return "".join(f"<U+{ord(c):04X}>" if tl.is_pua(c) else c for c in text)


def load_map() -> dict[str, str]:
    with MAP_FILE.open(encoding="utf-8") as f:
        return json.load(f)


@section("Module")
def module_info():
    show("version()", tl.version())
    show("__version__", tl.__version__)
    show("is_arabic('ب')", tl.is_arabic("ب"))
    show("is_arabic('b')", tl.is_arabic("b"))
    show("is_pua('\\ue000')", tl.is_pua("\ue000"))
    show("is_pua('ب')", tl.is_pua("ب"))


@section("Normalization at three levels", "normalize")
def normalization():
    text = "إِنَّ الصَّلَاةَ مُؤَجَّلَةٌ إلى الساعة ٣"
    show("text", text)
    for level in ("light", "medium", "aggressive"):
        show(f"normalize({level!r})", tl.normalize(text, level))


@section("A codec from the sample map", "SarfCodec")
def codec_demo():
    morf_map = load_map()
    codec = tl.SarfCodec(morf_map)  # normalization="medium" by default
    print(f"  {codec!r}, num_morphemes={codec.num_morphemes}")
    show("stats()", codec.stats())
    text = SENTENCES[-1]  # modern spelling, with an Arabic-Indic number
    encoded = codec.encode(text)
    show("text", text)
    show("normalize", codec.normalize(text))
    show("encode", codes(encoded))
    show("decode", codec.decode(encoded))
    normalized, decoded, consistent = codec.roundtrip(text)
    show("roundtrip consistent", consistent)


@section("Batches on the thread pool", "SarfCodec.encode_batch", "SarfCodec.decode_batch", "SarfCodec.roundtrip_batch")
def batch_demo():
    codec = tl.SarfCodec(load_map())
    encoded = codec.encode_batch(SENTENCES, num_threads=2)
    chars = sum(map(len, SENTENCES))
    show("encode_batch", f"{len(SENTENCES)} sentences, {chars} chars -> {sum(map(len, encoded))} chars")
    show("same as encode()", encoded == [codec.encode(s) for s in SENTENCES])
    show("decode_batch[0]", codec.decode_batch(encoded)[0])
    ok = sum(consistent for _, _, consistent in codec.roundtrip_batch(SENTENCES))
    show("roundtrip_batch", f"{ok} of {len(SENTENCES)} consistent")


@section(
    "Encrypted map files", "encrypt_morf_map_binary", "is_binary_morf_map", "encode", "SarfCodec.from_encrypted"
)
def map_files_demo():
    with tempfile.TemporaryDirectory() as tmp:
        bin_path = str(Path(tmp) / "morf_map.bin")
        count = tl.encrypt_morf_map_binary(str(MAP_FILE), bin_path)
        show("encrypted morphemes", count)
        show("is_binary_morf_map", tl.is_binary_morf_map(bin_path))
        loaded = tl.SarfCodec.from_encrypted(bin_path)
        from_json = tl.SarfCodec(load_map())
        show("loaded", repr(loaded))
        show("encodes like the JSON", all(loaded.encode(s) == from_json.encode(s) for s in SENTENCES))
        show("v2 encode(text, map)", codes(tl.encode(SENTENCES[-1], load_map())))


def registered(name: str) -> bool:
    cls, _, member = name.partition(".")
    return cls in tl.__all__ and (not member or member in vars(getattr(tl, cls)))


def main() -> None:
    for title, needs, fn in SECTIONS:
        print(f"\n== {title}")
        missing = [n for n in needs if not registered(n)]
        if missing:
            print(f"  (skipped: {', '.join(missing)} not registered yet)")
            continue
        fn()


if __name__ == "__main__":
    main()
