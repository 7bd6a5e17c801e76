"""Parallel batches: SarfCodec.encode_batch with 1, 2 and the default number of workers, and
against a Python loop of encode(), on 20,000 real short sentences with the ~10,000-entry map.

- 2 workers vs 1 worker (goal: >= 1.8x on a 2-core machine);
- the default pool vs 1 worker (reported);
- 1 worker vs a Python loop of encode() over the same texts (goal: >= 1.3x: the batch skips the
  per-call overhead of binding arguments and building results one call at a time).
"""

from __future__ import annotations

import os

import corpus
from harness import Goal, Harness
from make_sample_map import sample_map

SENTENCES = 20_000


def run(h: Harness) -> None:
    import tessarline as tl

    texts = corpus.sentences()[:SENTENCES]
    codec = tl.SarfCodec(sample_map(), "medium")
    print(f"  inputs: {len(texts):,} sentences; {os.cpu_count()} CPUs; "
          f"TESSARLINE_NUM_THREADS={os.environ.get('TESSARLINE_NUM_THREADS', '(unset)')}", flush=True)
    assert codec.encode_batch(texts, 2) == [codec.encode(t) for t in texts]

    one_worker = {"encode_batch, 1 worker": lambda ts: codec.encode_batch(ts, 1)}
    h.compare("encode_batch 2 workers vs 1 / sentences", texts, lambda ts: codec.encode_batch(ts, 2),
              one_worker, Goal(min_ratio=1.8), per_item=False)
    h.compare("encode_batch default pool vs 1 / sentences", texts, lambda ts: codec.encode_batch(ts),
              one_worker, Goal(), per_item=False)
    h.compare("encode_batch 1 worker vs encode() loop / sentences", texts, lambda ts: codec.encode_batch(ts, 1),
              {"[codec.encode(t) for t in texts]": lambda ts: [codec.encode(t) for t in ts]},
              Goal(min_ratio=1.3), per_item=False)
