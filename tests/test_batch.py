"""Parallel batches: same results as single calls, the lock released, fork-safe."""

import multiprocessing
import os
import subprocess
import sys
import textwrap
import threading
import time

import pytest
from conftest import needs_address_limit

from tessarline import _tessarline as T

MAP = {"\u0627\u0644": "\ue000", "\u0643\u062a\u0627\u0628": "\ue001", "\u0648": "\ue002", "\u0629": "\U000f0001"}
TEXTS = [
    "",
    "\u0627\u0644\u0643\u062a\u0627\u0628",
    "\u0648\u0627\u0644\u0643\u0650\u062a\u064e\u0627\u0628  \u0627\u0644\u0623\u0648\u0644 .",
    "\ue000 \ue001\ue002 1 2 3 @ x : // y . com",
    "plain ascii text\twith\ttabs\n",
    "\u0100\u0120\u0143",
    "\U0001f600 \u0627\u0644",
] * 50


@pytest.fixture(scope="module")
def codec():
    return T.SarfCodec(MAP, "aggressive")


@pytest.mark.parametrize("num_threads", [None, 0, 1, 2, 7])
def test_batches_equal_single_calls(codec, num_threads):
    encoded = codec.encode_batch(TEXTS, num_threads)
    assert encoded == [codec.encode(t) for t in TEXTS]
    assert codec.decode_batch(encoded, num_threads) == [codec.decode(t) for t in encoded]
    assert codec.roundtrip_batch(TEXTS, num_threads) == [codec.roundtrip(t) for t in TEXTS]


def test_argument_forms(codec):
    assert codec.encode_batch([]) == [] and codec.encode_batch([], 3) == []
    assert codec.encode_batch(tuple(TEXTS[:5])) == codec.encode_batch(TEXTS[:5])
    assert codec.decode_batch(texts=TEXTS[:3], num_threads=None) == codec.decode_batch(TEXTS[:3])

    class Texts(list):
        def __iter__(self):  # a subclass is read through its own iteration
            return iter(["\u0648"])

    assert codec.encode_batch(Texts(["ignored", "ignored"])) == ["\ue002"]
    results = codec.roundtrip_batch(["\u0648"])
    assert results == [("\u0648", "\u0648", True)] and type(results[0]) is tuple


@pytest.mark.parametrize(
    "texts, num_threads, exc, message",
    [
        ("\u0627\u0644", None, TypeError, "^argument 'texts': a str cannot be taken as a list"),
        ({"a": 1}, None, TypeError, "^argument 'texts': 'dict' object cannot be converted to 'Sequence'$"),
        ((t for t in ["a"]), None, TypeError, "^argument 'texts': 'generator' object cannot be converted"),
        (["a", 1], None, TypeError, "^argument 'texts': 'int' object cannot be converted to 'str'$"),
        (["a\ud800"], None, UnicodeEncodeError, "surrogates not allowed"),
        (["a"], -1, OverflowError, "negative"),
        (["a"], 2**64, OverflowError, "too big"),
        (["a"], 2.0, TypeError, "^argument 'num_threads': 'float' object cannot be interpreted as an integer$"),
        (["a"], "2", TypeError, "^argument 'num_threads': "),
    ],
)
def test_argument_errors(codec, texts, num_threads, exc, message):
    for method in (codec.encode_batch, codec.decode_batch, codec.roundtrip_batch):
        with pytest.raises(exc, match=message) as info:
            method(texts, num_threads)
        assert type(info.value) is exc


def run_python(script, env=None, timeout=60):
    full_env = dict(os.environ, **(env or {}))
    return subprocess.run([sys.executable, "-c", textwrap.dedent(script)], capture_output=True, text=True,
                          timeout=timeout, env=full_env)


def test_argument_errors_start_no_threads_and_env_sets_default_count():
    out = run_python(
        """
        import os
        from tessarline import _tessarline as T
        threads = lambda: len(os.listdir("/proc/self/task"))
        codec = T.SarfCodec({})
        before = threads()
        for bad in [("x",), (["x"], -1), (["x"], 1.5), ([1],)]:
            try:
                codec.encode_batch(*bad)
            except (TypeError, OverflowError):
                pass
        print(threads() - before)
        codec.encode_batch(["x"])        # the shared pool starts here
        print(threads() - before)
        codec.encode_batch(["x"], 5)     # a per-call pool comes and goes
        print(threads() - before)
        """,
        env={"TESSARLINE_NUM_THREADS": "3"},
    )
    assert out.stdout.split() == ["0", "3", "3"], out.stderr


@needs_address_limit
def test_pool_that_cannot_be_built_raises_internal_failure():
    # No room for worker stacks: the requested pool and the default-sized
    # fallback both fail, and the call raises InternalFailure.
    out = run_python(
        """
        import resource
        from tessarline import _tessarline as T
        codec = T.SarfCodec({})
        with open("/proc/self/statm") as f:
            limit = int(f.read().split()[0]) * resource.getpagesize() + (2 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            codec.encode_batch(["x"], 4)
        except Exception as e:
            print("Exception", type(e).__name__)
        except BaseException as e:
            print(type(e).__name__, str(e).startswith("Thread pool construction failed"))
        """,
    )
    assert out.stdout.split() == ["InternalFailure", "True"], out.stderr


def test_lock_is_released_while_a_batch_runs(codec):
    text = "\u0648\u0627\u0644\u0643\u0650\u062a\u064e\u0627\u0628 \u0627\u0644\u0639\u0631\u0628\u064a\u0629 " * 20000
    texts = [text] * 400
    window = {}

    def batch():
        window["start"] = time.monotonic()
        codec.encode_batch(texts, 2)
        window["end"] = time.monotonic()

    worker = threading.Thread(target=batch)
    stamps = []
    worker.start()
    while worker.is_alive():
        stamps.append(time.monotonic())
        codec.encode("\u0627\u0644")  # the same codec, from another thread
    worker.join()
    start, end = window["start"], window["end"]
    if end - start < 0.2:
        pytest.skip("batch too short on this machine to observe the lock")
    inside = [s for s in stamps if start + 0.05 < s < end - 0.05]
    assert len(inside) > 100


def test_concurrent_batches_from_several_threads_agree(codec):
    expected = codec.encode_batch(TEXTS, 1)
    results = [None] * 6

    def work(i):
        results[i] = codec.encode_batch(TEXTS, None if i % 2 else 2)

    threads = [threading.Thread(target=work, args=(i,)) for i in range(6)]
    for th in threads:
        th.start()
    for th in threads:
        th.join()
    assert all(r == expected for r in results)


def test_forked_child_runs_batches():
    out = run_python(
        """
        import os, sys
        from tessarline import _tessarline as T
        codec = T.SarfCodec({"ab": "\\ue000"})
        texts = ["xab"] * 1000
        assert codec.encode_batch(texts) == ["x\\ue000"] * 1000   # the parent's shared pool exists
        pid = os.fork()
        if pid == 0:
            ok = codec.encode_batch(texts) == ["x\\ue000"] * 1000 and codec.encode_batch(texts, 2)[0] == "x\\ue000"
            os._exit(0 if ok else 3)
        _, status = os.waitpid(pid, 0)
        print(os.waitstatus_to_exitcode(status))
        """,
        timeout=30,
    )
    assert out.stdout.strip() == "0", out.stderr


def _child_batch(texts):
    return T.SarfCodec(MAP).encode_batch(texts)


# Forking a process that has pool threads is exactly the case under test.
@pytest.mark.filterwarnings("ignore:This process .* is multi-threaded:DeprecationWarning")
def test_multiprocessing_fork_workers(codec):
    codec.encode_batch(TEXTS)  # the shared pool exists before the fork
    ctx = multiprocessing.get_context("fork")
    with ctx.Pool(2) as pool:
        results = pool.map_async(_child_batch, [TEXTS[:20], TEXTS[20:40]]).get(timeout=30)
    plain = T.SarfCodec(MAP)
    assert results == [plain.encode_batch(TEXTS[:20]), plain.encode_batch(TEXTS[20:40])]


def test_every_storage_width_survives_a_batch(codec):
    # Texts travel to the workers in the str's own storage (1, 2 or 4 bytes
    # per character) and come back the same way.
    texts = ["ascii only", "caf\u00e9 \u00ff", "\u0627\u0644\u0643\u062a\u0627\u0628 \uffff", "\U0001f600\u0627\u0644",
             "\U000f0001\ue000", "", "\x00\x7f"]
    assert codec.encode_batch(texts) == [codec.encode(t) for t in texts]
    assert codec.decode_batch(texts) == [codec.decode(t) for t in texts]
    assert codec.roundtrip_batch(texts) == [codec.roundtrip(t) for t in texts]
    for text, result in zip(texts, codec.decode_batch(texts)):
        assert result == codec.decode(text) and result.isascii() == codec.decode(text).isascii()
