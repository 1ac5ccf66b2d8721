# Type stub of the converter's private extension module yomika_cli._native.
from collections.abc import Callable
from typing import Any

def sanitize(text: str, /) -> str:
    """The text as the parser reads it (all reported spans index it)."""

def render_book(
    text: str, /, *, keep_legend: bool = False, picture: Callable[[str], str | None] | None = None
) -> dict[str, Any]:
    """The reader's page of a text: its parts, sections, headings and contents, the rules for its
    amounts, the notes it cannot draw and the blocks it leaves unbalanced. picture(file) gives a
    picture's src, or None when there is no such file."""
