"""The converter's exceptions."""


class DecodeError(Exception):
    """A file whose bytes are not text in the expected encoding, or a broken archive."""


class UsageError(Exception):
    """Wrong use of the command line (exit status 2)."""


class OutputError(Exception):
    """An output that cannot be placed at all, such as a folder that cannot be made (exit status 1)."""
