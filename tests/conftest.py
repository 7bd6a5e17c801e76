import pytest

from tessarline import _tessarline


@pytest.fixture(scope="session")
def t():
    """The native module."""
    return _tessarline
