"""tessarline._tessarline - native bindings for high-performance Arabic tokenization"""

from typing import Final, Sequence, final

__all__: list[str]
__version__: Final[str]

@final
class SarfCodec:
    """Python wrapper for SarfCodec - the main encode/decode interface"""

    def __new__(cls, morf_map: dict[str, str], normalization: str = "medium") -> SarfCodec: ...
    @staticmethod
    def from_encrypted(path: str, normalization: str = "medium") -> SarfCodec:
        """Load codec from encrypted file (.enc or .bin)"""
    @staticmethod
    def from_binary(path: str, normalization: str = "medium") -> SarfCodec:
        """Load codec from binary morf_map file (.bin)"""
    def encrypt_to_file(self, path: str) -> None:
        """Encrypt and save morf_map to .enc file (legacy JSON format)"""
    def encrypt_to_binary_file(self, path: str) -> None:
        """Encrypt and save morf_map to .bin file (recommended binary format)"""
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
    def encode_batch(self, texts: Sequence[str], num_threads: int | None = None) -> list[str]:
        """Encode a batch of texts in parallel (releases GIL)"""
    def decode_batch(self, texts: Sequence[str], num_threads: int | None = None) -> list[str]:
        """Decode a batch of texts in parallel (releases GIL)"""
    def roundtrip_batch(self, texts: Sequence[str], num_threads: int | None = None) -> list[tuple[str, str, bool]]:
        """Roundtrip test a batch of texts in parallel (releases GIL)"""

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

def encrypt_morf_map(input_json: str, output_enc: str) -> int:
    """Encrypt a morf_map JSON file to an encrypted .enc file (legacy format)"""

def encrypt_morf_map_binary(input_json: str, output_bin: str) -> int:
    """Encrypt a morf_map JSON file to binary format (.bin)"""

def is_binary_morf_map(path: str) -> bool:
    """Check if a file is a valid binary morf_map (.bin format)"""

def convert_enc_to_bin(input_enc: str, output_bin: str) -> int:
    """Convert a .enc file to .bin format"""
