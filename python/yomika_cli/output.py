"""Where results go, and writing them so that a reader's files are never lost: an input is never
an output, and an output file is replaced only by a complete new one."""

from __future__ import annotations

import contextlib
import errno
import os
import signal
import stat
import sys
import tempfile
import threading
from collections.abc import Iterator

from yomika_cli.errors import OutputError, UsageError

SUFFIXES = {"page": ".html", "epub": ".epub", "html": ".html", "json": ".json", "text": ".txt"}
_CHUNK = 1 << 20  # a stop request waits for at most one chunk of a large write


def output_targets(output: str | None, inputs: list[str], to: str) -> list[str | None]:
    """Where each input's result goes: None for standard output. `-o` names a folder when it is
    one or ends in a slash, and a file otherwise."""
    if output is None or output == "-":
        return [None] * len(inputs)
    if not os.path.isdir(output) and not output.endswith(("/", os.sep)):
        if len(inputs) > 1:
            raise UsageError(
                f"-o {output} is one file for {len(inputs)} inputs; name a folder (end it with /) instead"
            )
        return [output]
    names = [(os.path.splitext(os.path.basename(p))[0] if p != "-" else "stdin") + SUFFIXES[to] for p in inputs]
    targets: list[str | None] = [os.path.join(output, n) for n in names]
    seen: dict[str, str] = {}
    for path, target in zip(inputs, targets):
        assert target is not None
        key = os.path.normcase(os.path.abspath(target))
        if key in seen:
            raise UsageError(f"{seen[key]} and {path} would both be written to {target}")
        seen[key] = path
    return targets


def _identity(st: os.stat_result) -> tuple[int, int] | None:
    return (st.st_dev, st.st_ino) if stat.S_ISREG(st.st_mode) else None


def refuse_inputs_as_outputs(inputs: list[str], targets: list[str | None]) -> None:
    """Raises UsageError when an output would replace one of the inputs: the same file by device
    and inode, so that links and other spellings of its name are caught too."""
    read: dict[tuple[int, int], str] = {}
    for path in inputs:
        with contextlib.suppress(OSError, ValueError, AttributeError):  # a closed or missing stream
            st = os.fstat(sys.stdin.fileno()) if path == "-" else os.stat(path)
            if (identity := _identity(st)) is not None:
                read[identity] = "standard input" if path == "-" else path
    for target in targets:
        try:
            st = os.fstat(sys.stdout.fileno()) if target is None else os.stat(target)
        except (OSError, ValueError, AttributeError):
            continue
        if (identity := _identity(st)) in read:
            where = "standard output" if target is None else target
            raise UsageError(f"writing {where} would overwrite the input {read[identity]}")


def make_folders(targets: list[str | None]) -> None:
    """Makes the folders the outputs go into; OutputError with a plain reason when one cannot be."""
    for folder in sorted({os.path.dirname(t) for t in targets if t is not None and os.path.dirname(t)}):
        try:
            os.makedirs(folder, exist_ok=True)
        except OSError as e:
            blocker = folder
            while blocker and not os.path.lexists(blocker):
                blocker = os.path.dirname(blocker)
            if blocker and not os.path.isdir(blocker):
                reason = f"{blocker} is a file, not a folder"
            else:
                reason = e.strerror or str(e)
            raise OutputError(f"cannot make the folder {folder}: {reason}") from None


class Stopped(BaseException):
    """SIGTERM, SIGHUP or SIGINT arrived: the run ends, after the current write is undone."""

    def __init__(self, signum: int):
        super().__init__(signum)
        self.signum = signum


_STOPPING = (signal.SIGTERM, signal.SIGHUP, signal.SIGINT)
_held = 0  # > 0 while a step that must not be cut short runs
_pending: int | None = None


def _on_signal(signum: int, frame: object) -> None:
    global _pending
    if _held:
        _pending = signum
    else:
        raise Stopped(signum)


@contextlib.contextmanager
def _holding() -> Iterator[None]:
    """A stop request waits until the block is done, then is raised."""
    global _held, _pending
    _held += 1
    try:
        yield
    finally:
        _held -= 1
        if not _held and _pending is not None:
            signum, _pending = _pending, None
            raise Stopped(signum)


@contextlib.contextmanager
def stopping_cleanly() -> Iterator[None]:
    """Turns the stop signals into Stopped for the duration, in the main thread only."""
    if threading.current_thread() is not threading.main_thread():
        yield
        return
    previous = {s: signal.signal(s, _on_signal) for s in _STOPPING}
    try:
        yield
    finally:
        for s, handler in previous.items():
            signal.signal(s, handler)


def end_by(signum: int) -> int:
    """Ends the process by the signal that stopped it, as it would have ended without the clean-up
    (so that a shell sees 128 + the signal's number); the status to return if that fails."""
    signal.signal(signum, signal.SIG_DFL)
    signal.raise_signal(signum)
    return 128 + signum


def _new_file_mode() -> int:
    mask = os.umask(0)
    os.umask(mask)
    return 0o666 & ~mask


def write_atomically(target: str, data: bytes) -> None:
    """Writes a temporary file beside the target and renames it into place once it is complete.
    Whatever stops the write (a full disk, a file-size limit, a signal) removes the temporary file
    and leaves the target as it was. A target that is not a regular file (/dev/null, a pipe) is
    written in place."""
    try:
        st: os.stat_result | None = os.stat(target)
    except OSError:
        st = None
    if st is not None and not stat.S_ISREG(st.st_mode) and not stat.S_ISDIR(st.st_mode):
        with open(target, "wb") as f:
            f.write(data)
        return
    if st is not None and not os.access(target, os.W_OK):  # a file kept read-only stays as it is
        raise PermissionError(errno.EACCES, os.strerror(errno.EACCES), target)
    mode = stat.S_IMODE(st.st_mode) if st is not None else _new_file_mode()
    folder, name = os.path.split(target)
    fd, temporary = -1, None
    try:
        with _holding():  # so that the name is known before a stop can land
            fd, temporary = tempfile.mkstemp(prefix=f".{name}.", suffix=".part", dir=folder or ".")
        view = memoryview(data)
        while view:
            view = view[os.write(fd, view[:_CHUNK]) :]
        os.fchmod(fd, mode)
        os.fsync(fd)
        with _holding():
            os.close(fd)
            fd = -1
            os.replace(temporary, target)
            temporary = None
    except BaseException:
        with _holding():
            if fd >= 0:
                os.close(fd)
            if temporary is not None:
                with contextlib.suppress(OSError):
                    os.unlink(temporary)
        raise


def write_stdout(data: bytes) -> None:
    """Standard output is UTF-8 whatever the locale says, as the page declares. A large write may
    be taken only in part when the reader goes away; writing the rest raises BrokenPipeError."""
    view = memoryview(data)
    while view:
        written = sys.stdout.buffer.write(view[:_CHUNK])
        if not written:
            raise OSError("standard output takes no more data")
        view = view[written:]
    sys.stdout.buffer.flush()
