# Type stub of the converter's private extension module yomika_cli._native.
from collections.abc import Callable, Sequence
from typing import Any

def source_offsets(text: str, offsets: Sequence[int], /) -> list[int]:
    """For byte offsets of the sanitized text of `text` (as reported spans give them), the byte offsets
    in the UTF-8 form of `text` they came from."""

def render_book(
    text: str, /, *, keep_legend: bool = False, picture: Callable[[str], str | None] | None = None
) -> dict[str, Any]:
    """The reader's page of a text: its parts, sections, headings and contents, the rules for its
    amounts, the notes it cannot draw and the blocks it leaves unbalanced. picture(file) gives a
    picture's src, or None when there is no such file."""
