"""The bytes of a source: a path, bytes or a binary file object, decompressed when they are gzip,
bzip2 or xz data, whatever the name says."""

from __future__ import annotations

import builtins
import bz2
import io
import lzma
import os
import pathlib
import stat
import zlib
from typing import IO, Iterable, Iterator, List, NamedTuple, Optional, Union

from . import _core
from ._records import MessageEntry

Source = Union[str, "os.PathLike[str]", bytes, bytearray, memoryview, IO[bytes]]

# BUFR data is packed to the bit and compresses a few times at most: a stream that grows past
# this many times its size, and past the floor, is a decompression bomb.
MAX_GROWTH = 64
MIN_LIMIT = 256 << 20


#: The bytes of a source: a regular file is mapped, not read.
Data = Union[bytes, _core.MappedFile]


class Loaded(NamedTuple):
    """What a source holds: its bytes, the name errors show for it, and why its compressed
    stream stopped short (None when it ended well or was not compressed)."""

    data: Data
    name: Optional[str]
    cut: Optional[str] = None


class _Gzip:
    """zlib's gzip decoder with the interface of the bz2 and lzma decompressors."""

    def __init__(self) -> None:
        self._stream = zlib.decompressobj(16 + zlib.MAX_WBITS)

    def decompress(self, data: bytes, max_length: int) -> bytes:
        return self._stream.decompress(data or self._stream.unconsumed_tail, max_length)

    @property
    def eof(self) -> bool:
        return self._stream.eof

    @property
    def needs_input(self) -> bool:
        return not self._stream.unconsumed_tail

    @property
    def unused_data(self) -> bytes:
        return self._stream.unused_data


_FORMATS = (
    ("gzip", lambda data: data[:2] == b"\x1f\x8b", _Gzip),
    ("bzip2", lambda data: data[:3] == b"BZh" and data[3:4].isdigit(), bz2.BZ2Decompressor),
    ("xz", lambda data: data[:6] == b"\xfd7zXZ\x00", lzma.LZMADecompressor),
)


#: Bytes read from a stream at a time.
PIECE = 8 << 20


class Pieces:
    """The bytes of a binary stream a piece at a time, decompressed when its first bytes are those
    of gzip, bzip2 or xz, whatever the name says.

    Streams that follow one another (as ``cat a.gz b.gz`` makes them) are read one after the
    other. A stream cut short or corrupt keeps what came before, and ``cut`` then says why it
    stopped. Raises MemoryError for a stream that grows past ``MAX_GROWTH`` times what was read
    of it (and past ``MIN_LIMIT``).

    >>> b"".join(Pieces(io.BytesIO(gzip.compress(b"BUFR...")), None))
    b'BUFR...'
    """

    def __init__(self, stream: IO[bytes], name: Optional[str], size: int = PIECE) -> None:
        self.stream = stream
        self.name = name
        self.size = size
        self.cut: Optional[str] = None

    def __iter__(self) -> Iterator[bytes]:
        rest = self.stream.read(self.size)
        found = next(((kind, make) for kind, is_kind, make in _FORMATS if is_kind(rest)), None)
        if found is None:
            while rest:
                yield rest
                rest = self.stream.read(self.size)
            return
        kind, make = found
        read, made = len(rest), 0
        decompressor = make()
        try:
            while True:
                piece = decompressor.decompress(rest, self.size)
                made += len(piece)
                limit = max(MIN_LIMIT, MAX_GROWTH * read)
                if made > limit:
                    where = f"{self.name}: " if self.name else ""
                    raise MemoryError(
                        f"{where}the {kind} data grows past {limit:,} bytes, {limit // read:,} times its size: "
                        "refused as a decompression bomb (decompress it yourself to read it anyway)"
                    )
                if piece:
                    yield piece
                rest = b""
                if decompressor.eof:
                    # Zero bytes may pad a stream to a block size.
                    rest = decompressor.unused_data.lstrip(b"\0") or self.stream.read(self.size).lstrip(b"\0")
                    if not rest:
                        return
                    read += len(rest)
                    decompressor = make()
                elif decompressor.needs_input:
                    rest = self.stream.read(self.size)
                    if not rest:
                        raise EOFError("the data ends before the end of the stream")
                    read += len(rest)
        except (EOFError, OSError, zlib.error, lzma.LZMAError) as error:
            self.cut = f"the {kind} stream stops short after {made:,} bytes: {error}"


def decompressed(data: bytes, name: Optional[str]) -> Loaded:
    """`data` as it is, or decompressed when it is compressed (see :class:`Pieces`).

    >>> decompressed(gzip.compress(b"BUFR..."), None).data
    b'BUFR...'
    """
    if not any(is_kind(data) for _, is_kind, _ in _FORMATS):
        return Loaded(data, name)
    pieces = Pieces(io.BytesIO(data), name)
    return Loaded(b"".join(pieces), name, pieces.cut)


def sample_path() -> pathlib.Path:
    """The path of a BUFR file that ships with the package, to try things on.

    The file holds 44 SYNOP messages (edition 4, 1031 reports in all) that the DWD (Deutscher
    Wetterdienst) sent on 2021-05-16.

    Returns
    -------
    pathlib.Path

    Examples
    --------
    >>> path = corvane.sample_path()
    >>> print(path.name, len(corvane.open(path)))
    dwd-synop-44msgs.bufr 44
    """
    return pathlib.Path(__file__).resolve().parent / "data" / "dwd-synop-44msgs.bufr"


def _load_path(path: str) -> Loaded:
    # A FIFO or a device would block or never end: refuse it, as the native reader does.
    if not stat.S_ISREG(os.stat(path).st_mode):
        raise OSError(f"not a regular file: {path}")
    mapped = _core.MappedFile(os.fsencode(path))
    head = mapped[:6]
    if not any(is_kind(head) for _, is_kind, _ in _FORMATS):
        return Loaded(mapped, path)
    del mapped
    with builtins.open(path, "rb") as file:
        return decompressed(file.read(), path)


def load(source: Source) -> Loaded:
    """The bytes of a source, decompressed when they are compressed, and its name."""
    if isinstance(source, (str, os.PathLike)):
        path = os.fspath(source)
        if isinstance(path, bytes):
            path = os.fsdecode(path)
        return _load_path(path)
    if isinstance(source, bytes):
        return decompressed(source, None)
    if isinstance(source, (bytearray, memoryview)):
        return decompressed(bytes(source), None)
    read = getattr(source, "read", None)
    if read is not None:
        data = read()
        if not isinstance(data, (bytes, bytearray)):
            raise TypeError("the file object gave text, not bytes: open it in binary mode ('rb')")
        name = getattr(source, "name", None)
        return decompressed(bytes(data), name if isinstance(name, str) else None)
    raise TypeError(f"source must be a path, a bytes-like object or a binary file object, not {type(source).__name__}")


def cut_entries(scanned: Iterable[MessageEntry], end: int, cut: str) -> List[MessageEntry]:
    """The messages that scan found, with the cut as the bad message it leaves: the truncated
    message it ends in, or one of no bytes after the last message."""
    entries = list(scanned)
    if entries:
        last = entries[-1]
        if last.error is not None and last.offset + last.length == end:
            return entries[:-1] + [last._replace(error=f"{last.error}: {cut}")]
    return entries + [MessageEntry(len(entries), end, 0, cut)]
