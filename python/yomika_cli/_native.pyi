# Type stub of the converter's private extension module yomika_cli._native.

def sanitize(text: str, /) -> str:
    """The text as the parser reads it (all reported spans index it)."""
