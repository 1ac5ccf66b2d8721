# Type stub of the yomika_py extension module: what editors and type checkers see of it.
"""Convert text in the yomika e-text notation to HTML, JSON structure reports and notation text."""

from typing import final

__all__ = ["Document", "parse_to_html"]

def parse_to_html(source: str) -> str:
    """Convenience: parse + render in one call.

    Raises ValueError when the UTF-8 form of ``source`` exceeds 4 GiB."""

@final
class Document:
    """The Python-facing handle to a parsed yomika document. A document is pinned to the thread
    that built it: it owns an arena whose bookkeeping may not be shared between threads, so use
    from another thread raises `RuntimeError` instead of sharing the document unsoundly.

    Every method parses the source afresh; none keeps a result."""

    def __new__(cls, source: str) -> Document: ...
    @property
    def source(self) -> str:
        """The source text the document was parsed from."""
    def source_byte_len(self) -> int:
        """Source byte length: the UTF-8 length of ``source``, before sanitizing."""
    def to_html(self) -> str:
        """Render the document to HTML and return as a Python `str`."""
    def nodes(self) -> str:
        """Every recognised construct and block boundary with its span, as JSON:
        ``{"schema_version":1,"data":[{"kind":...,"span":{"start":...,"end":...}}, ...]}``."""
    def pairs(self) -> str:
        """Every matched bracket pair with the spans of both brackets, as JSON:
        ``{"schema_version":1,"data":[{"kind":...,"open":{...},"close":{...}}, ...]}``."""
    def diagnostics(self) -> str:
        """Problems found in the text, as JSON: one item per unbalanced bracket or reserved
        character with its kind, severity, origin and span. A parse without problems gives
        ``{"schema_version":1,"data":[]}``."""
    def serialize(self) -> str:
        """Re-emit Yomika source text."""
