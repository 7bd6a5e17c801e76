"""A small timing harness: best-of-N wall-clock timing and a results table.

Each benchmark area (a ``bench/bench_*.py`` module with a ``run(harness)`` function) calls
``harness.compare(...)`` once per benchmark; ``run.py`` prints the table at the end.

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

    def time(self, fn: Callable[[], object]) -> Timing:
        """Best of N calls of ``fn``; N makes the whole measurement take about ``target`` seconds."""
        gc_was_enabled = gc.isenabled()
        gc.disable()
        try:
            t0 = time.perf_counter()
            fn()  # warm-up, also the estimate
            first = time.perf_counter() - t0
            reps = max(3, min(1000, math.ceil(self.target / max(first, 1e-9))))
            best = first
            for _ in range(reps):
                t0 = time.perf_counter()
                fn()
                best = min(best, time.perf_counter() - t0)
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

    def skip(self, name: str, size: str, reason: str) -> None:
        self.rows.append(Row(name, size, met=f"skipped ({reason})"))

    def compare(
        self,
        name: str,
        nbytes: int,
        ours: Callable[[], object] | None,
        baselines: dict[str, Callable[[], object]],
        goal: Goal,
        *,
        calls: int | None = None,
        status: str = "real",
    ) -> None:
        """Times ``ours`` against the fastest of ``baselines`` on an input of ``nbytes`` UTF-8 bytes
        (``calls`` per-call invocations when the input is a list of short texts).

        ``status`` is "real", "placeholder" (timed, but the goal is not judged) or "missing: ..."
        (only the baselines are timed)."""
        if not self.wanted(name):
            return
        size = f"{nbytes / MB:.2f} MB" + (f" / {calls} calls" if calls else "")
        row = Row(name, size, goal=goal.describe())
        try:
            base_times = {label: self.time(fn) for label, fn in baselines.items()}
            base_label, base = min(base_times.items(), key=lambda kv: kv[1].best)
            base_mbps = nbytes / base.best / MB
            row.baseline = self._rate(base_mbps, base.best, calls)
            if len(base_times) > 1:
                others = ", ".join(
                    f"{label} {nbytes / t.best / MB:.1f}" for label, t in base_times.items() if label != base_label
                )
                self.note(f"{name}: baseline = {base_label}; other formulations (MB/s): {others}")
            if ours is None or status.startswith("missing"):
                row.met = f"n/a ({status})"
                self.rows.append(row)
                return
            t = self.time(ours)
            mbps = nbytes / t.best / MB
            ratio = base.best / t.best
            row.ours = self._rate(mbps, t.best, calls)
            row.ratio = f"{ratio:.2f}x"
            if status != "real":
                row.met = f"n/a ({status})"
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
