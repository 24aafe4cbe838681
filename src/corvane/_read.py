"""BUFR files into pandas DataFrames, built from the columnar decode."""

from __future__ import annotations

import math
from typing import TYPE_CHECKING, Any, Callable, Dict, FrozenSet, Iterable, List, Mapping, Optional, Sequence, Union

from . import _core, _keys
from ._file import BufrFile, Errors, Source
from ._file import open as open_bufr
from ._filters import COMPUTED, Filter, FilterValue
from ._headers import Headers
from ._records import ColumnFilter, MessageError
from ._rows import Columns, as_pandas, column_of, compute
from ._tables import TablesSource, resolve

if TYPE_CHECKING:
    import numpy as np
    import pandas
else:
    from ._lazy import numpy as np

__all__ = ["read"]

_MISSING_CODE = _core.MISSING_CODE
# Messages per block when a single file is spread over threads: blocks small enough to balance
# the threads, large enough that each pays its fixed costs once.
_BLOCKS_PER_WORKER = 2
# Fewer messages than this per block cost more in fixed costs than the threads win.
MIN_BLOCK = 64


Required = Union[bool, Sequence[str]]


def pandas_module() -> Any:
    try:
        import pandas
    except ImportError:
        raise ImportError("corvane.read needs pandas: pip install 'corvane[pandas]'") from None
    return pandas


def read(
    source: Union[Source, Sequence[Source]],
    *,
    columns: Union[str, Sequence[str], None] = None,
    filters: Optional[Mapping[str, FilterValue]] = None,
    required_columns: Required = True,
    flat: bool = False,
    tables: TablesSource = None,
    errors: Errors = "raise",
    workers: Optional[int] = None,
    messages: Optional[Iterable[int]] = None,
) -> pandas.DataFrame:
    """Reads BUFR messages into a pandas DataFrame of observations, ``message`` and ``subset``
    columns first, with the rows pdbufr's ``read_bufr`` gives.

    Within a subset the keys come in data order, each at a level: an element of classes 01 to 09
    (a coordinate: station, time, position, height, pressure) opens a level below the current
    one, and when a coordinate comes again the levels opened since it came last close. A row is
    complete when a chosen key comes at a shallower level than the last one kept, or at the same
    level while the row holds it already: so a TEMP gives a row per pressure level, holding the
    station's keys beside the level's, and never a value of another level. A missing value is a
    value (NaN, ``<NA>`` or None); only a key the subset lacks is absent.

    Header keys by their ecCodes names (``edition``, ``bufrHeaderCentre``, ``dataCategory``,
    ``typicalDate``, ...) and computed keys can be chosen and filtered as data keys can:
    ``WMO_station_id`` (blockNumber * 1000 + stationNumber), ``WIGOS_station_id``
    (``"0-20000-0-12345"``), ``data_datetime`` (from year, month, day, hour, minute and second; a
    missing hour, minute or second counts as 0) and ``typical_datetime`` (section 1's time).

    Parameters
    ----------
    source : path, bytes-like, binary file object, or a list of them
        What :func:`corvane.open` takes, or a list of such sources: their rows follow one another,
        and ``message`` counts within each one's file.
    columns : str or sequence of str, optional
        The keys to read (None: every key); ``"#2#key"`` names the second occurrence alone.
    filters : mapping, optional
        Maps a key to a value, a list of values, a ``slice(low, high)`` (both ends included,
        either may be None) or a callable taking one value; a missing value never passes. A
        filter that fails at a level leaves out the keys below it, up to the next key at its
        level or above; a row must hold every filtered key. Filters on header keys choose
        messages before their data is read; a callable is called once per distinct value.
    required_columns : bool or sequence of str, default True
        True drops the rows that lack any chosen column, False keeps them with missing values,
        and a list names the columns a row must hold. With every key (``columns=None``) no
        column is required.
    flat : bool, default False
        One row per subset with every occurrence as its own column (``"airTemperature"``,
        ``"#2#airTemperature"``, ...).
    tables, errors
        As for :func:`corvane.open`; with ``errors="keep"`` a bad message gives no rows.
    workers : int, optional
        Decodes files, or blocks of messages of a file, in this many threads (the decoder runs
        without the interpreter lock) and keeps their order.
    messages : iterable of int, optional
        Reads only the messages of these indices (as :attr:`Message.index` counts them), of each
        source.

    Returns
    -------
    pandas.DataFrame
        float64 for numbers (NaN when missing), the nullable ``Int64`` for code and flag tables
        and ``WMO_station_id`` (``<NA>`` when missing), str objects (None when missing) for texts,
        datetime64 for ``data_datetime``.

    Raises
    ------
    ImportError
        When pandas is not installed.
    BufrError
        For the first bad message with ``errors="raise"``.
    KeyError
        For a key that neither the tables, the headers nor the computed keys know, naming the
        nearest known keys.
    TypeError, ValueError
        For columns that are no key names, filters that are no mapping, a range with a step, a
        required column not chosen, or a number of workers below 1.

    Examples
    --------
    >>> frame = corvane.read(corvane.sample_path(), columns=["WMO_station_id", "airTemperature"],
    ...                      filters={"airTemperature": slice(273.15, None)})
    >>> print(frame.shape, list(frame.columns))
    (372, 4) ['message', 'subset', 'WMO_station_id', 'airTemperature']
    >>> print(frame.loc[0, "WMO_station_id"], frame.loc[0, "airTemperature"])
    10037 286.65
    """
    pandas = pandas_module()
    if workers is not None and (not isinstance(workers, int) or workers < 1):
        raise ValueError(f"workers={workers!r}: use a positive number of threads")
    chosen_tables = resolve(tables)
    plan = Plan.make(columns, filters, required_columns, flat, lambda: _keys.known_keys(chosen_tables))
    sources = list(source) if isinstance(source, (list, tuple)) else [source]
    chosen = None if messages is None else list(messages)

    def open_source(one: Source) -> BufrFile:
        return open_bufr(one, tables=chosen_tables, errors=errors)

    threads = workers or 1
    if threads == 1:
        parts = [plan.frame(pandas, bufr, chosen) for bufr in map(open_source, sources)]
    else:
        # Threads start only for work they can share: one small file stays on this one.
        # Imported here: the command line's header verbs start faster without it.
        import concurrent.futures

        with concurrent.futures.ThreadPoolExecutor(threads) as pool:
            files = list(pool.map(open_source, sources)) if len(sources) != 1 else [open_source(sources[0])]
            blocks = [(bufr, block) for bufr in files for block in message_blocks(bufr, threads, len(files), chosen)]
            if len(blocks) == 1:
                parts = [plan.frame(pandas, *blocks[0])]
            else:
                parts = list(pool.map(lambda job: plan.frame(pandas, *job), blocks))
    return concat(pandas, parts)


def message_blocks(
    bufr: BufrFile, threads: int, files: int, messages: Optional[Sequence[int]]
) -> List[Optional[Sequence[int]]]:
    """The blocks of `messages` (None: all) that threads take from one file of `files`; None is
    all of it."""
    every: Sequence[int] = range(len(bufr._entries)) if messages is None else messages
    count = len(every)
    if files >= threads * _BLOCKS_PER_WORKER or count == 0:
        return [messages]
    size = max(MIN_BLOCK, math.ceil(count * files / (threads * _BLOCKS_PER_WORKER)))
    return [every[start : start + size] for start in range(0, count, size)]


def concat(pandas: Any, parts: List[Any]) -> Any:
    """The parts one after another. A key that a part lacks, or holds only missing values of,
    takes the dtype that the other parts agree on, instead of turning them into floats."""
    if not parts:
        return pandas.DataFrame({"message": np.zeros(0, np.int64), "subset": np.zeros(0, np.int64)})
    if len(parts) == 1:
        return parts[0]
    names = {name for part in parts for name in part.columns}
    for name in names:
        holding = [part for part in parts if name in part.columns]
        known = {part[name].dtype for part in holding if part[name].notna().any()}
        if len(known) != 1:
            continue
        dtype = known.pop()
        for index, part in enumerate(parts):
            if name in part.columns and part[name].dtype != dtype and not part[name].notna().any():
                parts[index] = part.astype({name: dtype})
    return pandas.concat(parts, ignore_index=True)


class Plan:
    """What one call reads: the columns shown, the keys the decoder tracks for them, the filters
    and the columns a row must hold."""

    def __init__(self, columns: Optional[List[str]], filters: List[Filter], required: Required, flat: bool) -> None:
        self.columns = columns
        self.filters = filters
        self.required = required
        self.flat = flat
        self.keys: Optional[List[str]] = None

    @staticmethod
    def make(
        columns: Union[str, Sequence[str], None],
        filters: Optional[Mapping[str, FilterValue]],
        required: Required,
        flat: bool,
        known: Callable[[], FrozenSet[str]],
    ) -> Plan:
        chosen = [columns] if isinstance(columns, str) else None if columns is None else list(columns)
        if chosen is not None:
            for name in chosen:
                if not isinstance(name, str):
                    raise TypeError(f"columns: {name!r} is not a key name")
            chosen = list(dict.fromkeys(name for name in chosen if name not in ("message", "subset")))
        if filters is not None and not isinstance(filters, Mapping):
            raise TypeError("filters must map keys to a value, a list of values, a slice or a callable")
        tests = [Filter(name, test) for name, test in (filters or {}).items()]
        for test in tests:
            if isinstance(test.test, slice) and test.test.step is not None:
                raise ValueError(f"filters[{test.column!r}]: a range has no step")
        if not isinstance(required, bool):
            if isinstance(required, str):
                required = [required]
            required = list(required)
            absent = [name for name in required if chosen is None or name not in chosen]
            if absent:
                raise ValueError(f"required_columns: {absent[0]!r} is not among the columns; choose it in columns")
        names = (chosen or []) + [test.column for test in tests]
        if names:
            every = known()
            for name in names:
                _keys.check_column_name(name, every, EXTRA_KEYS)
        plan = Plan(chosen, tests, required, flat)
        if chosen is not None:
            keys: List[str] = []
            for name in chosen + [test.column for test in tests]:
                for key in COMPUTED.get(name, (name,)):
                    if key not in keys and key not in _keys.HEADER_KEYS:
                        keys.append(key)
            plan.keys = keys
        return plan

    def requires(self, name: str) -> bool:
        if self.columns is None:
            return False
        return self.required if isinstance(self.required, bool) else name in self.required

    def frame(
        self,
        pandas: Any,
        bufr: BufrFile,
        messages: Optional[Sequence[int]],
        errors: Optional[List[MessageError]] = None,
    ) -> Any:
        """The rows of the messages of `bufr`; the messages that gave none for an error join
        `errors` when given."""
        headers = Headers(bufr)
        messages = headers.select(pandas, [test for test in self.filters if test.column in _keys.HEADER_KEYS], messages)
        if self.flat:
            return self.flat_frame(pandas, bufr, messages, headers, errors)
        names = self.columns if self.columns is not None else data_keys(bufr, messages)
        data_names = [name for name in names if name not in COMPUTED and name not in _keys.HEADER_KEYS]
        tracked = [(name, self.requires(name)) for name in data_names]
        computed = [*names, *(test.column for test in self.filters)]
        tracked += [
            (key, False)
            for key in dict.fromkeys(key for name in computed for key in COMPUTED.get(name, ()))
            if key not in data_names
        ]
        data_filters = [
            test for test in self.filters if test.column not in COMPUTED and test.column not in _keys.HEADER_KEYS
        ]
        natives = [test.native() or resolved(pandas, bufr, test, messages) for test in data_filters]
        table = bufr._rows(tracked, natives, messages)
        if errors is not None:
            errors.extend(table.errors)
        return assemble(
            pandas,
            table,
            names,
            headers,
            [test for test in self.filters if test.column in COMPUTED],
            [name for name in names if name in COMPUTED and self.requires(name)],
        )

    def flat_frame(
        self,
        pandas: Any,
        bufr: BufrFile,
        messages: Optional[Sequence[int]],
        headers: Headers,
        errors: Optional[List[MessageError]],
    ) -> Any:
        """One row per subset, every occurrence of a key its own column."""
        keys = None if self.keys is None else [key for key in self.keys if key not in _keys.HEADER_KEYS]
        data_filters = [test for test in self.filters if test.column not in _keys.HEADER_KEYS]
        natives = {test.column: test.native() for test in data_filters}
        table = bufr.table(
            keys,
            filters={test.column: test.test for test in data_filters if natives[test.column] is not None} or None,
            messages=messages,
        )
        if errors is not None:
            errors.extend(table.errors)
        names = Columns(table).flat_names(self.columns)
        return assemble(
            pandas, table, names, headers, [test for test in data_filters if natives[test.column] is None], []
        )


def assemble(
    pandas: Any, table: _core.ColumnTable, names: List[str], headers: Headers, tests: List[Filter], required: List[str]
) -> Any:
    """The frame of `names` over the rows of `table`, header and computed keys worked out: rows
    that fail `tests`, or miss a value of a `required` computed key, are left out."""
    values = _Cells(pandas, table, headers)
    keep = None
    for test in tests:
        passing = test.mask(pandas, values.get(test.column))
        keep = passing if keep is None else keep & passing
    for name in required:
        present = pandas.notna(values.get(name))
        keep = present if keep is None else keep & present
    data = {"message": values.get("message"), "subset": values.get("subset")}
    data.update((name, values.get(name)) for name in names if name not in data)
    if keep is not None:
        data = {name: array[keep] for name, array in data.items()}
    return pandas.DataFrame(
        {name: array if name in ("message", "subset") else as_pandas(pandas, array) for name, array in data.items()},
        copy=False,
    )


class _Cells:
    """The cells of each column of a row table, worked out when first asked for. A class, not a
    recursive closure: a closure's cycle would keep the file's bytes until the collector runs."""

    def __init__(self, pandas: Any, table: _core.ColumnTable, headers: Headers) -> None:
        self.pandas = pandas
        self.table = table
        self.headers = headers
        self.found = set(table.names)
        self.values: Dict[str, Any] = {"message": column_of(table, "message"), "subset": column_of(table, "subset")}

    def get(self, name: str) -> Any:
        if name not in self.values:
            if name in _keys.HEADER_KEYS or name == "typical_datetime":
                self.values[name] = self.headers.column(name, self.values["message"])
            elif name in COMPUTED:
                self.values[name] = compute(self.pandas, name, [self.get(key) for key in COMPUTED[name]])
            elif name in self.found:
                self.values[name] = column_of(self.table, name)
            else:
                self.values[name] = np.full(self.table.rows, np.nan)
        return self.values[name]


# Keys that no table defines: the computed ones and the header keys.
EXTRA_KEYS = (*COMPUTED, "typical_datetime", *_keys.HEADER_KEYS)


def data_keys(bufr: BufrFile, messages: Optional[Sequence[int]]) -> List[str]:
    """Every data key of the messages, in the order first met."""
    table = bufr.table(messages=messages)
    return list(dict.fromkeys(table.info(name)["key"] for name in table.names[2:]))


def resolved(pandas: Any, bufr: BufrFile, test: Filter, messages: Optional[Sequence[int]]) -> ColumnFilter:
    """A filter that the decoder cannot test (a callable, a range of texts) as the list of the
    values of its key that pass it: the rows depend on where a filter fails, so it must be
    tested as the decoder walks."""
    table = bufr.table([test.column], messages=messages)
    distinct = pandas.unique(
        np.concatenate([np.asarray(table.array(name), dtype=object) for name in table.names[2:]] or [np.zeros(0)])
    )
    info = table.info(table.names[2]) if len(table.names) > 2 else None
    if info is not None and info["type"] == "int64":
        distinct = np.array([value for value in distinct if value != _MISSING_CODE], dtype=object)
    passing = distinct[test.mask(pandas, distinct)] if len(distinct) else distinct
    numbers = sorted(float(value) for value in passing if not isinstance(value, str))
    texts = [value for value in passing if isinstance(value, str)]
    return ColumnFilter(test.column, numbers, texts, None, None, False)
