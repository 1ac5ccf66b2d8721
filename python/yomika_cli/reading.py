"""Reading inputs: files or standard input, the text inside a zip archive, and its encoding."""

from __future__ import annotations

import io
import os
import posixpath
import sys
import time
import zipfile
import zlib
from dataclasses import dataclass, field

from yomika_cli.errors import DecodeError, UsageError

# Compression methods this Python unpacks, and names for the others that book archives use.
_UNPACKED = {zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED}
for _method, _module in ((zipfile.ZIP_BZIP2, "bz2"), (zipfile.ZIP_LZMA, "lzma")):
    try:
        __import__(_module)
        _UNPACKED.add(_method)
    except ImportError:
        pass
_METHOD_NAMES = {9: "Deflate64", 12: "bzip2", 14: "LZMA", 93: "Zstandard", 95: "xz", 98: "PPMd", 99: "AES"}


def decode_bytes(data: bytes, encoding: str | None = None) -> tuple[str, str]:
    """Returns (text, encoding used). Without an encoding, UTF-8 (with or without a byte-order
    mark) is tried first and CP932 second; a text that is neither raises DecodeError naming the
    byte offset where decoding stopped."""
    if encoding:
        try:
            return data.decode(encoding), encoding
        except UnicodeDecodeError as e:
            raise DecodeError(f"cannot decode as {encoding}: invalid byte at offset {e.start}") from None
        except LookupError:
            raise UsageError(f"unknown encoding: {encoding}") from None
    try:
        return data.decode("utf-8"), "utf-8"
    except UnicodeDecodeError as utf8_error:
        try:
            return data.decode("cp932"), "cp932"
        except UnicodeDecodeError as cp932_error:
            # Report the decoder that got further: it is the likelier encoding of the file.
            if utf8_error.start >= cp932_error.start:
                where, name = utf8_error.start, "UTF-8"
            else:
                where, name = cp932_error.start, "CP932"
            raise DecodeError(
                f"cannot decode as UTF-8 or CP932: invalid {name} byte at offset {where}"
            ) from None


def _open_archive(data: bytes) -> zipfile.ZipFile:
    """Names stored without the archive's UTF-8 flag are CP932 in Japanese archives; an archive
    whose names are not CP932 either gets the zip format's own default."""
    try:
        try:
            return zipfile.ZipFile(io.BytesIO(data), metadata_encoding="cp932")
        except UnicodeDecodeError:
            return zipfile.ZipFile(io.BytesIO(data))
    except (zipfile.BadZipFile, EOFError, ValueError) as e:
        raise DecodeError(f"not a readable zip archive: {e}") from None


def _files(archive: zipfile.ZipFile) -> list[zipfile.ZipInfo]:
    """The archive's files, without folders and the resource forks some archivers add."""
    return [m for m in archive.infolist() if not m.is_dir() and not m.filename.startswith("__MACOSX/")]


def _choose_member(archive: zipfile.ZipFile, wanted: str | None, notes: list[str]) -> zipfile.ZipInfo:
    files = _files(archive)
    texts = [m for m in files if m.filename.lower().endswith(".txt")]
    if wanted is not None:
        # The whole name, or a base name that only one file of the archive has.
        found = [m for m in files if m.filename == wanted] or [
            m for m in files if m.filename.rsplit("/", 1)[-1] == wanted
        ]
        if len(found) != 1:
            names = ", ".join(m.filename for m in texts) or "none"
            raise DecodeError(f"no single file named {wanted} in the archive (its text files: {names})")
        return found[0]
    if not texts:
        raise DecodeError("no text file in the archive")
    # Archives of a book hold one text and sometimes pictures; the largest text is the book.
    chosen = max(texts, key=lambda m: m.file_size)
    if len(texts) > 1:
        notes.append(
            f"{len(texts)} text files in the archive; reading the largest, {chosen.filename} (--member NAME chooses)"
        )
    return chosen


def _unpack(archive: zipfile.ZipFile, member: zipfile.ZipInfo) -> bytes:
    name = member.filename
    if member.flag_bits & 0x41:  # traditional or strong encryption
        raise DecodeError(f"cannot unpack the zip archive: {name} is encrypted")
    if member.compress_type not in _UNPACKED:
        method = _METHOD_NAMES.get(member.compress_type, f"method {member.compress_type}")
        raise DecodeError(f"cannot unpack the zip archive: {name} is compressed with {method}, which is not supported")
    try:
        return archive.read(member)
    except (zipfile.BadZipFile, zlib.error, EOFError, NotImplementedError, RuntimeError, OSError) as e:
        raise DecodeError(f"cannot unpack the zip archive: {name} is damaged ({e})") from None


# Pictures a book names are looked for beside its text; one larger than this is not taken.
PICTURE_LIMIT = 64 << 20


@dataclass
class Source:
    """One input read: its text, notes for the reader, and where the pictures its text names are
    (the text's folder, or the archive it came from)."""

    text: str
    notes: list[str] = field(default_factory=list)
    modified: float = 0.0  # the input's modification time (now, for standard input)
    folder: str | None = None  # a text file's folder
    archive: bytes | None = None  # a zip archive's bytes
    member: str = ""  # the text's name inside the archive
    # Pictures looked for so far, by the name a note gives (a text may name one many times), and
    # the archive's files by whole name and by base name, the first of each, once opened.
    _found: dict[str, tuple[str, bytes] | None] = field(default_factory=dict, init=False, repr=False, compare=False)
    _zip: tuple[zipfile.ZipFile, dict[str, zipfile.ZipInfo], dict[str, zipfile.ZipInfo]] | None = field(
        default=None, init=False, repr=False, compare=False
    )

    def picture(self, name: str) -> tuple[str, bytes] | None:
        """The picture a note names (a file name, or a path below the text's folder), as its
        name inside an e-book and its bytes; None when there is no such file. Names that climb
        out of the text's folder are never followed."""
        if name not in self._found:
            self._found[name] = self._look_for(name)
        return self._found[name]

    def _look_for(self, name: str) -> tuple[str, bytes] | None:
        parts = [p for p in name.replace("\\", "/").split("/") if p not in ("", ".")]
        if not parts or ".." in parts:
            return None
        relative = "/".join(parts)
        if self.archive is not None:
            return self._picture_in_archive(relative)
        if self.folder is None:
            return None
        path = os.path.join(self.folder, *parts)
        try:
            if os.path.getsize(path) > PICTURE_LIMIT:
                return None
            with open(path, "rb") as f:
                return relative, f.read()
        except OSError:
            return None

    def _picture_in_archive(self, relative: str) -> tuple[str, bytes] | None:
        assert self.archive is not None
        if self._zip is None:
            archive = _open_archive(self.archive)
            whole: dict[str, zipfile.ZipInfo] = {}
            base: dict[str, zipfile.ZipInfo] = {}
            for m in _files(archive):
                whole.setdefault(m.filename, m)
                base.setdefault(m.filename.rsplit("/", 1)[-1], m)
            self._zip = archive, whole, base
        archive, whole, base = self._zip
        # Beside the text first, then anywhere in the archive by the same name.
        found = whole.get(posixpath.join(posixpath.dirname(self.member), relative)) or base.get(
            relative.rsplit("/", 1)[-1]
        )
        if found is None or found.file_size > PICTURE_LIMIT:
            return None
        try:
            return relative, _unpack(archive, found)
        except DecodeError:
            return None


def open_source(path: str, encoding: str | None = None, member: str | None = None) -> Source:
    """Reads one input ("-" is standard input), unpacking a zip archive when it is one."""
    if path == "-":
        data = sys.stdin.buffer.read()
        modified = time.time()
    else:
        with open(path, "rb") as f:
            data = f.read()
            modified = os.fstat(f.fileno()).st_mtime
    notes: list[str] = []
    if data[:4] in (b"PK\x03\x04", b"PK\x05\x06") or path.lower().endswith(".zip"):
        with _open_archive(data) as archive:
            chosen = _choose_member(archive, member, notes)
            text_bytes = _unpack(archive, chosen)
        try:
            text = decode_bytes(text_bytes, encoding)[0]
        except DecodeError as e:
            raise DecodeError(f"{chosen.filename}: {e}") from None
        return Source(text, notes, modified, archive=data, member=chosen.filename)
    folder = None if path == "-" else os.path.dirname(os.path.abspath(path))
    return Source(decode_bytes(data, encoding)[0], notes, modified, folder=folder)


def read_input(path: str, encoding: str | None = None) -> str:
    """Reads one input's text ("-" is standard input), unpacking a zip archive when it is one."""
    return open_source(path, encoding).text


def input_size(path: str) -> int:
    """Bytes of an input as stored, for the progress bar; 0 when unknown."""
    try:
        return os.stat(path).st_size if path != "-" else 0
    except OSError:
        return 0
