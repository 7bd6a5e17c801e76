#!/usr/bin/env python3
"""Runs every benchmark area (``bench/bench_*.py``, each with ``run(harness)``) and prints one table.

    PYTHONPATH=python python bench/run.py          # or: make bench
    BENCH_FILTER=decode BENCH_TIME=0.3 ...         # a subset, shorter measurements

Exit status 1 when a benchmark failed (an exception, or output that differs from the baseline's);
an unmet goal is reported in the table but does not fail the run unless ``--strict`` is given.
"""

from __future__ import annotations

import importlib
import os
import platform
import sys
import traceback
from importlib import metadata
from pathlib import Path

HERE = Path(__file__).resolve().parent
if str(HERE) not in sys.path:
    sys.path.insert(0, str(HERE))

from harness import Harness  # noqa: E402


def cpu_model() -> str:
    try:
        for line in Path("/proc/cpuinfo").read_text().splitlines():
            if line.startswith("model name"):
                return line.split(":", 1)[1].strip()
    except OSError:
        pass
    return platform.processor() or "unknown"


def environment() -> list[str]:
    import tessarline

    def version_of(dist: str) -> str:
        try:
            return metadata.version(dist)
        except metadata.PackageNotFoundError:
            return "not installed"

    return [
        f"CPU:        {cpu_model()} ({os.cpu_count()} logical CPUs; benchmarks run single-threaded)",
        f"Python:     {platform.python_implementation()} {platform.python_version()} ({platform.platform()})",
        f"tessarline: version() {tessarline.version()}, __version__ {tessarline.__version__}, "
        f"{len(tessarline.__all__)} names registered, from {Path(tessarline.__file__).parent}",
        f"Peers:      ahocorasick-rs {version_of('ahocorasick-rs')}, corpus quran-text {version_of('quran-text')}",
    ]


def areas() -> list[str]:
    return sorted(p.stem for p in HERE.glob("bench_*.py"))


def main(argv: list[str]) -> int:
    strict = "--strict" in argv
    print("\n".join(environment()))
    h = Harness()
    print(f"Timing:     best of N (N so that each measurement takes ~{h.target:g} s, at least 3), "
          "time.perf_counter, gc off; MB = 10^6 UTF-8 bytes of the input")
    print()
    for name in areas():
        print(f"[{name}]", flush=True)
        try:
            importlib.import_module(name).run(h)
        except Exception as e:  # an area that cannot even set up is one failure, not the end
            h.failures.append(f"{name}: set-up failed:\n{traceback.format_exc()}")
            print(f"  set-up failed: {e}")
    print()
    print(h.table())
    if h.notes:
        print("\nNotes:")
        for n in h.notes:
            print(f"- {n}")
    if h.failures:
        print("\nFAILURES:")
        for f in h.failures:
            print(f"- {f}")
    if h.unmet:
        print(f"\nGoals not met: {', '.join(h.unmet)}")
    return 1 if h.failures or (strict and h.unmet) else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
