"""tessarline: Arabic text preparation for language models.

Normalization, a morpheme codec that swaps known morphemes for Private Use Area
codes, encrypted morpheme-map files and a byte-level BPE tokenizer, all in native
code. Everything lives in :mod:`tessarline._tessarline`; this package re-exports it.
"""

from . import _tessarline
from ._tessarline import *  # noqa: F401,F403

__all__ = list(_tessarline.__all__)
__version__ = _tessarline.__version__
