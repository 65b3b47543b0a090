"""Velmora's conversion from Python, over its C library (libvelmora, velmora.h).

Turns a metadata document written in HTML as nested definition lists into indented plain
text, as velmora-convert does: every term, definition and paragraph of the document's
first definition list on a line of its own, two spaces deeper per list level, lines
separated by CR LF. The text is bytes, in the document's own encoding.

    import velmora

    text = velmora.convert(b"<dl><dt>Title</dt><dd>Value</dd></dl>")
    # b"\\r\\n  Title\\r\\n    Value"

    velmora.convert_file("report.html")                  # writes report.txt beside it
    velmora.convert_file("report.html", "out/report.txt")

    with open("big.html", "rb") as source, open("big.txt", "wb") as destination:
        velmora.convert_stream(source, destination)      # bounded memory, any size

Whatever does not give a text raises a VelmoraError: RefusedError for a report of the
ZOAK metadata report generator, which is not converted; EmptyInputError for an input with
no bytes; ConversionError for a failure, with the reason's code, errno value and file.
A failure to read or write a file is a FileError, which is also an OSError (errno,
strerror and filename set), so that `except OSError` catches it as any other.
Nothing is written in any of these cases, and an output file is left as it was.

Each function takes an optional `progress(value, maximum)` callable, called on the
converting thread as the conversion goes, as the window's progress bar is fed: `maximum`
is the number of characters in the document's first definition list, `value` how far the
conversion is into it (it may pass `maximum` on the way, and ends there). It is called
once per element, so it costs time on a large document: a conversion with it takes many
times as long as one without. To stop a conversion, raise in it, or in a destination's
write: the conversion stops, nothing more is written (a file output is left as it was),
and the exception comes out of the call unchanged.

A destination's pieces come in order, one at a time, before the call returns. Without a
progress callback the source is read once and the text handed over on the calling thread
once all of the source has been seen; with one, for a large document (from a few megabytes
on) they come as the conversion goes, on a thread of the library's own, alongside the
progress calls on the calling thread: a destination that is shared, or that touches a
window, must allow for it.

Several threads may convert at once: the GIL is let go of while the library works. A
conversion cannot be interrupted with Ctrl-C until a callback runs; pass a progress
callable for one that can be.
"""

from __future__ import annotations

import ctypes
import enum
import errno as _errno
import io
import os
import typing

from . import _native

if typing.TYPE_CHECKING:
    import array
    import mmap
    from typing import Callable, Protocol, Union

    #: A path: str, bytes or os.PathLike.
    Path = Union[str, bytes, "os.PathLike[str]", "os.PathLike[bytes]"]
    #: A document in memory.
    Document = Union[bytes, bytearray, memoryview, "mmap.mmap", "array.array[int]"]
    #: progress(value, maximum); what it returns is not looked at.
    Progress = Callable[[float, float], object]

    class Readable(Protocol):
        def read(self, size: int, /) -> bytes | None: ...

    class Writable(Protocol):
        def write(self, data: bytes, /) -> int | None: ...

__all__ = [
    "convert",
    "convert_file",
    "convert_stream",
    "default_output",
    "library_version",
    "Outcome",
    "FailureCode",
    "VelmoraError",
    "RefusedError",
    "EmptyInputError",
    "ConversionError",
    "FileError",
]

#: This package's version: the project's, which is also the C library's it is made for.
__version__ = "1.0"

_library, _library_path = _native.load()


class Outcome(enum.IntEnum):
    """How a conversion went: velmora_outcome."""

    CONVERTED = 0
    REFUSED = 1
    EMPTY = 2
    FAILED = 3


class FailureCode(enum.IntEnum):
    """Why a conversion failed: velmora_failure_code. The numbers stay the same from one
    version to the next."""

    NONE = 0
    READ = 1  #: the input could not be read
    WRITE = 2  #: the output could not be written
    MEMORY = 3  #: not enough memory
    CHANGED = 4  #: the input file changed while it was being converted
    USAGE = 5  #: the call itself is wrong, e.g. an output that would replace the input
    STOPPED = 6  #: a callback asked the conversion to stop


class VelmoraError(Exception):
    """A conversion that gave no text. `outcome` says which kind, `message` the line that
    says why, and `filename` the file concerned, or None."""

    outcome: Outcome | None = None

    def __init__(self, message: str, filename: str | None = None) -> None:
        super().__init__(message)
        self.message = message
        self.filename = filename

    def __reduce__(self):  # pickled whole, as a process pool hands it back
        return type(self), (self.message, self.filename)


class RefusedError(VelmoraError):
    """The input is a report of the ZOAK metadata report generator, which is not converted:
    "ZOAK Metadata Generated HTML Reports Not Supported"."""

    outcome = Outcome.REFUSED


class EmptyInputError(VelmoraError):
    """The input holds no bytes."""

    outcome = Outcome.EMPTY


class ConversionError(VelmoraError):
    """The conversion failed: `code` (a FailureCode) says why, `errno` is the system's
    reason as an errno value (errno.ENOENT) or 0, `filename` the file concerned or None,
    and the message is the line velmora-convert prints, e.g.

        cannot read "in.html": No such file or directory
    """

    outcome = Outcome.FAILED

    def __init__(self, message: str, code: FailureCode | int, errno: int = 0,
                 filename: str | None = None) -> None:
        super().__init__(message, filename)
        self.code = code
        self.errno = errno

    def __reduce__(self):
        return type(self), (self.message, self.code, self.errno, self.filename)


class FileError(ConversionError, OSError):
    """A file could not be read (FailureCode.READ) or written (WRITE), or the input changed
    while it was converted (CHANGED). Also an OSError, with `errno` the system's reason
    (errno.ENOENT, or 0 for CHANGED), `strerror` the message and `filename` the file; str()
    gives the message alone."""

    def __init__(self, message: str, code: FailureCode | int, errno: int = 0,
                 filename: str | None = None) -> None:
        super().__init__(message, code, errno, filename)
        self.strerror = message

    def __str__(self) -> str:
        return self.message


#: The failure codes raised as FileError.
_FILE_CODES = frozenset({FailureCode.READ, FailureCode.WRITE, FailureCode.CHANGED})


def library_version() -> str:
    """The C library's version, e.g. "1.0"."""
    return _library.velmora_version().decode("ascii", "replace")


# --- One call's state: its failure record and the exception a callback raised -------


class _Call:
    """What one conversion needs around the library: the velmora_failure it fills in,
    the callbacks in C's shape, and the first exception any of them raised, which stops
    the conversion and is raised again once the library has returned."""

    def __init__(self, progress):
        self.failure = _native.Failure()
        self.raised = None
        if progress is None:
            self.progress = _native.NO_PROGRESS
        elif not callable(progress):
            raise TypeError("progress must be callable, not %r" % type(progress).__name__)
        else:
            self._progress = progress
            self.progress = _native.PROGRESS_FN(self._on_progress)

    def _on_progress(self, user, value, maximum):
        if self.raised is not None:
            return 1
        try:
            self._progress(value, maximum)
        except BaseException as error:  # KeyboardInterrupt too: it stops the conversion
            self._keep(error)
            return 1
        return 0

    def _keep(self, error):
        # The first exception is the one raised again: the write callback's may come on
        # another thread, while the progress callback's comes on this one.
        if self.raised is None:
            self.raised = error

    def writer(self, write):
        """A velmora_write_fn handing each piece to `write(bytes)`: in order, one at a time,
        on the calling thread or, for a large document with progress shown, on the
        library's own."""

        def put(user, address, size):
            if self.raised is not None:
                return 1
            try:
                write(ctypes.string_at(address, size) if size else b"")
            except BaseException as error:
                self._keep(error)
                return 1
            return 0

        return _native.WRITE_FN(put)

    def reader(self, source):
        """A velmora_read_fn reading from the binary file object `source`, into the
        library's buffer directly where it has readinto."""
        readinto = getattr(source, "readinto", None)
        read = source.read

        def get(user, address, size):
            if self.raised is not None:
                return -_errno.EIO
            try:
                if readinto is not None:
                    view = memoryview((ctypes.c_char * size).from_address(address)).cast("B")
                    try:
                        count = readinto(view)
                    finally:
                        view.release()
                else:
                    data = read(size)
                    if data is None:
                        count = None
                    else:
                        data = memoryview(data).cast("B")  # TypeError for a text file
                        count = data.nbytes
                        if count > size:
                            raise ValueError("read(%d) gave %d bytes" % (size, count))
                        ctypes.memmove(address, data.tobytes(), count)
                if count is None:
                    raise BlockingIOError(_errno.EAGAIN,
                                          "the source is non-blocking and has nothing to read")
                return count
            except BaseException as error:
                self._keep(error)
                code = getattr(error, "errno", None)
                return -(code if isinstance(code, int) and 0 < code < 4096 else _errno.EIO)

        return _native.READ_FN(get)

    def finish(self, outcome, filename=None):
        """Raises what the call's outcome calls for: a callback's exception first, then the
        VelmoraError of an outcome other than VELMORA_CONVERTED."""
        if self.raised is not None:
            raised, self.raised = self.raised, None
            try:
                raise raised
            finally:
                raised = None
        if outcome == Outcome.CONVERTED:
            return
        failure = self.failure
        message = failure.message.decode("utf-8", "backslashreplace")
        if outcome == Outcome.REFUSED:
            raise RefusedError(message, filename)
        if outcome == Outcome.EMPTY:
            raise EmptyInputError("the input is empty; nothing was written", filename)
        try:
            code = FailureCode(failure.code)
        except ValueError:  # a code of a later library
            code = failure.code
        path = os.fsdecode(failure.path) if failure.path else None
        if outcome == Outcome.FAILED:
            kind = FileError if code in _FILE_CODES else ConversionError
            raise kind(message, code, failure.error, path)
        raise VelmoraError("unknown outcome %d: %s" % (outcome, message), path)


# --- Arguments ------------------------------------------------------------------------


def _path_bytes(path):
    """A path argument as the library takes it: bytes as the system names the file (UTF-8
    on Windows), as os.open would pass it."""
    encoded = os.fsencode(os.fspath(path))
    if b"\0" in encoded:
        raise ValueError("embedded null byte")
    return encoded


def _memory(data):
    """A bytes-like object as an address the library can read and its size, without a
    copy for bytes and for a writable buffer (which cannot be resized meanwhile)."""
    if isinstance(data, bytes):
        return data, len(data)
    if isinstance(data, str):
        raise TypeError("a bytes-like object is required, not 'str': the document's bytes, "
                        "as read from its file (or text.encode() in its own encoding)")
    view = memoryview(data)
    size = view.nbytes
    if size == 0:
        return None, 0
    if view.readonly or not view.c_contiguous:
        return view.tobytes(), size
    return (ctypes.c_char * size).from_buffer(view), size


def _is_bytes_like(value):
    """Whether `value` is a document in memory (bytes, bytearray, memoryview, mmap, an
    array) rather than a file to read."""
    if isinstance(value, (bytes, bytearray, memoryview)):
        return True
    if isinstance(value, (str, io.IOBase)):
        return False
    try:
        memoryview(value).release()
    except TypeError:
        return False
    return True


def _write_function(destination):
    """`destination`'s write as a function that writes a whole piece."""
    if isinstance(destination, io.TextIOBase):
        raise TypeError("the destination is a text file: open it in binary mode ('wb')")
    write = getattr(destination, "write", None)
    if write is None:
        if not callable(destination):
            raise TypeError("the destination must be a binary file or a callable, not %r"
                            % type(destination).__name__)
        return destination

    def write_all(piece):
        # A raw file may write part of a piece: the rest follows.
        count = write(piece)
        view = memoryview(piece)
        while count is not None and count < view.nbytes:
            view = view[count:]
            count = write(view)

    return write_all


# --- The conversions ------------------------------------------------------------------


def convert(data: Document, *, progress: Progress | None = None) -> bytes:
    """Converts the document `data` (bytes, or any bytes-like object) and returns its text
    as bytes.

    Raises RefusedError for a ZOAK metadata report, EmptyInputError for no bytes, and
    ConversionError on a failure (ConversionError.code FailureCode.MEMORY, say). The whole
    text is held in memory; convert_stream hands it on in pieces instead.
    """
    pieces: list[bytes] = []
    _convert_memory(data, pieces.append, progress)
    return b"".join(pieces)


def convert_stream(source: Document | Readable,
                   destination: Writable | Callable[[bytes], object], *,
                   progress: Progress | None = None) -> int:
    """Converts `source` into `destination` and returns the number of bytes written.

    `source` is a binary file object (with readinto or read: an open file, sys.stdin.buffer,
    io.BytesIO, a socket's makefile("rb"), an HTTP response), read through to its end once
    and held meanwhile in a temporary file, or a bytes-like object, converted where it lies.
    `destination` is a binary file object, or a callable, handed the text in pieces as they
    are made, so that memory stays bounded whatever the size.

    On a failure of the source, its exception comes out (an OSError from read, say); one
    the library meets itself raises FileError, FailureCode.READ for the source and
    FailureCode.WRITE for the temporary file. Raises RefusedError and EmptyInputError as
    convert does: then nothing was written. Text written before a failure stays written.
    """
    write = _write_function(destination)
    written = 0

    def counted(piece):
        nonlocal written
        write(piece)
        written += len(piece)

    if _is_bytes_like(source):
        _convert_memory(source, counted, progress)
        return written
    if isinstance(source, io.TextIOBase):
        raise TypeError("the source is a text file: open it in binary mode ('rb')")
    if not hasattr(source, "read"):
        raise TypeError("the source must be a binary file or a bytes-like object, not %r"
                        % type(source).__name__)
    call = _Call(progress)
    outcome = _library.velmora_convert_stream(
        call.reader(source), call.writer(counted), call.progress, None,
        ctypes.byref(call.failure))
    call.finish(outcome)
    return written


def _convert_memory(data, write, progress):
    address, size = _memory(data)
    call = _Call(progress)
    outcome = _library.velmora_convert_memory(
        address, size, call.writer(write), call.progress, None, ctypes.byref(call.failure))
    call.finish(outcome)


def convert_file(input: Path, output: Path | None = None, *,
                 progress: Progress | None = None) -> str | bytes:
    """Converts the file `input` into the file `output` and returns the output's path.

    Without `output`, the text goes beside the input, its extension replaced by "txt", as
    velmora-convert names it (default_output). The output is replaced only once the whole
    new text is written, keeping its permissions, and is left as it was on any failure.
    Paths are str, bytes or os.PathLike. The path returned is `output` as os.fspath gives
    it, or default_output(input): bytes for a bytes input, else str.

    Raises RefusedError or EmptyInputError (nothing written, `filename` the input),
    FileError (an OSError): FailureCode.READ or WRITE with the file and errno value,
    FailureCode.CHANGED for an input changed while it was converted; or ConversionError:
    FailureCode.USAGE for an output that would replace the input, or an input that is no
    file (a FIFO, say) with no output named. A progress callable that raises stops the
    conversion, and its exception comes out (the output left as it was).
    """
    source = _path_bytes(input)
    target = None if output is None else _path_bytes(output)
    call = _Call(progress)
    outcome = _library.velmora_convert_file_progress(
        source, target, call.progress, None, ctypes.byref(call.failure))
    call.finish(outcome, os.fspath(input))
    if output is not None:
        return os.fspath(output)
    return default_output(input)


def default_output(input: Path) -> str | bytes:
    """Where convert_file writes without an output: `input` with the extension of its file
    name replaced by "txt" ("data.old/report" gives "data.old/report.txt", ".config" gives
    ".config.txt"). bytes for a bytes input, else str."""
    path = os.fspath(input)
    encoded = _path_bytes(path)
    size = len(encoded) + 16
    while True:
        buffer = ctypes.create_string_buffer(size)
        length = _library.velmora_default_output(encoded, buffer, size)
        if length == ctypes.c_size_t(-1).value:
            raise MemoryError("not enough memory for the output's path")
        if length < size:
            break
        size = length + 1
    result = buffer.raw[:length]
    return result if isinstance(path, bytes) else os.fsdecode(result)
