"""The columns of a decoded table as corvane.read takes them, and the computed columns."""

from __future__ import annotations

import re
from typing import TYPE_CHECKING, Any, Dict, List, Optional

from . import _core
from ._filters import COMPUTED

if TYPE_CHECKING:
    import numpy as np
else:
    from ._lazy import numpy as np

__all__ = ["Columns", "OCCURRENCE", "as_pandas", "column_of", "compute", "converted", "missing"]

# "#n#key", the n-th occurrence of a key in a subset.
OCCURRENCE = re.compile(r"#([0-9]+)#(.+)")
_MISSING_CODE = _core.MISSING_CODE


class Columns:
    """The occurrence columns of a decoded table, by key."""

    def __init__(self, table: Any) -> None:
        self.table = table
        self.by_key: Dict[str, List[str]] = {}
        self.info: Dict[str, dict] = {}
        for name in table.names[2:]:
            info = table.info(name)
            self.info[name] = info
            self.by_key.setdefault(info["key"], []).append(name)

    def keys(self) -> List[str]:
        return list(self.by_key)

    def occurrences(self, key: str) -> List[str]:
        """The columns a chosen key reads: every occurrence of "key", the one of "#n#key"."""
        if OCCURRENCE.fullmatch(key):
            return [key] if key in self.info else []
        return self.by_key.get(key, [])

    def flat_names(self, chosen: Optional[List[str]]) -> List[str]:
        if chosen is None:
            return list(self.info)
        names: List[str] = []
        for name in chosen:
            if name in COMPUTED:
                names.append(name)
            else:
                found = sorted(self.occurrences(name), key=lambda column: self.info[column]["rank"])
                names.extend(found or [name])
        return names


def column_of(table: Any, name: str) -> np.ndarray:
    """A column of a table that this module alone holds, whose frame may be changed in place: pandas
    writes into a frame's arrays, copy-on-write or not, so they must be writeable."""
    return table.array(name, writeable=True)


def missing(array: np.ndarray) -> np.ndarray:
    if array.dtype == np.float64:
        return np.isnan(array)
    if array.dtype == np.int64:
        return array == _MISSING_CODE
    return np.equal(array, None)


def converted(array: np.ndarray, dtype: np.dtype) -> np.ndarray:
    if array.dtype == dtype:
        return array
    if array.dtype == np.int64:
        floats = array.astype(np.float64)
        floats[array == _MISSING_CODE] = np.nan
        return floats.astype(dtype)
    return array.astype(dtype)


def as_pandas(pandas: Any, array: Any) -> Any:
    """A column as pandas holds it: code tables and header keys as nullable Int64, the rest as
    they are."""
    if isinstance(array, np.ma.MaskedArray):
        return pandas.arrays.IntegerArray(array.data, np.ma.getmaskarray(array))
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
