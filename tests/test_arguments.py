"""Argument binding and conversion: one message table, shared by every entry point."""

import re

import pytest

from tessarline import _tessarline as T

CODEC = T.SarfCodec({})


@pytest.mark.parametrize(
    "call, message",
    [
        # missing required arguments
        (lambda: T.normalize(), "normalize() missing 1 required positional argument: 'text'"),
        (lambda: T.encode(), "encode() missing 2 required positional arguments: 'text' and 'morf_map'"),
        (lambda: T.decode(morf_map={}), "decode() missing 1 required positional argument: 'text'"),
        (lambda: T.SarfCodec(), "SarfCodec.__new__() missing 1 required positional argument: 'morf_map'"),
        (lambda: CODEC.encode(), "SarfCodec.encode() missing 1 required positional argument: 'text'"),
        # too many positionals
        (lambda: CODEC.encode("a", "b"), "SarfCodec.encode() takes 1 positional arguments but 2 were given"),
        (lambda: T.is_pua("a", "b", "c"), "is_pua() takes 1 positional arguments but 3 were given"),
        (lambda: T.normalize("a", "b", "c"), "normalize() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: T.SarfCodec({}, "light", 1),
         "SarfCodec.__new__() takes from 1 to 2 positional arguments but 3 were given"),
        (lambda: T.NormalizationConfig(*[False] * 7),
         "NormalizationConfig.__new__() takes from 0 to 6 positional arguments but 7 were given"),
        # keywords, checked in the order passed, before missing arguments
        (lambda: T.normalize("a", text="b"), "normalize() got multiple values for argument 'text'"),
        (lambda: T.normalize("a", mode="x"), "normalize() got an unexpected keyword argument 'mode'"),
        (lambda: T.encode(mode="x", text="a"), "encode() got an unexpected keyword argument 'mode'"),
        (lambda: T.encode(text="a", mode="x"), "encode() got an unexpected keyword argument 'mode'"),
        (lambda: T.SarfCodec({}, morf_map={}), "SarfCodec.__new__() got multiple values for argument 'morf_map'"),
        (lambda: T.NormalizationConfig(colour=True),
         "NormalizationConfig.__new__() got an unexpected keyword argument 'colour'"),
        # too many positionals wins over bad keywords
        (lambda: CODEC.normalize("a", "b", bogus=1), "SarfCodec.normalize() takes 1 positional arguments but 2 were given"),
    ],
)
def test_binding_messages(call, message):
    with pytest.raises(TypeError) as info:
        call()
    assert str(info.value) == message
    assert info.value.__cause__ is None


def test_keywords_bind_like_positionals():
    assert T.normalize(text="\u0623", level="light") == T.normalize("\u0623", "light")
    assert T.SarfCodec(normalization="light", morf_map={}).normalize("x") == "x"


@pytest.mark.parametrize(
    "call, exc, message",
    [
        # text
        (lambda: T.normalize(5), TypeError, "argument 'text': 'int' object cannot be converted to 'str'"),
        (lambda: T.normalize(b"abc"), TypeError, "argument 'text': 'bytes' object cannot be converted to 'str'"),
        (lambda: T.normalize("a", None), TypeError, "argument 'level': 'NoneType' object cannot be converted to 'str'"),
        (lambda: T.SarfCodec({}, None), TypeError,
         "argument 'normalization': 'NoneType' object cannot be converted to 'str'"),
        # dict, and its entries converted after binding (no prefix)
        (lambda: T.encode("a", [("x", "y")]), TypeError,
         "argument 'morf_map': 'list' object cannot be converted to 'dict'"),
        (lambda: T.SarfCodec({"a": 1}), TypeError, "'int' object cannot be converted to 'str'"),
        (lambda: T.SarfCodec({1: "a"}), TypeError, "'int' object cannot be converted to 'str'"),
        (lambda: T.decode("a", {"a": None}), TypeError, "'NoneType' object cannot be converted to 'str'"),
        # one character
        (lambda: T.is_arabic(""), ValueError, "expected a string of length 1"),
        (lambda: T.is_arabic(None), TypeError, "argument 'ch': 'NoneType' object cannot be converted to 'str'"),
        # flag: exactly True or False
        (lambda: T.NormalizationConfig(1), TypeError,
         "argument 'normalize_alef': 'int' object cannot be converted to 'bool'"),
        (lambda: T.NormalizationConfig(remove_tatweel=None), TypeError,
         "argument 'remove_tatweel': 'NoneType' object cannot be converted to 'bool'"),
        (lambda: T.NormalizationConfig(normalize_digits=0.0), TypeError,
         "argument 'normalize_digits': 'float' object cannot be converted to 'bool'"),
    ],
)
def test_conversion_messages(call, exc, message):
    with pytest.raises(exc) as info:
        call()
    assert type(info.value) is exc
    assert str(info.value) == message
    if message.startswith("argument '"):
        # The prefixed TypeError chains the converter's own error.
        cause = info.value.__cause__
        assert type(cause) is TypeError
        assert str(info.value) == re.match(r"argument '\w+': ", message).group(0) + str(cause)


def test_conversion_stops_at_first_bad_argument_in_parameter_order():
    with pytest.raises(TypeError, match="^argument 'text'"):
        T.encode(5, [])
    with pytest.raises(TypeError, match="^argument 'morf_map'"):
        T.SarfCodec(["x"], None)
    with pytest.raises(TypeError, match="^argument 'normalize_taa_marbouta'"):
        T.NormalizationConfig(True, 2, 3)


def test_lone_surrogate_raises_interpreters_unicode_error():
    with pytest.raises(UnicodeEncodeError):
        T.normalize("a\ud800b")
    with pytest.raises(UnicodeEncodeError):
        CODEC.encode("\udfff")
    with pytest.raises(UnicodeEncodeError):
        T.SarfCodec({"\ud800": "x"})
    with pytest.raises(UnicodeEncodeError):
        T.is_arabic("\ud800")


def test_subclasses_are_accepted_and_dicts_read_from_storage():
    class Text(str):
        def encode(self, *a, **k):  # never consulted
            raise AssertionError

    class Map(dict):
        def items(self):
            raise AssertionError

        def __iter__(self):
            raise AssertionError

        def __getitem__(self, key):
            raise AssertionError

    codec = T.SarfCodec(Map({Text("ab"): Text("\ue000")}), Text("light"))
    assert codec.num_morphemes == 1
    assert T.normalize(Text("abc")) == "abc"
    assert T.is_arabic(Text("\u0628")) is True


def test_numpy_bool_scalars_are_flags():
    np = pytest.importorskip("numpy")
    cfg = T.NormalizationConfig(np.True_, remove_tatweel=np.False_)
    assert cfg.normalize_alef is True and cfg.remove_tatweel is False
    with pytest.raises(TypeError, match="^argument 'normalize_alef': 'int64' object cannot be converted to 'bool'"):
        T.NormalizationConfig(np.int64(1))
