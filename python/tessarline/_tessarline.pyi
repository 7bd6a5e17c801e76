"""tessarline._tessarline - native bindings for high-performance Arabic tokenization"""

from typing import Final, final

__all__: list[str]
__version__: Final[str]

@final
class SarfCodec:
    """Python wrapper for SarfCodec - the main encode/decode interface"""

    def __new__(cls, morf_map: dict[str, str], normalization: str = "medium") -> SarfCodec: ...
    def encode(self, text: str) -> str:
        """Encode text (normalize + morpheme -> PUA)"""
    def decode(self, text: str) -> str:
        """Decode text (byte decode + PUA -> morpheme + post-process)"""
    def normalize(self, text: str) -> str:
        """Normalize text only"""
    def roundtrip(self, text: str) -> tuple[str, str, bool]:
        """Roundtrip test"""
    @property
    def num_morphemes(self) -> int:
        """Get number of morphemes"""
    def stats(self) -> dict[str, int]:
        """Get statistics as dict"""

@final
class NormalizationConfig:
    """Python-facing normalization config"""

    normalize_alef: bool
    normalize_taa_marbouta: bool
    normalize_alef_maqsura: bool
    strip_diacritics: bool
    remove_tatweel: bool
    normalize_digits: bool
    def __new__(
        cls,
        normalize_alef: bool = False,
        normalize_taa_marbouta: bool = False,
        normalize_alef_maqsura: bool = False,
        strip_diacritics: bool = False,
        remove_tatweel: bool = True,
        normalize_digits: bool = False,
    ) -> NormalizationConfig: ...

def encode(text: str, morf_map: dict[str, str]) -> str:
    """Encode text with a morpheme map (v2 API)"""

def decode(text: str, morf_map: dict[str, str]) -> str:
    """Decode text with a morpheme map (v2 API)"""

def normalize(text: str, level: str = "medium") -> str:
    """Normalize Arabic text"""

def is_arabic(ch: str) -> bool:
    """Check if character is Arabic"""

def is_pua(ch: str) -> bool:
    """Check if character is PUA"""

def version() -> str:
    """Get version"""

def decode_bytes(text: str) -> str:
    """Decode GPT-2 style byte-encoded text"""
