"""Loading a 20,000-entry morpheme map from a ".bin" container into a codec, against building the
same codec from a Python dict (which is what a caller holding the plain map would do).

The ".bin" load reads the file, checks the SHA-256 checksum, opens the AES-256-GCM payload,
parses the JSON plaintext and builds the codec; the dict build converts the entries and builds
the codec. MB/s counts the file's bytes for both.
"""

from __future__ import annotations

import os
import tempfile

from harness import Goal, Harness
from make_sample_map import build_sample_map

ENTRIES = 20_000


def run(h: Harness) -> None:
    import tessarline as tl

    morf_map = build_sample_map(ENTRIES)
    with tempfile.TemporaryDirectory() as tmp:
        path = os.path.join(tmp, "map.bin")
        tl.SarfCodec(morf_map).encrypt_to_binary_file(path)
        size = os.path.getsize(path)
        print(f"  inputs: {len(morf_map):,}-entry map, .bin file of {size:,} bytes", flush=True)
        loaded = tl.SarfCodec.from_binary(path)
        assert loaded.num_morphemes == len(morf_map)
        h.compare(f"SarfCodec.from_binary / {len(morf_map):,}-entry .bin", path,
                  lambda p: tl.SarfCodec.from_binary(p),
                  {"SarfCodec(dict)": lambda _: tl.SarfCodec(morf_map)},
                  Goal(), per_item=False, nbytes=size)
        t = h.time(lambda p: tl.SarfCodec.from_binary(p), path, per_item=False)
        h.note(f"from_binary of the {len(morf_map):,}-entry map: {t.best * 1e3:.1f} ms per load")
