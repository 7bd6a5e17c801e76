"""Normalization, encoding and decoding, single-threaded, against plain-Python baselines.

Inputs (see corpus.py): the vowelled corpus (~1.3 MB), the modern-style text (~1 MiB) and
~21,000 short sentences (per-call loop), with the ~10,000-entry sample map (make_sample_map.py).

- normalize(text, "medium"): baseline = the fastest of four plain-Python formulations of the
  same folds (str.translate / re.sub for the deletions, a str.replace chain for the folds, or one
  str.translate for everything); all must agree.
- SarfCodec(map).encode: baseline = normalization + leftmost-longest Aho-Corasick
  (ahocorasick_rs, DFA) over the normalized text + a Python join of the pieces. Normalization is
  timed inside both: the baseline calls the module's own normalize() when that is real (so the
  ratio measures the matcher), otherwise the fastest plain-Python formulation.
- SarfCodec(map).decode of the encoded texts: baseline = one str.translate (byte-level
  substitutes and codes) + the eight post-processing rules as compiled `re` substitutions with
  their repetition caps + the trims.

Each output is asserted equal to its baseline's once, on the whole input, when the module's
function is real; a placeholder (probed on a tiny input) is timed but neither checked nor judged.
"""

from __future__ import annotations

import corpus
import reference
from harness import Goal, Harness, utf8_size
from make_sample_map import sample_map

LEVEL = "medium"
NORMALIZE_GOAL = Goal(min_ratio=10, min_mbps=400)
ENCODE_GOAL = Goal(min_ratio=3)
DECODE_GOAL = Goal(min_ratio=10)


def _status(tl, names: tuple[str, ...], placeholder_stages) -> str:
    """"missing: ...", "placeholder: <stages>" or "real"; a real function's output is then checked
    in full. ``placeholder_stages()`` names the stages that leave their probe input exactly as it
    was (they do not do their job at all yet); a stage that does anything counts as real."""
    missing = [n for n in names if n not in tl.__all__]
    if missing:
        return "missing: " + ", ".join(missing)
    try:
        stages = placeholder_stages()
        return "placeholder: " + ", ".join(stages) if stages else "real"
    except Exception as e:  # a half-wired binding counts as not there yet
        return f"placeholder ({type(e).__name__})"


def _first_difference(a, b) -> str:
    if isinstance(a, list):
        for i, (x, y) in enumerate(zip(a, b)):
            if x != y:
                return f"item {i}: " + _first_difference(x, y)
        return f"lengths {len(a)} vs {len(b)}"
    i = next((i for i, (x, y) in enumerate(zip(a, b)) if x != y), min(len(a), len(b)))
    around = slice(max(0, i - 20), i + 20)
    return f"at char {i} (lengths {len(a)} vs {len(b)}): ours {a[around]!r} vs baseline {b[around]!r}"


def _apply(fn, data):
    """``fn`` on a whole text, or on each text of a list."""
    return [fn(t) for t in data] if isinstance(data, list) else fn(data)


def _bench(h: Harness, name: str, data, ours, baselines: dict, goal: Goal, status: str) -> None:
    """One row: ``ours`` (a per-text callable, None when missing) against ``baselines`` on ``data``.

    The baselines must agree with each other; ours must agree with them when it is real."""
    if not h.wanted(name):
        return
    outputs = [_apply(f, data) for f in baselines.values()]
    if any(o != outputs[0] for o in outputs[1:]):
        h.fail(name, "the plain-Python formulations disagree")
        return
    if status == "real":
        got = _apply(ours, data)
        if got != outputs[0]:
            h.fail(name, "output differs from the baseline: " + _first_difference(got, outputs[0]))
            return
    else:
        h.note(f"{name.split(' /')[0]}: {status}, so its output is not checked and its goal not judged")
    h.compare(name, data, ours, baselines, goal, status=status)


def run(h: Harness) -> None:
    import tessarline as tl

    inputs = {"vowelled text": corpus.vowelled(), "modern text": corpus.modern(), "short sentences": corpus.sentences()}
    morf_map = sample_map()
    sizes = ", ".join(f"{label} {utf8_size(d):,} B" for label, d in inputs.items())
    count = len(inputs["short sentences"])
    print(f"  inputs: {sizes} ({count:,} sentences); map {len(morf_map):,} entries", flush=True)
    has = set(tl.__all__)

    # What any native call that takes and returns a str pays at least: UTF-8 out, UTF-8 back in.
    for label, data in inputs.items():
        if isinstance(data, str) and h.wanted(f"floor / {label}"):
            t = h.time(lambda x: x.encode().decode(), data, per_item=False)
            h.note(f"str -> UTF-8 -> str alone on the {label} (the ceiling for any str-in/str-out call): "
                   f"{utf8_size(data) / t.best / 1e6:,.0f} MB/s")

    # ---- normalize ----------------------------------------------------------------------------
    vowelled_word = "\u0628\u064e\u0623"
    status = _status(tl, ("normalize",), lambda: ["normalize"] * (tl.normalize(vowelled_word, LEVEL) == vowelled_word))
    ours = (lambda t: tl.normalize(t, LEVEL)) if "normalize" in has else None
    formulations = reference.make_normalizers(LEVEL)
    for label, data in inputs.items():
        goal = Goal() if isinstance(data, list) else NORMALIZE_GOAL
        _bench(h, f"normalize {LEVEL} / {label}", data, ours, formulations, goal, status)
    norm_status = status

    # ---- encode -------------------------------------------------------------------------------
    codec = tl.SarfCodec(morf_map, LEVEL) if "SarfCodec" in has else None
    probe = {"\u0628\u0627": "\ue000"}
    def encode_placeholders() -> list[str]:
        return ["code replacement"] * ("\ue000" not in tl.SarfCodec(probe, LEVEL).encode("\u0628\u0627"))

    status = _status(tl, ("SarfCodec",), encode_placeholders)
    ref_norm = formulations["str.replace chain only"]  # the fastest on these texts
    # Normalization is timed inside both. The baseline calls the module's own normalize() (the very
    # step the encoder runs first) so the ratio measures the matcher, and the check of the matcher
    # holds whatever state normalize() is in; plain Python only while normalize() is missing.
    if "normalize" in has:
        base_norm = lambda t: tl.normalize(t, LEVEL)  # noqa: E731
        h.note(f"encode baseline normalizes with tessarline.normalize ({norm_status}), timed as inside ours")
    else:
        base_norm = ref_norm
        h.note("encode baseline normalizes with plain Python (str.replace chain), timed: normalize() is missing")
    baseline = {"Aho-Corasick + join": reference.AcEncoder(morf_map, base_norm).encode}
    for label, data in inputs.items():
        _bench(h, f"encode / {label}", data, codec and codec.encode, baseline, ENCODE_GOAL, status)

    # ---- decode -------------------------------------------------------------------------------
    def decode_placeholders() -> list[str]:
        decode = tl.SarfCodec(probe, LEVEL).decode
        return [
            stage
            for stage, untouched in (
                ("byte-level decoding", "\u0120" in decode("x\u0120y")),
                ("code replacement", "\ue000" in decode("\ue000")),
                ("post-processing", decode(" a  b ") == " a  b "),
            )
            if untouched
        ]

    status = _status(tl, ("SarfCodec",), decode_placeholders)
    encode_ref = reference.AcEncoder(morf_map, ref_norm).encode  # the inputs, whatever the module's state
    baseline = {"str.translate + re rules": reference.Decoder(morf_map).decode}
    for label, data in inputs.items():
        name = f"decode / {label} (encoded)"
        if h.wanted(name):
            encoded = _apply(encode_ref, data)
            _bench(h, name, encoded, codec and codec.decode, baseline, DECODE_GOAL, status)
