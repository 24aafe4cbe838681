"""BUFR files into a Dask DataFrame: one partition per file, or per block of messages.

>>> import corvane.dask
>>> frame = corvane.dask.read("archive/*.bufr", columns=["WMO_station_id", "airTemperature"])
>>> frame.groupby("WMO_station_id").airTemperature.mean().compute()

Partitions run :func:`corvane.read` wherever Dask runs them: threads by default, or the
workers of a ``distributed`` cluster when a ``Client`` is active. Needs ``pip install
'corvane[dask]'``.
"""
from __future__ import annotations

import glob
import os
from typing import TYPE_CHECKING, Any, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

from . import open as open_bufr
from . import read as read_frame
from ._file import Errors
from ._filters import FilterValue
from ._tables import TablesSource

if TYPE_CHECKING:
    import dask.dataframe

try:
    import dask.dataframe as _dd
except ImportError:
    _dd = None

__all__ = ["read"]

Part = Tuple[str, Optional[range]]


def read(paths_or_glob: Union[str, "os.PathLike[str]", Iterable[Union[str, "os.PathLike[str]"]]],
         columns: Union[str, Sequence[str], None] = None, filters: Optional[Mapping[str, FilterValue]] = None,
         tables: TablesSource = None, messages_per_partition: Optional[int] = None,
         errors: Errors = "raise") -> "dask.dataframe.DataFrame":
    """A lazy ``dask.dataframe.DataFrame`` of the rows :func:`corvane.read` gives for each file.

    ``paths_or_glob`` is a glob pattern (``"archive/*.bufr"``, sorted), a path or a list of
    paths. Each file is one partition, or one partition per ``messages_per_partition``
    messages when given (the files are scanned for their messages first). ``columns``,
    ``filters``, ``tables`` and ``errors`` are as for :func:`corvane.read`: with
    ``errors="raise"`` a bad message raises :class:`corvane.BufrError` when its partition is
    computed; ``"skip"`` and ``"keep"`` leave its rows out.

    The schema comes from reading the first partition at once. The result equals
    ``pandas.concat`` of :func:`corvane.read` on each file (each partition keeps its own
    index). With ``columns=None`` every partition takes the first partition's columns.
    """
    if _dd is None:
        raise ImportError("corvane.dask needs dask: pip install 'corvane[dask]'")
    if messages_per_partition is not None and (not isinstance(messages_per_partition, int) or messages_per_partition < 1):
        raise ValueError(f"messages_per_partition={messages_per_partition!r}: use a positive number")
    paths = source_paths(paths_or_glob)
    parts = partitions(paths, tables, messages_per_partition)
    chosen = [columns] if isinstance(columns, str) else None if columns is None else list(columns)
    meta = read_partition(parts[0], chosen, filters, tables, errors, None).iloc[:0]
    return _dd.from_map(read_partition, parts, columns=chosen, filters=filters, tables=tables, errors=errors,
                        meta_frame=meta, meta=meta, enforce_metadata=False)


def read_partition(part: Part, columns: Optional[List[str]], filters: Optional[Mapping[str, FilterValue]],
                   tables: TablesSource, errors: Errors, meta_frame: Any) -> Any:
    """The rows of one partition, shaped as `meta_frame` when given."""
    path, messages = part
    frame = read_frame(path, columns=columns, filters=filters, tables=tables, errors=errors, messages=messages)
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
