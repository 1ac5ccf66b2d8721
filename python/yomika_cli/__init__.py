"""yomika: convert books in the yomika notation into readable pages, HTML, JSON or notation.

The command-line face of the yomika_py module. It reads UTF-8 or Shift_JIS (CP932) files, plain
or inside a zip archive, and writes a complete HTML page of the book (the default), an EPUB 3
e-book, the HTML fragment, the three JSON reports, or the normalized notation text. Diagnostics go to standard error as
``file:line:column: severity: message``, the line and column of the file as its reader sees it.

reading    files, standard input, zip archives, encodings
convert    one input to one result and its diagnostics
diagnostics  spans turned into lines and columns of the file, and messages
page       the HTML page of a book, from the parts the core renders
epub       the EPUB 3 package of a book, from the same parts
output     output paths, the input-is-output check, atomic writes, stop signals
progress   the progress bar
cli        the options and the run
"""

from yomika_cli.cli import main
from yomika_cli.convert import Result, convert_text
from yomika_cli.errors import DecodeError
from yomika_cli.page import render_book, render_page
from yomika_cli.reading import decode_bytes, read_input

__all__ = ["main", "convert_text", "decode_bytes", "read_input", "render_book", "render_page", "DecodeError", "Result"]
