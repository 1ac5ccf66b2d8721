"""Reading inputs: files or standard input, the text inside a zip archive, and its encoding."""

from __future__ import annotations

import io
import os
import sys
import zipfile
import zlib

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


def _choose_member(archive: zipfile.ZipFile, wanted: str | None, notes: list[str]) -> zipfile.ZipInfo:
    files = [m for m in archive.infolist() if not m.is_dir() and not m.filename.startswith("__MACOSX/")]
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


def read_source(
    path: str, encoding: str | None = None, member: str | None = None
) -> tuple[str, list[str]]:
    """Reads one input ("-" is standard input), unpacking a zip archive when it is one. Returns
    the text and notes for the reader (which file of an archive was taken)."""
    if path == "-":
        data = sys.stdin.buffer.read()
    else:
        with open(path, "rb") as f:
            data = f.read()
    notes: list[str] = []
    if data[:4] in (b"PK\x03\x04", b"PK\x05\x06") or path.lower().endswith(".zip"):
        with _open_archive(data) as archive:
            chosen = _choose_member(archive, member, notes)
            data = _unpack(archive, chosen)
        try:
            return decode_bytes(data, encoding)[0], notes
        except DecodeError as e:
            raise DecodeError(f"{chosen.filename}: {e}") from None
    return decode_bytes(data, encoding)[0], notes


def read_input(path: str, encoding: str | None = None) -> str:
    """Reads one input ("-" is standard input), unpacking a zip archive when it is one."""
    return read_source(path, encoding)[0]


def input_size(path: str) -> int:
    """Bytes of an input as stored, for the progress bar; 0 when unknown."""
    try:
        return os.stat(path).st_size if path != "-" else 0
    except OSError:
        return 0
