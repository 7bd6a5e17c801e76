"""tessarline._tessarline - native bindings for high-performance Arabic tokenization"""

__all__: list[str]
__version__: str

def is_arabic(ch: str) -> bool:
    """Check if character is Arabic"""

def is_pua(ch: str) -> bool:
    """Check if character is PUA"""

def version() -> str:
    """Get version"""
