# Type stub of the converter's private extension module yomika_cli._native.
from collections.abc import Sequence

def source_offsets(text: str, offsets: Sequence[int], /) -> list[int]:
    """For byte offsets of the sanitized text of `text` (as reported spans give them), the byte offsets
    in the UTF-8 form of `text` they came from."""
