"""A small timing harness: best-of-N wall-clock timing and a results table.

Each benchmark area (a ``bench/bench_*.py`` module with a ``run(harness)`` function) calls
``harness.compare(...)`` once per benchmark; ``run.py`` prints the table at the end.

Example of an area:

    def run(h):
        texts = corpus.sentences()
        codec = tessarline.SarfCodec(sample_map())
        h.compare("encode_batch / short sentences", texts, codec.encode_batch,
                  {"encode() loop": lambda ts: [codec.encode(t) for t in ts]},
                  Goal(min_ratio=1.5), per_item=False)

Settings from the environment:
- ``BENCH_TIME``: seconds each measurement aims at (default 0.75; repetitions are chosen so that
  one measurement of ours or of the baseline takes about this long, with at least 3);
- ``BENCH_FILTER``: run only benchmarks whose name contains this text.
"""

from __future__ import annotations

import gc
import math
import os
import time
import traceback
from dataclasses import dataclass, field
from typing import Callable

MB = 1_000_000


def utf8_size(data: str | list[str]) -> int:
    if isinstance(data, str):
        return len(data.encode())
    return sum(len(t.encode()) for t in data)


def _fresh_str(text: str) -> str:
    # Slicing and concatenation build a new object (no cached UTF-8); `text + ""` would not.
    return text[:-1] + text[-1:] if len(text) > 1 else text


def fresh(data):
    """New str objects with the same contents as ``data`` (a str or a list of str)."""
    if isinstance(data, str):
        return _fresh_str(data)
    if isinstance(data, list):
        return [_fresh_str(t) if isinstance(t, str) else t for t in data]
    return data


@dataclass(frozen=True)
class Goal:
    min_ratio: float | None = None  # ours / baseline, by throughput
    min_mbps: float | None = None  # ours, MB/s

    def describe(self) -> str:
        parts = []
        if self.min_ratio is not None:
            parts.append(f">={self.min_ratio:g}x")
        if self.min_mbps is not None:
            parts.append(f">{self.min_mbps:g} MB/s")
        return ", ".join(parts) or "-"

    def met(self, mbps: float, ratio: float | None) -> bool:
        if self.min_ratio is not None and (ratio is None or ratio < self.min_ratio):
            return False
        if self.min_mbps is not None and mbps <= self.min_mbps:
            return False
        return True


@dataclass
class Timing:
    best: float  # seconds per call, best repetition
    reps: int


@dataclass
class Row:
    name: str
    size: str
    ours: str = "-"
    baseline: str = "-"
    ratio: str = "-"
    goal: str = "-"
    met: str = "-"


@dataclass
class Harness:
    target: float = field(default_factory=lambda: float(os.environ.get("BENCH_TIME", "0.75")))
    filter: str = field(default_factory=lambda: os.environ.get("BENCH_FILTER", ""))
    rows: list[Row] = field(default_factory=list)
    notes: list[str] = field(default_factory=list)
    failures: list[str] = field(default_factory=list)
    unmet: list[str] = field(default_factory=list)

    # ---- timing --------------------------------------------------------------------------------

    def time(self, fn: Callable[[object], object], data: object, per_item: bool) -> Timing:
        """Best of N timed runs of ``fn`` over ``data``; N makes the whole measurement take about
        ``target`` seconds. Each run gets fresh copies of the texts, made untimed: CPython caches a
        str's UTF-8 form on first request, which a native callee would otherwise get for free
        from the second run on, unlike any real workload."""
        gc_was_enabled = gc.isenabled()
        gc.disable()
        try:
            best = math.inf
            reps = 0
            budget = None
            while budget is None or reps < budget:
                x = fresh(data)
                if per_item:
                    t0 = time.perf_counter()
                    for item in x:  # type: ignore[attr-defined]
                        fn(item)
                    elapsed = time.perf_counter() - t0
                else:
                    t0 = time.perf_counter()
                    fn(x)
                    elapsed = time.perf_counter() - t0
                best = min(best, elapsed)
                reps += 1
                if budget is None:  # the first run is the warm-up and the estimate
                    budget = 1 + max(3, min(1000, math.ceil(self.target / max(elapsed, 1e-9))))
            return Timing(best, reps)
        finally:
            if gc_was_enabled:
                gc.enable()

    # ---- reporting -----------------------------------------------------------------------------

    def wanted(self, name: str) -> bool:
        return self.filter in name

    def note(self, text: str) -> None:
        if text not in self.notes:
            self.notes.append(text)

    def fail(self, name: str, text: str) -> None:
        self.failures.append(f"{name}: {text}")
        self.rows.append(Row(name, "-", met="ERROR"))

    def compare(
        self,
        name: str,
        data: str | list[str],
        ours: Callable[[object], object] | None,
        baselines: dict[str, Callable[[object], object]],
        goal: Goal,
        *,
        per_item: bool | None = None,
        nbytes: int | None = None,
        status: str = "real",
    ) -> None:
        """Times ``ours`` against the fastest of ``baselines``, each a one-argument callable.

        ``data`` is one text or a list of texts; with ``per_item`` (the default for a list) each
        callable is called once per text in a plain loop, otherwise once with the whole ``data``
        (a batch call). Throughput counts ``nbytes``, by default the UTF-8 size of ``data``.
        ``status`` is "real", "placeholder..." (timed, but the goal is not judged) or "missing..."
        (only the baselines are timed)."""
        if not self.wanted(name):
            return
        if per_item is None:
            per_item = isinstance(data, list)
        if nbytes is None:
            nbytes = utf8_size(data)
        calls = len(data) if isinstance(data, list) else None
        size = f"{nbytes / MB:.2f} MB" + (f" / {calls} texts" if calls else "")
        row = Row(name, size, goal=goal.describe())
        try:
            base_times = {label: self.time(fn, data, per_item) for label, fn in baselines.items()}
            base_label, base = min(base_times.items(), key=lambda kv: kv[1].best)
            row.baseline = self._rate(nbytes / base.best / MB, base.best, calls if per_item else None)
            if len(base_times) > 1:
                others = ", ".join(
                    f"{label} {nbytes / t.best / MB:.1f}" for label, t in base_times.items() if label != base_label
                )
                self.note(f"{name}: baseline = {base_label}; other formulations (MB/s): {others}")
            if ours is None or status.startswith("missing"):
                row.met = f"n/a ({status.split(':')[0]})"
                self.rows.append(row)
                return
            t = self.time(ours, data, per_item)
            mbps = nbytes / t.best / MB
            ratio = base.best / t.best
            row.ours = self._rate(mbps, t.best, calls if per_item else None)
            row.ratio = f"{ratio:.2f}x"
            if status != "real":
                row.met = f"n/a ({status.split(':')[0]})"
            elif goal.min_ratio is None and goal.min_mbps is None:
                row.met = "-"
            elif goal.met(mbps, ratio):
                row.met = "yes"
            else:
                row.met = "NO"
                self.unmet.append(name)
        except Exception:  # one broken benchmark must not hide the others
            self.failures.append(f"{name}:\n{traceback.format_exc()}")
            row.met = "ERROR"
        self.rows.append(row)

    @staticmethod
    def _rate(mbps: float, seconds: float, calls: int | None) -> str:
        text = f"{mbps:,.1f} MB/s"
        if calls:
            text += f" ({calls / seconds / 1000:,.0f}k/s)"
        return text

    def table(self) -> str:
        header = Row("benchmark", "size", "ours", "baseline", "ratio", "goal", "met")
        rows = [header, *self.rows]
        cols = list(vars(header))
        widths = {c: max(len(getattr(r, c)) for r in rows) for c in cols}
        lines = []
        for i, r in enumerate(rows):
            lines.append("  ".join(getattr(r, c).ljust(widths[c]) for c in cols).rstrip())
            if i == 0:
                lines.append("  ".join("-" * widths[c] for c in cols))
        return "\n".join(lines)
