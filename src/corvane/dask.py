"""BUFR files into a Dask DataFrame: one partition per file, or per block of messages.

Partitions run :func:`corvane.read` wherever Dask runs them: threads by default, or the
workers of a ``distributed`` cluster when a ``Client`` is active. Needs ``pip install
'corvane[dask]'``.

>>> import corvane.dask
>>> frame = corvane.dask.read(corvane.sample_path(), columns=["WMO_station_id", "airTemperature"])
>>> print(frame.groupby("WMO_station_id").airTemperature.mean().compute().loc[10037])
286.65
"""

from __future__ import annotations

import glob
import os
from typing import TYPE_CHECKING, Any, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

from . import open as open_bufr
from . import read as read_frame
from ._file import Errors
from ._filters import FilterValue
from ._read import Required
from ._tables import TablesSource

if TYPE_CHECKING:
    import dask.dataframe

try:
    import dask.dataframe as _dd
except ImportError:
    _dd = None

__all__ = ["read"]

Part = Tuple[str, Optional[range]]


def read(
    paths_or_glob: Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]],
    columns: Union[str, Sequence[str], None] = None,
    filters: Optional[Mapping[str, FilterValue]] = None,
    tables: TablesSource = None,
    messages_per_partition: Optional[int] = None,
    errors: Errors = "raise",
    required_columns: Required = True,
) -> dask.dataframe.DataFrame:
    """A lazy Dask DataFrame of the rows :func:`corvane.read` gives for each file.

    The schema comes from reading the first partition at once. The result equals
    ``pandas.concat`` of :func:`corvane.read` on each file (each partition keeps its own index).
    With ``columns=None`` every partition takes the first partition's columns.

    Parameters
    ----------
    paths_or_glob : str, os.PathLike or iterable of them
        A glob pattern (``"archive/*.bufr"``, sorted), a path or a list of paths.
    columns, filters, tables, required_columns
        As for :func:`corvane.read`.
    messages_per_partition : int, optional
        One partition per this many messages (the files are scanned for their messages first);
        None makes each file one partition.
    errors : {"raise", "skip", "keep"}, default "raise"
        With ``"raise"`` a bad message raises :class:`corvane.BufrError` when its partition is
        computed; ``"skip"`` and ``"keep"`` leave its rows out.

    Returns
    -------
    dask.dataframe.DataFrame

    Raises
    ------
    ImportError
        When Dask or pandas is not installed.
    FileNotFoundError
        When no file matches the pattern.
    ValueError
        For no paths, or a ``messages_per_partition`` below 1.

    Examples
    --------
    >>> import corvane.dask
    >>> frame = corvane.dask.read([corvane.sample_path()], columns=["WMO_station_id", "airTemperature"],
    ...                           messages_per_partition=20)
    >>> frame.npartitions
    3
    >>> print(frame.airTemperature.max().compute())
    297.15
    """
    if _dd is None:
        raise ImportError("corvane.dask needs dask: pip install 'corvane[dask]'")
    if messages_per_partition is not None and (
        not isinstance(messages_per_partition, int) or messages_per_partition < 1
    ):
        raise ValueError(f"messages_per_partition={messages_per_partition!r}: use a positive number")
    paths = source_paths(paths_or_glob)
    parts = partitions(paths, tables, messages_per_partition)
    chosen = [columns] if isinstance(columns, str) else None if columns is None else list(columns)
    meta = read_partition(parts[0], chosen, filters, tables, errors, required_columns, None).iloc[:0]
    return _dd.from_map(
        read_partition,
        parts,
        columns=chosen,
        filters=filters,
        tables=tables,
        errors=errors,
        required_columns=required_columns,
        meta_frame=meta,
        meta=meta,
        enforce_metadata=False,
    )


def read_partition(
    part: Part,
    columns: Optional[List[str]],
    filters: Optional[Mapping[str, FilterValue]],
    tables: TablesSource,
    errors: Errors,
    required_columns: Required,
    meta_frame: Any,
) -> Any:
    """The rows of one partition, shaped as `meta_frame` when given."""
    path, messages = part
    frame = read_frame(
        path,
        columns=columns,
        filters=filters,
        required_columns=required_columns,
        tables=tables,
        errors=errors,
        messages=messages,
    )
    if meta_frame is None:
        return frame
    if list(frame.columns) != list(meta_frame.columns):
        frame = frame.reindex(columns=meta_frame.columns)
    differ = {name: dtype for name, dtype in meta_frame.dtypes.items() if frame[name].dtype != dtype}
    return frame.astype(differ) if differ else frame


def source_paths(paths: Union[str, "os.PathLike[str]", Iterable[Any]]) -> List[str]:
    """A glob pattern, a path or a list of paths as a list of paths."""
    if isinstance(paths, (str, os.PathLike)):
        path = os.fspath(paths)
        found = sorted(glob.glob(path)) if glob.has_magic(path) else [path]
        if not found:
            raise FileNotFoundError(f"no file matches {path!r}")
        return found
    found = [os.fspath(path) for path in paths]
    if not found:
        raise ValueError("no paths given")
    return found


def partitions(paths: List[str], tables: TablesSource, size: Optional[int]) -> List[Part]:
    if size is None:
        return [(path, None) for path in paths]
    parts: List[Part] = []
    for path in paths:
        count = len(open_bufr(path, tables=tables))  # errors='raise': every message counts
        parts.extend((path, range(start, min(start + size, count))) for start in range(0, max(count, 1), size))
    return parts
