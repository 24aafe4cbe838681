"""Opening BUFR files and reading their messages."""
from __future__ import annotations

import datetime
from typing import TYPE_CHECKING, Dict, Iterable, Iterator, List, Literal, Mapping, Optional, Tuple, Union, overload

from . import _core
from ._errors import BufrError
from ._filters import FilterValue, native_filters
from ._records import ColumnFilter, MessageEntry, MessageError, MessageMetadata
from ._sources import Source, cut_entries, load
from ._tables import Tables, TablesSource, resolve

if TYPE_CHECKING:
    import numpy

__all__ = ["open", "BufrFile", "Message", "Value"]

Value = _core.Value
Errors = Literal["raise", "skip", "keep"]
# The messages of a file: as scanned, or as a cut stream leaves them.
Entries = Union[_core.MessageEntries, List[MessageEntry]]

_ERRORS = ("raise", "skip", "keep")


def open(source: Source, *, tables: TablesSource = None, errors: Errors = "raise") -> BufrFile:
    """Opens a BUFR file, or BUFR bytes, for reading its messages.

    The source is read whole at once, and decompressed when it holds gzip, bzip2 or xz data (told
    by its first bytes, whatever its name). Bytes between messages and a truncated tail never
    cost the good messages; a compressed stream cut short keeps the messages before the cut,
    which ends them as a bad message.

    Parameters
    ----------
    source : str, os.PathLike, bytes-like or binary file object
        The path of a BUFR file, its bytes, or a file object opened in binary mode.
    tables : Tables, str, os.PathLike or _corvane.TableSet, optional
        The BUFR tables (see :class:`Tables`); by default the ecCodes tables that ship with the
        package, chosen per message.
    errors : {"raise", "skip", "keep"}, default "raise"
        What to do with a message that cannot be decoded: raise :class:`BufrError` when
        iteration reaches it, skip it, or keep it with its ``error`` set.

    Returns
    -------
    BufrFile
        The messages of the file, in order.

    Raises
    ------
    OSError
        When the path cannot be read (FileNotFoundError for a missing file).
    TypeError
        For a source of another type, or a file object that gives text.
    ValueError
        For an ``errors`` mode other than the three.
    MemoryError
        For a stream that decompresses to more than 64 times its size (and 256 MiB).

    Examples
    --------
    >>> import corvane
    >>> with corvane.open(corvane.sample_path()) as bufr:
    ...     message = bufr[0]
    ...     for value in message.values():
    ...         if value.key == "airTemperature" and value.subset <= 3:
    ...             print(message.time, value.subset, value.value, value.unit)
    2021-05-16 12:00:00 1 None K
    2021-05-16 12:00:00 2 286.65 K
    2021-05-16 12:00:00 3 285.05 K
    """
    if errors not in _ERRORS:
        raise ValueError(f"errors={errors!r}: use 'raise', 'skip' or 'keep'")
    chosen = resolve(tables)
    loaded = load(source)
    return BufrFile(loaded.data, tables=chosen, errors=errors, name=loaded.name, cut=loaded.cut)


class Message:
    """One BUFR message: its section metadata, and its values through :meth:`values`.

    Messages come from a :class:`BufrFile`, by iteration, index or :meth:`BufrFile.headers`.

    Attributes
    ----------
    index : int
        The message's position in its file, from 0, bad messages included.
    offset, length : int
        Where the message lies in the file's bytes.
    edition, master_table, centre, subcentre, master_version, local_version, data_category, subsets : int
        What sections 1 and 3 say; None for a kept bad message whose sections cannot be read.
    compressed : bool
        Whether the subsets are compressed together.
    descriptors : list of int
        The unexpanded descriptors of section 3, as six-digit codes (309052 for 3-09-052).
    time : datetime.datetime or None
        The typical time of section 1; None when it is no valid date.
    error : str or None
        None for a good message; with ``errors="keep"`` a bad one carries its reason here.

    Examples
    --------
    >>> message = corvane.open(corvane.sample_path())[0]
    >>> message
    <Message 0 at byte 41: edition 4, centre 78, category 0, 2021-05-16 12:00:00, 25 subsets>
    >>> print(message.edition, message.centre, message.subsets, message.descriptors[:2])
    4 78 25 [307086, 1023]
    """

    __slots__ = ("index", "offset", "length", "edition", "master_table", "centre", "subcentre",
                 "master_version", "local_version", "data_category", "subsets", "compressed",
                 "descriptors", "time", "error", "_file", "_decoded")

    def __init__(self, file: BufrFile, index: int, offset: int, length: int, metadata: Optional[MessageMetadata],
                 error: Optional[str]) -> None:
        self._file = file
        self._decoded: Optional[_core.Decoded] = None
        self.index = index
        self.offset = offset
        self.length = length
        self.error = error
        self.time: Optional[datetime.datetime] = None
        if metadata is None:
            self.edition = self.master_table = self.centre = self.subcentre = None
            self.master_version = self.local_version = self.data_category = self.subsets = None
            self.compressed = self.descriptors = None
            return
        self.edition = metadata.edition
        self.master_table = metadata.master_table
        self.centre = metadata.centre
        self.subcentre = metadata.subcentre
        self.master_version = metadata.master_version
        self.local_version = metadata.local_version
        self.data_category = metadata.data_category
        self.subsets = metadata.subsets
        self.compressed = metadata.compressed
        self.descriptors = metadata.descriptors
        try:
            self.time = datetime.datetime(metadata.year, metadata.month, metadata.day, metadata.hour,
                                          metadata.minute, metadata.second)
        except ValueError:
            pass

    @property
    def tables(self) -> Optional[str]:
        """What the message is decoded with; None when its section 1 could not be read.

        Returns
        -------
        str or None
            The master version used (and the one the message names, when they differ), the local
            tables and the extra tables.

        Examples
        --------
        >>> corvane.open(corvane.sample_path())[0].tables
        'WMO 18'
        """
        return self._file.tables.used(self).text

    @property
    def tables_fallback(self) -> bool:
        """Whether the message is decoded with an older master version than it names.

        Returns
        -------
        bool
            True only when the message names a master version newer than any at hand, so that it is
            decoded with the newest one (whose entries include those of every earlier one).

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> print(message.master_version, message.tables_fallback)
        18 False
        """
        return self._file.tables.used(self).fallback

    def values(self) -> List[Value]:
        """Every value of the message, subset after subset.

        Texts lose trailing NULs and blanks; a text of NUL and 0xFF bytes only is None. Operator
        descriptors carry no data and are left out, as are the new reference values of a 203YYY
        definition; associated fields (204YYY) are listed with code 999999 and key
        ``"associatedField"`` before the element they qualify.

        Returns
        -------
        list of Value
            One :class:`Value` per value, in the order of the message.

        Raises
        ------
        BufrError
            For a bad message.
        ValueError
            When the file is closed.

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> [(v.key, v.value, v.unit) for v in message.values()][:2]
        [('blockNumber', 10.0, 'Numeric'), ('stationNumber', 33.0, 'Numeric')]
        """
        if self.error is not None:
            raise self._file._error(self.index, self.offset, self.error)
        decoded, self._decoded = self._decoded, None
        # A closed file decodes nothing, whether or not this message was decoded before.
        if decoded is None or self._file.closed:
            decoded = self._file._decode(self.index, self.offset, self.length)
        return decoded.values()

    def to_numpy(self, columns: Optional[Iterable[str]] = None, *,
                 keys: Optional[Iterable[str]] = None) -> Dict[str, numpy.ndarray]:
        """The values of the message as NumPy arrays, one row per subset.

        Parameters
        ----------
        columns : iterable of str, optional
            The columns to decode, as :meth:`BufrFile.to_numpy` takes them; None decodes every key.
        keys : iterable of str, optional
            The same as ``columns``, under its earlier name; give one of the two.

        Returns
        -------
        dict of str to numpy.ndarray
            As :meth:`BufrFile.to_numpy` gives them, for this message alone.

        Raises
        ------
        BufrError
            For a bad message.
        TypeError
            When both ``columns`` and ``keys`` are given.

        Examples
        --------
        >>> arrays = corvane.open(corvane.sample_path())[0].to_numpy(["airTemperature"])
        >>> print(arrays["subset"][:3], arrays["airTemperature"][:3])
        [1 2 3] [   nan 286.65 285.05]
        """
        if self.error is not None:
            raise self._file._error(self.index, self.offset, self.error)
        chosen = _chosen(columns, keys)
        table = self._file._decode_columns(chosen, None, [self.index])
        if table.errors:
            raise self._file._failure(table.errors[0])
        return _arrays(table, chosen)

    def __repr__(self) -> str:
        if self.error is not None:
            return f"<Message {self.index} at byte {self.offset}: error {self.error!r}>"
        time = self.time.isoformat(sep=" ") if self.time else "no valid time"
        return (f"<Message {self.index} at byte {self.offset}: edition {self.edition}, centre {self.centre}, "
                f"category {self.data_category}, {time}, {self.subsets} subsets>")


class BufrFile:
    """The messages of one BUFR file, in order; made by :func:`open`.

    Iterating gives every :class:`Message`, ``len()`` counts them, ``bufr[i]`` is the i-th and
    ``bufr[i:j]`` a list of them (as iteration gives them: with ``errors="skip"`` bad messages
    are not counted). :meth:`headers` lists the messages without decoding them; :meth:`to_numpy`,
    :meth:`to_arrow` and :meth:`table` decode them into columns. A ``with`` block closes it.

    Attributes
    ----------
    name : str or None
        The path it was read from, which errors name; None for bytes.
    tables : Tables
        The tables its messages are decoded with.
    errors : {"raise", "skip", "keep"}
        What its bad messages do (see :func:`open`).

    Examples
    --------
    >>> bufr = corvane.open(corvane.sample_path())
    >>> print(len(bufr), bufr[0].edition, bufr[-1].time)
    44 4 2021-05-16 11:50:00
    """

    def __init__(self, data: bytes, *, tables: Tables, errors: Errors = "raise", name: Optional[str] = None,
                 cut: Optional[str] = None) -> None:
        self.name = name
        self.tables = tables
        self.errors = errors
        entries: Entries = _core.scan(data)
        # A compressed stream cut short: the cut is where its messages end.
        if cut is not None:
            entries = cut_entries(entries, len(data), cut)
        self._held: Optional[Tuple[bytes, Entries]] = (data, entries)
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
        """Lets go of the file's bytes and of what was read from them.

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
    def _data(self) -> bytes:
        return self._contents()[0]

    @property
    def _entries(self) -> Entries:
        return self._contents()[1]

    def _contents(self) -> Tuple[bytes, Entries]:
        if self._held is None:
            raise ValueError(f"{self.name or 'the BufrFile'} is closed: read it inside its with block, "
                             "or open it again")
        return self._held

    def __enter__(self) -> BufrFile:
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

    def _decode_columns(self, keys: Optional[List[str]], filters: Optional[List[ColumnFilter]],
                        messages: Optional[Iterable[int]]) -> _core.ColumnTable:
        data, held = self._contents()
        entries = held if messages is None else [self._entry(held, index) for index in messages]
        return _core.decode_columns(data, entries, self.tables._native, keys, filters)

    def _entry(self, entries: Entries, index: int) -> MessageEntry:
        if not isinstance(index, int) or not 0 <= index < len(entries):
            raise IndexError(f"messages: {index!r} is no message index of a file of {len(entries)} messages "
                             f"(0 to {len(entries) - 1})")
        return entries[index]

    def table(self, columns: Optional[Iterable[str]] = None, *,
              filters: Optional[Mapping[str, FilterValue]] = None,
              messages: Optional[Iterable[int]] = None) -> _core.ColumnTable:
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
            ``array(name)`` for a NumPy view of a column, ``info(name)``, ``errors`` (a
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
            raise self._failure(table.errors[0], _HINT)
        return table

    def to_numpy(self, columns: Optional[Iterable[str]] = None, *,
                 keys: Optional[Iterable[str]] = None) -> Dict[str, numpy.ndarray]:
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
            Numbers as float64 with NaN when missing; code and flag table values as int64 with
            ``corvane._core.MISSING_CODE`` when missing; texts as object arrays of str or None.

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
        """
        chosen = _chosen(columns, keys)
        return _arrays(self.table(chosen), chosen)

    def to_arrow(self, columns: Optional[Iterable[str]] = None, *,
                 keys: Optional[Iterable[str]] = None) -> _core.ColumnTable:
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
        return self.table(_chosen(columns, keys))

    def headers(self) -> Iterator[Message]:
        """Every message with what sections 0 to 3 say, section 4 unread: listing a file costs no
        decoding.

        ``error`` tells only of sections that cannot be read, and the ``errors`` mode applies to
        those; :meth:`Message.values` decodes as ever, and raises :class:`BufrError` for bad data.

        Returns
        -------
        iterator of Message

        Examples
        --------
        >>> [(m.index, m.subsets) for m in corvane.open(corvane.sample_path()).headers()][:3]
        [(0, 25), (1, 1), (2, 1)]
        """
        for entry in self._entries:
            data = self._data
            metadata = None
            error = entry.error
            if error is None:
                try:
                    metadata = _core.parse(data, entry.offset, entry.length)
                except ValueError as failure:
                    error = str(failure)
            message = self._deliver(Message(self, entry.index, entry.offset, entry.length, metadata, error))
            if message is not None:
                yield message

    def _message(self, index: int) -> Message:
        """Message ``index`` of the file, read and decoded; a bad one has its error set."""
        data, entries = self._contents()
        offset, length, error = entries[index].offset, entries[index].length, entries[index].error
        decoded = metadata = None
        if error is None:
            try:
                decoded = _core.decode(data, offset, length, self.tables._native)
                metadata = decoded.metadata
            except ValueError as failure:
                error = str(failure)
                try:
                    metadata = _core.parse(data, offset, length)
                except ValueError:
                    pass
        message = Message(self, index, offset, length, metadata, error)
        message._decoded = decoded
        return message

    def _deliver(self, message: Message) -> Optional[Message]:
        """The message as the errors mode shows it, or None to leave it out."""
        if message.error is None or self.errors == "keep":
            return message
        if self.errors == "skip":
            return None
        raise self._error(message.index, message.offset, message.error, _HINT)

    def __iter__(self) -> Iterator[Message]:
        previous: Optional[Message] = None
        for index in range(len(self._entries)):
            message = self._deliver(self._message(index))
            if message is None:
                continue
            # A kept message decodes again if asked; holding every message's values would
            # hold the whole file decoded.
            if previous is not None:
                previous._decoded = None
            previous = message
            yield message

    def _good_indices(self) -> List[int]:
        if self._good is None:
            self._good = [i for i in range(len(self._entries)) if self._message(i).error is None]
        return self._good

    def __len__(self) -> int:
        if self.errors == "skip":
            return len(self._good_indices())
        return len(self._entries)

    @overload
    def __getitem__(self, index: int) -> Message: ...

    @overload
    def __getitem__(self, index: slice) -> List[Message]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Message, List[Message]]:
        """The i-th message, or a list of the messages of a slice (``bufr[1:3]``), as a list gives them."""
        indices = self._good_indices() if self.errors == "skip" else range(len(self._entries))
        if isinstance(index, slice):
            chosen = [self._chosen(position) for position in indices[index]]
            # Values decode again when asked: a long slice must not hold the file decoded.
            for message in chosen:
                message._decoded = None
            return chosen
        try:
            position = indices[index]
        except IndexError:
            raise IndexError(f"message {index} out of range: the file has {len(indices)} messages") from None
        except TypeError:
            raise TypeError(f"messages are indexed by int or slice, not {type(index).__name__}") from None
        return self._chosen(position)

    def _chosen(self, position: int) -> Message:
        message = self._message(position)
        if message.error is not None and self.errors == "raise":
            raise self._error(message.index, message.offset, message.error, _HINT)
        return message

    def __repr__(self) -> str:
        held = "closed" if self._held is None else f"{len(self._held[1])} messages"
        return f"<BufrFile {self.name or 'from bytes'}: {held}>"


def _chosen(columns: Optional[Iterable[str]], keys: Optional[Iterable[str]]) -> Optional[List[str]]:
    """The columns of to_numpy and to_arrow, named ``columns`` or, as before, ``keys``."""
    if columns is not None and keys is not None:
        raise TypeError("pass columns= or keys=, not both: they name the same thing")
    chosen = columns if columns is not None else keys
    return None if chosen is None else list(chosen)


def _arrays(table: _core.ColumnTable, keys: Optional[List[str]] = None) -> Dict[str, numpy.ndarray]:
    """The columns by name; a first occurrence asked for as "#1#key" goes by that name."""
    asked = set(keys or ())
    arrays = {}
    for name in table.names:
        array = table.array(name)
        if name in asked or f"#1#{name}" not in asked:
            arrays[name] = array
        if f"#1#{name}" in asked:
            arrays[f"#1#{name}"] = array
    return arrays


_HINT = " (pass errors='skip' to leave bad messages out, or errors='keep' to see them with .error)"
