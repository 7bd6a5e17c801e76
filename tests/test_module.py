"""Module registration, version, docstrings, character predicates and the class frame."""

import importlib
import inspect
import subprocess
import sys
import textwrap

import pytest
from conftest import needs_address_limit

from tessarline import _tessarline as T

# Registration order is part of the module's contract.
REGISTERED = [
    "SarfCodec",
    "NormalizationConfig",
    "encode",
    "decode",
    "normalize",
    "is_arabic",
    "is_pua",
    "version",
    "decode_bytes",
    "encrypt_morf_map",
    "encrypt_morf_map_binary",
    "is_binary_morf_map",
    "convert_enc_to_bin",
    "__version__",
]
CLASSES = [T.SarfCodec, T.NormalizationConfig]


def test_all_lists_registered_names_in_order():
    assert T.__all__ == REGISTERED
    for name in REGISTERED:
        assert hasattr(T, name)


def test_module_identity_and_docstring():
    assert T.__name__ == "tessarline._tessarline"
    assert T.__doc__.startswith("tessarline._tessarline - ")
    assert "C++" not in T.__doc__ and "Rust" not in T.__doc__


def test_version():
    assert T.__version__ == "0.3.12"
    assert T.version() == T.__version__
    with pytest.raises(TypeError):
        T.version(1)


def test_package_reexports_module():
    import tessarline

    assert tessarline.__all__ == T.__all__
    assert tessarline.SarfCodec is T.SarfCodec
    assert tessarline.__version__ == "0.3.12"


@pytest.mark.parametrize(
    "obj, signature, doc",
    [
        (T.version, "()", "Get version"),
        (T.is_arabic, "(ch)", "Check if character is Arabic"),
        (T.is_pua, "(ch)", "Check if character is PUA"),
        (T.encode, "(text, morf_map)", "Encode text with a morpheme map (v2 API)"),
        (T.decode, "(text, morf_map)", "Decode text with a morpheme map (v2 API)"),
        (T.normalize, "(text, level='medium')", "Normalize Arabic text"),
        (T.decode_bytes, "(text)", "Decode GPT-2 style byte-encoded text"),
        (T.SarfCodec, "(morf_map, normalization='medium')",
         "Python wrapper for SarfCodec - the main encode/decode interface"),
        (T.NormalizationConfig,
         "(normalize_alef=False, normalize_taa_marbouta=False, normalize_alef_maqsura=False, "
         "strip_diacritics=False, remove_tatweel=True, normalize_digits=False)",
         "Python-facing normalization config"),
        (T.SarfCodec.encode, "(self, /, text)", "Encode text (normalize + morpheme -> PUA)"),
        (T.SarfCodec.decode, "(self, /, text)", "Decode text (byte decode + PUA -> morpheme + post-process)"),
        (T.SarfCodec.normalize, "(self, /, text)", "Normalize text only"),
        (T.SarfCodec.roundtrip, "(self, /, text)", "Roundtrip test"),
        (T.SarfCodec.stats, "(self, /)", "Get statistics as dict"),
    ],
)
def test_signatures_and_docstrings(obj, signature, doc):
    assert str(inspect.signature(obj)) == signature
    assert obj.__doc__.splitlines()[0] == doc


def test_getter_docs():
    assert T.SarfCodec.num_morphemes.__doc__ == "Get number of morphemes"
    assert T.NormalizationConfig.remove_tatweel.__doc__ == ""


@pytest.mark.parametrize(
    "fn, ch, expected",
    [
        (T.is_arabic, "\u0628", True),
        (T.is_arabic, "\u0600", True),
        (T.is_arabic, "\ufeff", True),
        (T.is_arabic, "\u08a0", True),
        (T.is_arabic, "\u0870", False),
        (T.is_arabic, "\ufb4f", False),
        (T.is_arabic, "a", False),
        (T.is_pua, "\ue000", True),
        (T.is_pua, "\U000ffffd", True),
        (T.is_pua, "\U000ffffe", False),
        (T.is_pua, "\U00100000", False),
        (T.is_pua, "\uf900", False),
    ],
)
def test_character_predicates(fn, ch, expected):
    assert fn(ch) is expected


@pytest.mark.parametrize("fn", [T.is_arabic, T.is_pua])
def test_character_predicate_errors(fn):
    for bad in ["", "ab", "\u0628\u064e"]:
        with pytest.raises(ValueError, match="^expected a string of length 1$"):
            fn(bad)
    with pytest.raises(TypeError, match="^argument 'ch': ") as info:
        fn(0x628)
    assert type(info.value.__cause__) is TypeError


@pytest.mark.parametrize("cls", CLASSES)
def test_classes_are_sealed_builtins(cls):
    assert cls.__module__ == "builtins"
    assert cls.__qualname__ == cls.__name__
    assert cls.__bases__ == (object,)
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    assert not hasattr(cls, "__dict__") or "__dict__" not in cls.__dict__
    assert "__weakref__" not in cls.__dict__


def test_instances_have_no_dict_or_weakref():
    import weakref

    codec = T.SarfCodec({})
    with pytest.raises(AttributeError):
        codec.extra = 1
    with pytest.raises(TypeError):
        weakref.ref(codec)


def test_reimport_returns_same_module_object():
    del sys.modules["tessarline._tessarline"]
    again = importlib.import_module("tessarline._tessarline")
    assert again is T
    sys.modules["tessarline._tessarline"] = T


def test_sub_interpreter_is_refused():
    _interpreters = pytest.importorskip("_interpreters")
    interp = _interpreters.create("legacy")
    try:
        code = f"import sys; sys.path[:0] = {sys.path!r}; import tessarline._tessarline"
        failure = _interpreters.exec(interp, code)
    finally:
        _interpreters.destroy(interp)
    assert failure is not None
    assert failure.type.__name__ == "ImportError"
    assert "sub-interpreters" in failure.msg


@needs_address_limit
def test_native_failure_is_internal_failure_not_exception():
    # An allocation the process cannot make surfaces as InternalFailure, which
    # `except Exception` must not swallow.
    script = textwrap.dedent(
        """
        import resource
        from tessarline import _tessarline as T
        text = "a" * (256 << 20)
        with open("/proc/self/statm") as f:
            pages = int(f.read().split()[0])
        limit = pages * resource.getpagesize() + (64 << 20)
        resource.setrlimit(resource.RLIMIT_AS, (limit, limit))
        try:
            try:
                T.normalize(text)
            except Exception:
                print("caught as Exception")
        except BaseException as e:
            print(type(e).__qualname__, type(e).__mro__[1].__name__, bool(str(e)))
        """
    )
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.stdout.strip() == "InternalFailure BaseException True", out.stderr


def test_type_stubs_match_the_module():
    import ast
    import pathlib

    stub = ast.parse((pathlib.Path(T.__file__).parent / "_tessarline.pyi").read_text())
    top = {}
    for node in stub.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)):
            top[node.name] = node
        elif isinstance(node, ast.AnnAssign):
            top[node.target.id] = node
    assert set(T.__all__) <= set(top)
    assert set(top) - {"__all__"} <= set(T.__all__)
    for cls in CLASSES:
        stubbed = {n.name for n in top[cls.__name__].body if isinstance(n, ast.FunctionDef)}
        stubbed |= {n.target.id for n in top[cls.__name__].body if isinstance(n, ast.AnnAssign)}
        public = {name for name in dir(cls) if not name.startswith("_")}
        assert public == stubbed - {"__new__"}, cls
