"""NormalizationConfig: six flags by name, set through exact booleans."""

import pytest

from tessarline import _tessarline as T

FLAGS = [
    "normalize_alef",
    "normalize_taa_marbouta",
    "normalize_alef_maqsura",
    "strip_diacritics",
    "remove_tatweel",
    "normalize_digits",
]


def flags(cfg):
    return [getattr(cfg, name) for name in FLAGS]


def test_defaults_and_binding():
    assert flags(T.NormalizationConfig()) == [False, False, False, False, True, False]
    assert flags(T.NormalizationConfig(True)) == [True, False, False, False, True, False]
    assert flags(T.NormalizationConfig(*[True] * 6)) == [True] * 6
    assert flags(T.NormalizationConfig(remove_tatweel=False, normalize_digits=True)) == [
        False, False, False, False, False, True]


@pytest.mark.parametrize("name", FLAGS)
def test_each_flag_assigns_and_refuses_non_booleans(name):
    cfg = T.NormalizationConfig()
    setattr(cfg, name, True)
    assert getattr(cfg, name) is True
    for bad in ["yes", 1, None]:
        with pytest.raises(TypeError, match=f"^argument '{name}': "):
            setattr(cfg, name, bad)
        assert getattr(cfg, name) is True  # unchanged by the failed assignment
    setattr(cfg, name, False)
    assert getattr(cfg, name) is False


def test_flags_cannot_be_deleted_and_nothing_else_can_be_set():
    cfg = T.NormalizationConfig()
    with pytest.raises(AttributeError, match="^can't delete attribute$"):
        del cfg.normalize_alef
    with pytest.raises(AttributeError):
        cfg.normalize_everything = True
    assert repr(cfg).startswith("<NormalizationConfig object at 0x")


def test_instances_are_independent():
    a, b = T.NormalizationConfig(), T.NormalizationConfig()
    a.strip_diacritics = True
    assert b.strip_diacritics is False
