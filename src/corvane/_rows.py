"""The columns of a decoded table as corvane.read takes them."""

from __future__ import annotations

import re
from typing import Any, Dict, List, Optional

import numpy as np

from . import _core
from ._filters import COMPUTED

__all__ = ["Columns", "OCCURRENCE", "column_of", "converted", "missing"]

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
