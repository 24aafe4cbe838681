"""A BUFR source read a window at a time: files of any size, pipes and compressed streams in
bounded memory, for the command line's verbs that pass over every message once."""

from __future__ import annotations

import builtins
import sys
from typing import IO, Iterator, NamedTuple, Optional

from . import _core, _sources
from ._file import BufrFile
from ._sources import Pieces, cut_entries
from ._tables import Tables

__all__ = ["Window", "windows"]

# A bad marker with no other after it makes a message of everything up to the next one: past
# this much it ends where the bytes read so far end. A message is at most 16 MiB (its length
# has 24 bits), so a good one is always whole before that.
_MAX_CARRIED = 32 << 20


class Window(NamedTuple):
    """Some messages of a stream, in order: a file of their bytes, and where they start in it."""

    bufr: BufrFile
    first_index: int
    first_offset: int


def windows(path: str, tables: Tables, size: Optional[int] = None) -> Iterator[Window]:
    """The messages of the file at `path` ("-": standard input), a window of about `size` bytes
    (default ``_sources.PIECE``) after another, bad messages kept (``errors="keep"``), as one
    scan of the whole stream finds them.

    Raises OSError when the path cannot be read.

    >>> sum(len(window.bufr) for window in windows(str(corvane.sample_path()), corvane.Tables()))
    44
    """
    name = "-" if path == "-" else path
    with builtins.open(path, "rb") if path != "-" else _stdin() as stream:
        pieces = Pieces(stream, name, size or _sources.PIECE)
        carried = b""
        first_index = first_offset = 0
        for piece in pieces:
            data = carried + piece if carried else piece
            entries, resume = _core.scan_window(data, first_offset)
            if resume < len(data) - _MAX_CARRIED:
                entries, resume = _core.scan(data, first_offset), len(data)
            if len(entries):
                yield Window(
                    BufrFile(data, tables=tables, errors="keep", name=name, entries=entries), first_index, first_offset
                )
            carried = data[resume:]
            first_index += len(entries)
            first_offset += resume
        last = _core.scan(carried, first_offset) if carried else []
        if pieces.cut is not None:
            last = cut_entries(last, len(carried), pieces.cut)
        if len(last):
            yield Window(
                BufrFile(carried, tables=tables, errors="keep", name=name, entries=last), first_index, first_offset
            )


def _stdin() -> IO[bytes]:
    # Closing the with block must not close the interpreter's standard input.
    return builtins.open(sys.stdin.fileno(), "rb", closefd=False)
