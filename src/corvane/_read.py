"""BUFR files into pandas DataFrames, built from the columnar decode."""

from __future__ import annotations

import concurrent.futures
import math
from dataclasses import dataclass, field
from typing import TYPE_CHECKING, Any, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

import numpy as np

from . import _core
from ._file import BufrFile, Errors, Source
from ._file import open as open_bufr
from ._filters import COMPUTED, Filter, FilterValue
from ._rows import OCCURRENCE, Columns, Rows, converted, missing
from ._tables import TablesSource

if TYPE_CHECKING:
    import pandas

__all__ = ["read"]

_MISSING_CODE = _core.MISSING_CODE
# Messages per block when a single file is spread over threads: blocks small enough to balance
# the threads, large enough that each pays its fixed costs once.
_BLOCKS_PER_WORKER = 2
# Fewer messages than this per block cost more in fixed costs than the threads win.
MIN_BLOCK = 64


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
    flat: bool = False,
    tables: TablesSource = None,
    errors: Errors = "raise",
    workers: Optional[int] = None,
    messages: Optional[Iterable[int]] = None,
) -> pandas.DataFrame:
    """Reads BUFR messages into a pandas DataFrame, ``message`` and ``subset`` columns first.

    A key that occurs once per subset gives one row per subset. When chosen keys repeat inside a
    subset (the levels of a TEMP profile, cloud layers), each occurrence of the repeated group is
    a row, and the keys met once are repeated on it: walking the subset's values in order, a row
    ends where a chosen key comes again. A repeated group whose chosen values are all missing
    gives no row (beyond a subset's first), since a missing value and an absent one look alike in
    columns.

    Computed columns: ``WMO_station_id`` (blockNumber * 1000 + stationNumber),
    ``WIGOS_station_id`` (``"0-20000-0-12345"``) and ``data_datetime`` (a timestamp from year,
    month, day, hour, minute and second; a missing hour, minute or second counts as 0, a missing
    year, month or day gives NaT). They can be chosen in ``columns`` and used in ``filters``.

    Parameters
    ----------
    source : path, bytes-like, binary file object, or a list of them
        What :func:`corvane.open` takes, or a list of such sources: their rows follow one another,
        and ``message`` counts within each one's file.
    columns : str or sequence of str, optional
        The keys to read (None: every key); ``"#2#key"`` names the second occurrence alone.
    filters : mapping, optional
        Maps a key to a value, a list of values, a ``slice(low, high)`` (both ends included,
        either may be None) or a callable taking one value; a row is kept when every filter
        passes, and a missing value never passes. Values, lists and ranges on a key met once per
        subset are tested inside the decoder, before any row reaches Python; a callable is called
        once per distinct value.
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
    TypeError, ValueError
        For columns that are no key names, filters that are no mapping, a range with a step, or
        a number of workers below 1.

    Examples
    --------
    >>> frame = corvane.read(corvane.sample_path(), columns=["WMO_station_id", "airTemperature"],
    ...                      filters={"airTemperature": slice(273.15, None)})
    >>> print(frame.shape, list(frame.columns))
    (960, 4) ['message', 'subset', 'WMO_station_id', 'airTemperature']
    >>> print(frame.loc[0, "WMO_station_id"], frame.loc[0, "airTemperature"])
    10037 286.65
    """
    pandas = pandas_module()
    if workers is not None and (not isinstance(workers, int) or workers < 1):
        raise ValueError(f"workers={workers!r}: use a positive number of threads")
    plan = Plan.make(columns, filters, flat)
    sources = list(source) if isinstance(source, (list, tuple)) else [source]
    chosen = None if messages is None else list(messages)

    def open_source(one: Source) -> BufrFile:
        return open_bufr(one, tables=tables, errors=errors)

    threads = workers or 1
    if threads == 1:
        parts = [plan.frame(pandas, bufr, chosen) for bufr in map(open_source, sources)]
    else:
        # Threads start only for work they can share: one small file stays on this one.
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


@dataclass
class Plan:
    """What one call reads: the columns shown, the keys decoded for them and the filters."""

    columns: Optional[List[str]]
    filters: List[Filter]
    flat: bool
    keys: Optional[List[str]] = field(default=None)

    @staticmethod
    def make(
        columns: Union[str, Sequence[str], None], filters: Optional[Mapping[str, FilterValue]], flat: bool
    ) -> Plan:
        chosen = [columns] if isinstance(columns, str) else None if columns is None else list(columns)
        if chosen is not None:
            for name in chosen:
                if not isinstance(name, str):
                    raise TypeError(f"columns: {name!r} is not a key name")
            chosen = [name for name in chosen if name not in ("message", "subset")]
        if filters is not None and not isinstance(filters, Mapping):
            raise TypeError("filters must map keys to a value, a list of values, a slice or a callable")
        tests = [Filter(name, test) for name, test in (filters or {}).items()]
        for test in tests:
            if isinstance(test.test, slice) and test.test.step is not None:
                raise ValueError(f"filters[{test.column!r}]: a range has no step")
        plan = Plan(chosen, tests, flat)
        if chosen is not None:
            keys: List[str] = []
            for name in chosen + [test.column for test in tests]:
                for key in COMPUTED.get(name, (name,)):
                    if key not in keys:
                        keys.append(key)
            plan.keys = keys
        return plan

    def decode(self, bufr: BufrFile, messages: Optional[Sequence[int]]) -> Tuple[Any, List[Filter]]:
        """The columns of the messages, and the filters that the decoder could not apply.

        A value filter on a bare key is exact in the decoder only when the key occurs once per
        subset (or the rows are subsets, with ``flat``); which keys repeat shows only once they
        are decoded, so the few calls that guessed wrong decode again without those filters.
        """
        native = {test.column: test.native() for test in self.filters}
        pushed = {column for column, record in native.items() if record is not None}
        while True:
            table = bufr.table(
                self.keys,
                filters={test.column: test.test for test in self.filters if test.column in pushed} or None,
                messages=messages,
            )
            repeated = (
                set()
                if self.flat
                else {
                    column
                    for column in pushed
                    if OCCURRENCE.fullmatch(column) is None and f"#2#{column}" in table.names
                }
            )
            if not repeated:
                return table, [test for test in self.filters if test.column not in pushed]
            pushed -= repeated

    def frame(self, pandas: Any, bufr: BufrFile, messages: Optional[Sequence[int]]) -> Any:
        table, left = self.decode(bufr, messages)
        columns = Columns(table)
        if self.flat:
            names = columns.flat_names(self.columns)
            rows = Rows(table, None, [])
            values = {name: rows.column(columns, name) for name in names}
        else:
            wanted = self.keys if self.keys is not None else columns.keys()
            keys = [key for key in wanted if key not in COMPUTED]
            rows = Rows(table, columns, keys, lambda index: list(bufr.table(self.keys, messages=[index]).names))
            names = self.columns if self.columns is not None else keys
            values = {key: rows.key(key) for key in keys}

        def value(name: str) -> Any:
            if name not in values:
                if name in COMPUTED:
                    values[name] = compute(pandas, name, [value(key) for key in COMPUTED[name]])
                else:
                    values[name] = rows.column(columns, name) if self.flat else rows.key(name)
            return values[name]

        keep = None
        for test in left:
            passing = test.mask(pandas, value(test.column))
            keep = passing if keep is None else keep & passing
        data = {"message": rows.message, "subset": rows.subset}
        data.update((name, value(name)) for name in names if name not in data)
        if keep is not None:
            data = {name: array[keep] for name, array in data.items()}
        return pandas.DataFrame(
            {
                name: array if name in ("message", "subset") else as_pandas(pandas, array)
                for name, array in data.items()
            },
            copy=False,
        )


def as_pandas(pandas: Any, array: Any) -> Any:
    """A column as pandas holds it: code tables as nullable Int64, the rest as they are."""
    if isinstance(array, np.ndarray) and array.dtype == np.int64:
        absent = array == _MISSING_CODE
        if absent.any():
            return pandas.arrays.IntegerArray(array, absent)
        return pandas.array(array, dtype="Int64")
    return array


def _numbers(array: np.ndarray) -> np.ndarray:
    """A column of numbers or codes as float64 with NaN when missing."""
    if array.dtype == np.float64:
        return array
    if array.dtype == np.int64:
        return converted(array, np.dtype(np.float64))
    return np.array([np.nan if value is None else value for value in array], dtype=np.float64)


def compute(pandas: Any, name: str, parts: List[np.ndarray]) -> Any:
    """A computed column from the values of the keys it needs."""
    if name == "WMO_station_id":
        block, station = (_numbers(part) for part in parts)
        number = block * 1000 + station
        absent = np.isnan(number)
        return pandas.arrays.IntegerArray(np.where(absent, 0, number).astype(np.int64), absent)
    if name == "data_datetime":
        year, month, day, *time_of_day = (_numbers(part) for part in parts)
        # As pdbufr counts them: a date needs its day, a time of day does not need its parts.
        hour, minute, second = (np.where(np.isnan(part), 0.0, part) for part in time_of_day)
        moments = pandas.DataFrame(
            {"year": year, "month": month, "day": day, "hour": hour, "minute": minute, "second": second}
        )
        return pandas.to_datetime(moments, errors="coerce").to_numpy()
    return _wigos_ids(parts)


def _wigos_ids(parts: List[np.ndarray]) -> np.ndarray:
    series, issuer, issue = (_numbers(part) for part in parts[:3])
    local = parts[3]
    ids = np.full(len(series), None, dtype=object)
    complete = ~(np.isnan(series) | np.isnan(issuer) | np.isnan(issue) | missing(local))
    for row in np.flatnonzero(complete):
        ids[row] = f"{int(series[row])}-{int(issuer[row])}-{int(issue[row])}-{local[row]}"
    return ids
