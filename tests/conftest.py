import pytest

from tessarline import _tessarline


@pytest.fixture(scope="session")
def t():
    """The native module."""
    return _tessarline


def _under_address_sanitizer():
    with open("/proc/self/maps") as maps:
        return "libasan" in maps.read()


# AddressSanitizer reserves terabytes of address space, so limits on it
# (RLIMIT_AS) cannot be used to make allocations or thread starts fail.
needs_address_limit = pytest.mark.skipif(
    _under_address_sanitizer(), reason="address-space limits do not work under AddressSanitizer"
)
