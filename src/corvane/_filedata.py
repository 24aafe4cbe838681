"""The bytes of a BUFR file, where its messages lie in them, and their decode into columns."""

from __future__ import annotations

import re
from typing import TYPE_CHECKING, Dict, Iterable, List, Literal, Mapping, Optional, Tuple, TypeVar, Union

from . import _core
from ._errors import HINT, BufrError
from ._filters import FilterValue, native_filters
from ._records import ColumnFilter, MessageEntry, MessageError
from ._sources import Data, cut_entries
from ._tables import Tables

if TYPE_CHECKING:
    import numpy

__all__ = ["FileData", "Errors", "chosen_columns", "arrays"]

Errors = Literal["raise", "skip", "keep"]
# The messages of a file: as scanned, or as a cut stream leaves them.
Entries = Union[_core.MessageEntries, List[MessageEntry]]
_Self = TypeVar("_Self", bound="FileData")
# T1T2A1A2ii CCCC YYGGgg [BBB], as a GTS bulletin starts ("ISND02 LLBD 222200 CCD"); a heading
# line lies within a few lines of the message it wraps.
_HEADING = re.compile(rb"[A-Z]{4}[0-9]{2} +[A-Z]{4} +[0-9]{6}(?: +[A-Z]{3})?")
_HEADING_REACH = 256


class FileData:
    """What :class:`corvane.BufrFile` reads its messages from, and its columnar decode."""

    def __init__(
        self,
        data: Data,
        *,
        tables: Tables,
        errors: Errors = "raise",
        name: Optional[str] = None,
        cut: Optional[str] = None,
        entries: Optional[Entries] = None,
    ) -> None:
        self.name = name
        self.tables = tables
        self.errors = errors
        self._cut = cut
        # Scanned when first read, unless the caller scanned already: a mapped file opens
        # without touching its pages.
        self._held: Optional[Tuple[Data, Optional[Entries]]] = (data, entries)
        # The indices of the good messages, once BufrFile has counted them for errors="skip".
        self._good: Optional[List[int]] = None

    @property
    def closed(self) -> bool:
        """Whether :meth:`close` has run, as it does when the ``with`` block of the file ends.

        Returns
        -------
        bool

        Examples
        --------
        >>> with corvane.open(corvane.sample_path()) as bufr:
        ...     print(bufr.closed)
        False
        >>> bufr.closed
        True
        """
        return self._held is None

    def close(self) -> None:
        """Lets go of the file's bytes and of what was read from them; a mapped file is unmapped.

        Reading the file afterwards, or decoding a message taken from it, raises ValueError; closing
        again does nothing.

        Examples
        --------
        >>> with corvane.open(corvane.sample_path()) as bufr:
        ...     first = bufr[0]
        >>> bufr.closed, first.subsets
        (True, 25)
        >>> first.values()
        Traceback (most recent call last):
        ...
        ValueError: ...dwd-synop-44msgs.bufr is closed: read it inside its with block, or open it again
        """
        self._held = None
        self._good = None

    @property
    def _data(self) -> Data:
        return self._contents()[0]

    @property
    def _entries(self) -> Entries:
        return self._contents()[1]

    def _contents(self) -> Tuple[Data, Entries]:
        if self._held is None:
            raise ValueError(
                f"{self.name or 'the BufrFile'} is closed: read it inside its with block, or open it again"
            )
        data, entries = self._held
        if entries is None:
            entries = _core.scan(data)
            # A compressed stream cut short: the cut is where its messages end.
            if self._cut is not None:
                entries = cut_entries(entries, len(data), self._cut)
            self._held = (data, entries)
        return data, entries

    def _heading(self, index: int, offset: int) -> Optional[str]:
        """The GTS abbreviated heading in the bytes before message `index`, back to the end of
        the message before it; None when there is none."""
        data, entries = self._contents()
        start = 0
        if index > 0:
            before = entries[index - 1]
            # A bad message spans to the next marker, over the heading of this one.
            start = before.offset + (before.length if before.error is None else 4)
        lines = data[max(start, offset - _HEADING_REACH) : offset].replace(b"\r", b"\n").split(b"\n")
        if offset - _HEADING_REACH > start:
            lines = lines[1:]  # cut by the reach, not at a line's start
        for line in reversed(lines):
            if _HEADING.fullmatch(line.strip()):
                return " ".join(line.decode("ascii").split())
        return None

    def __enter__(self: _Self) -> _Self:
        self._contents()
        return self

    def __exit__(self, *exc_info: object) -> None:
        self.close()

    def _error(self, index: int, offset: int, reason: str, hint: str = "") -> BufrError:
        return BufrError(reason, index=index, offset=offset, source=self.name, hint=hint)

    def _failure(self, error: MessageError, hint: str = "") -> BufrError:
        return self._error(error.index, error.offset, error.reason, hint)

    def _decode(self, index: int, offset: int, length: int) -> _core.Decoded:
        data = self._data  # outside the try: a closed file is no bad message
        try:
            return _core.decode(data, offset, length, self.tables._native)
        except ValueError as error:
            raise self._error(index, offset, str(error)) from None

    def _decode_columns(
        self, keys: Optional[List[str]], filters: Optional[List[ColumnFilter]], messages: Optional[Iterable[int]]
    ) -> _core.ColumnTable:
        data, held = self._contents()
        entries = held if messages is None else [self._entry(held, index) for index in messages]
        return _core.decode_columns(data, entries, self.tables._native, keys, filters)

    def _rows(
        self,
        columns: List[Tuple[str, bool]],
        filters: List[ColumnFilter],
        messages: Optional[Iterable[int]],
    ) -> _core.ColumnTable:
        """The observation rows of the messages: `columns` are (key, required) pairs."""
        data, held = self._contents()
        entries = held if messages is None else [self._entry(held, index) for index in messages]
        table = _core.decode_rows(data, entries, self.tables._native, columns, filters)
        if table.errors and self.errors == "raise":
            raise self._failure(table.errors[0], HINT)
        return table

    def _entry(self, entries: Entries, index: int) -> MessageEntry:
        if not isinstance(index, int) or not 0 <= index < len(entries):
            raise IndexError(
                f"messages: {index!r} is no message index of a file of {len(entries)} messages "
                f"(0 to {len(entries) - 1})"
            )
        return entries[index]

    def table(
        self,
        columns: Optional[Iterable[str]] = None,
        *,
        filters: Optional[Mapping[str, FilterValue]] = None,
        messages: Optional[Iterable[int]] = None,
    ) -> _core.ColumnTable:
        """The messages decoded into one column table, the memory behind :meth:`to_numpy` and
        :meth:`to_arrow`.

        Parameters
        ----------
        columns : iterable of str, optional
            The columns to decode: ``"key"`` every occurrence of a key, ``"#n#key"`` the n-th
            only; None decodes every key. ``"message"`` and ``"subset"`` are always there.
        filters : mapping, optional
            Keeps the rows whose value in a column equals a value, one of a list of values, or
            lies in a ``slice(low, high)`` of numbers (both ends included, either may be None);
            a missing value never passes. A bare key tests its first occurrence in a subset.
            Unlike :func:`corvane.read`, no callables and no computed columns.
        messages : iterable of int, optional
            The indices of the messages to decode (as :attr:`Message.index` counts them, bad
            messages included); None decodes every message.

        Returns
        -------
        corvane._core.ColumnTable
            ``names`` (``"message"``, ``"subset"``, then key occurrences), ``rows``,
            ``array(name)`` for a NumPy view of a column (unmasked: :meth:`to_numpy` masks the
            missing codes), ``info(name)``, ``errors`` (a
            ``MessageError`` for each message that gave no rows) and ``__arrow_c_stream__``.

        Raises
        ------
        BufrError
            For the first bad message when the file's ``errors`` mode is ``"raise"``.
        ValueError
            For a filter that only :func:`corvane.read` applies, or a closed file.
        IndexError
            For a message index that the file does not have.

        Examples
        --------
        >>> bufr = corvane.open(corvane.sample_path())
        >>> table = bufr.table(["stationNumber", "airTemperature"],
        ...                    filters={"airTemperature": slice(290.0, None)}, messages=range(10))
        >>> table.names
        ['message', 'subset', 'stationNumber', 'airTemperature', '#2#airTemperature']
        >>> print(table.rows, table.array("airTemperature").min() >= 290.0)
        5 True
        """
        chosen = None if columns is None else list(columns)
        table = self._decode_columns(chosen, native_filters(filters), messages)
        if table.errors and self.errors == "raise":
            raise self._failure(table.errors[0], HINT)
        return table

    def to_numpy(
        self, columns: Optional[Iterable[str]] = None, *, keys: Optional[Iterable[str]] = None
    ) -> Dict[str, numpy.ndarray]:
        """Every value of the file as NumPy arrays: one row per subset, one array per key occurrence.

        The arrays are ``"message"`` (the message index) and ``"subset"`` (from 1), then
        ``"airTemperature"`` for the first air temperature of a subset, ``"#2#airTemperature"``
        for the second, and so on, in the order first met. A subset without an occurrence has it
        missing. The values are decoded straight into the arrays' memory, with no object per value;
        the arrays of numbers are read-only, as :meth:`to_arrow` shares that memory (``.copy()`` one
        to change it).

        Parameters
        ----------
        columns : iterable of str, optional
            ``"key"`` selects every occurrence of a key, ``"#n#key"`` the n-th only; None selects
            every key. ``"message"`` and ``"subset"`` are always there.
        keys : iterable of str, optional
            The same as ``columns``, under its earlier name; give one of the two.

        Returns
        -------
        dict of str to numpy.ndarray
            Numbers as float64 with NaN when missing; code and flag table values as int64, a
            ``numpy.ma.MaskedArray`` masking the missing cells where the column has any (its data
            a view of the same memory); texts as object arrays of str or None.

        Raises
        ------
        BufrError
            For the first bad message with ``errors="raise"``; ``"skip"`` and ``"keep"`` leave bad
            messages out (arrays have no place for the reason).
        TypeError
            When both ``columns`` and ``keys`` are given.
        ValueError
            For a column name such as ``"#0#key"``, or a closed file.

        Examples
        --------
        >>> import numpy
        >>> arrays = corvane.open(corvane.sample_path()).to_numpy(["stationNumber", "airTemperature"])
        >>> list(arrays)
        ['message', 'subset', 'stationNumber', 'airTemperature', '#2#airTemperature']
        >>> print(round(float(numpy.nanmean(arrays["airTemperature"])), 2))
        286.81
        >>> clouds = corvane.open(corvane.sample_path()).to_numpy(["cloudType"])["cloudType"]
        >>> print(type(clouds).__name__, clouds.count() < len(clouds))
        MaskedArray True
        """
        chosen = chosen_columns(columns, keys)
        return arrays(self.table(chosen), chosen)

    def to_arrow(
        self, columns: Optional[Iterable[str]] = None, *, keys: Optional[Iterable[str]] = None
    ) -> _core.ColumnTable:
        """The columns of :meth:`to_numpy` for Arrow: an object with ``__arrow_c_stream__``.

        pyarrow, polars, pandas and DuckDB take it without copying the values; missing values are
        nulls, texts are ``large_string``.

        Parameters
        ----------
        columns : iterable of str, optional
            As :meth:`to_numpy` takes them.
        keys : iterable of str, optional
            The same as ``columns``, under its earlier name; give one of the two.

        Returns
        -------
        corvane._core.ColumnTable
            The table of :meth:`table`, which Arrow reads as one record batch.

        Raises
        ------
        BufrError
            For the first bad message with ``errors="raise"``.
        TypeError
            When both ``columns`` and ``keys`` are given.

        Examples
        --------
        >>> import pyarrow
        >>> table = pyarrow.table(corvane.open(corvane.sample_path()).to_arrow(["airTemperature"]))
        >>> table.schema.field("airTemperature").type
        DataType(double)
        """
        return self.table(chosen_columns(columns, keys))


def chosen_columns(columns: Optional[Iterable[str]], keys: Optional[Iterable[str]]) -> Optional[List[str]]:
    """The columns of to_numpy and to_arrow, named ``columns`` or, as before, ``keys``."""
    if columns is not None and keys is not None:
        raise TypeError("pass columns= or keys=, not both: they name the same thing")
    chosen = columns if columns is not None else keys
    return None if chosen is None else list(chosen)


def arrays(table: _core.ColumnTable, keys: Optional[List[str]] = None) -> Dict[str, numpy.ndarray]:
    """The columns by name; a first occurrence asked for as "#1#key" goes by that name."""
    asked = set(keys or ())
    found = {}
    for name in table.names:
        array = _masked(table.array(name))
        if name in asked or f"#1#{name}" not in asked:
            found[name] = array
        if f"#1#{name}" in asked:
            found[f"#1#{name}"] = array
    return found


def _masked(array: numpy.ndarray) -> numpy.ndarray:
    """A code table column with missing cells as a masked view of its memory: the int64 that marks
    them would otherwise pass for a code in arithmetic."""
    import numpy

    if array.dtype != numpy.int64:
        return array
    absent = array == _core.MISSING_CODE
    return numpy.ma.MaskedArray(array, mask=absent, copy=False) if absent.any() else array
