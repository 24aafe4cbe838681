"""The rows of corvane.read: a row per subset, or per occurrence of a repeated group of keys."""

from __future__ import annotations

import re
from typing import Any, Callable, Dict, List, Optional, Set

import numpy as np

from . import _core
from ._filters import COMPUTED

__all__ = ["Columns", "Rows", "OCCURRENCE", "converted", "missing"]

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


class Rows:
    """The rows of one table: a row per subset, or per occurrence of the repeated group.

    A subset's chosen values are walked in column order; a row ends where a chosen key comes
    again since the row began, and every key keeps its last value on the rows after. A key that
    comes again right after itself while the row still lacks a chosen key is the same quantity
    measured again (a SYNOP temperature at another sensor height): its value, when present,
    replaces the row's instead of starting a row, as pdbufr reads such subsets. Columns
    hold no trace of where an occurrence is absent, so a column whose values are all missing in
    a message counts as absent from it, and a row whose new values are all missing is dropped
    (a subset's first row stays). Messages that hold the same columns share one walk, planned
    on the column names and applied to whole columns: the rows of a message never depend on
    the other messages of the table. A table orders its columns as its first messages hold
    them, so `order` gives the columns of one message in its own order.
    """

    def __init__(
        self,
        table: Any,
        columns: Optional[Columns],
        keys: List[str],
        order: Callable[[int], List[str]] = lambda index: [],
    ) -> None:
        self.table = table
        self.message = column_of(table, "message")
        self.subset = column_of(table, "subset")
        self.groups: List[Walk] = []
        self.single: Dict[str, str] = {}
        if columns is None:
            return
        owner = {name: key for key in keys for name in columns.occurrences(key)}
        if all(len(columns.occurrences(key)) <= 1 for key in keys):
            self.single = {key: names[0] for key in keys for names in [columns.occurrences(key)] if names}
            return
        names = [name for name in table.names[2:] if name in owner]
        rows = table.rows
        starts = np.flatnonzero(np.r_[True, self.message[1:] != self.message[:-1]]) if rows else np.zeros(0, np.intp)
        present = np.empty((len(starts), len(names)), dtype=bool)
        for column, name in enumerate(names):
            present[:, column] = np.logical_or.reduceat(~missing(column_of(table, name)), starts) if rows else False
        kinds, kind_of_message = np.unique(present, axis=0, return_inverse=True)
        kind_of_row = np.repeat(kind_of_message.reshape(-1), np.diff(np.r_[starts, rows]))
        positions = []
        first_of_kind = np.unique(kind_of_message.reshape(-1), return_index=True)[1]
        for kind, found in enumerate(kinds):
            held = {name for name, there in zip(names, found) if there}
            walk = Walk(
                in_message_order(names, order(int(self.message[starts[first_of_kind[kind]]]))),
                held,
                owner,
                np.flatnonzero(kind_of_row == kind),
            )
            walk.plan_rows(table)
            self.groups.append(walk)
            positions.append(np.repeat(walk.rows, len(walk.steps))[walk.keep])
        self.order = np.argsort(np.concatenate(positions), kind="stable") if positions else np.zeros(0, np.intp)
        source_rows = np.concatenate(positions)[self.order] if positions else np.zeros(0, np.intp)
        self.message = self.message[source_rows]
        self.subset = self.subset[source_rows]

    def key(self, key: str) -> np.ndarray:
        """The values of a chosen key on every row."""
        if not self.groups:
            name = self.single.get(key)
            return column_of(self.table, name) if name is not None else _absent(self.table.rows)
        arrays = {
            name: column_of(self.table, name)
            for walk in self.groups
            for step in walk.steps
            for name in step.get(key, [])
        }
        kinds = {array.dtype for array in arrays.values()}
        dtype = (
            kinds.pop() if len(kinds) == 1 else np.dtype(object) if np.dtype(object) in kinds else np.dtype(np.float64)
        )
        parts = [walk.values(key, arrays, dtype) for walk in self.groups]
        return np.concatenate(parts)[self.order]

    def column(self, columns: Columns, name: str) -> np.ndarray:
        return column_of(self.table, name) if name in columns.info else _absent(self.table.rows)


def in_message_order(names: List[str], order: List[str]) -> List[str]:
    position = {name: index for index, name in enumerate(order)}
    return sorted(names, key=lambda name: position.get(name, len(position)))


class Walk:
    """The rows of the messages that hold the same chosen columns: `steps` maps each chosen
    key to its columns on each row of a subset (the last present one counts), `fresh` lists
    the columns each row begins."""

    def __init__(self, names: List[str], held: Set[str], owner: Dict[str, str], rows: np.ndarray) -> None:
        self.rows = rows
        self.steps: List[Dict[str, List[str]]] = []
        self.fresh: List[List[str]] = []
        every_key = {owner[name] for name in held}
        current: Dict[str, List[str]] = {}
        fresh: List[str] = []
        fresh_keys = set()
        last_key = None
        for name in names:
            key = owner[name]
            if name not in held:
                # Absent here, but it still separates what comes before from what comes after.
                last_key = key
                continue
            # An absent occurrence just before leaves nothing to measure again.
            if key == last_key and key in current and len(current) < len(every_key):
                current[key] = current[key] + [name]
            else:
                if key in fresh_keys:
                    self.steps.append(dict(current))
                    self.fresh.append(fresh)
                    fresh, fresh_keys = [], set()
                current[key] = [name]
                fresh_keys.add(key)
            fresh.append(name)
            last_key = key
        self.steps.append(current)
        self.fresh.append(fresh)
        self.keep = np.ones(0, dtype=bool)

    def plan_rows(self, table: Any) -> None:
        present = np.ones((len(self.rows), len(self.steps)), dtype=bool)
        for step, names in enumerate(self.fresh[1:], 1):
            found = np.zeros(len(self.rows), dtype=bool)
            for name in names:
                found |= ~missing(column_of(table, name)[self.rows])
            present[:, step] = found
        self.keep = present.ravel()

    def values(self, key: str, arrays: Dict[str, np.ndarray], dtype: np.dtype) -> np.ndarray:
        out = np.empty((len(self.rows), len(self.steps)), dtype=dtype)
        for step, names in enumerate(self.steps):
            if key not in names:
                out[:, step] = _blank(dtype)
                continue
            chain = names[key]
            value = converted(arrays[chain[0]][self.rows], dtype)
            for name in chain[1:]:
                again = converted(arrays[name][self.rows], dtype)
                value = np.where(missing(again), value, again)
            out[:, step] = value
        return out.ravel()[self.keep]


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


def _absent(rows: int) -> np.ndarray:
    return np.full(rows, np.nan)


def _blank(dtype: np.dtype) -> Any:
    return None if dtype == object else _MISSING_CODE if dtype == np.int64 else np.nan


def converted(array: np.ndarray, dtype: np.dtype) -> np.ndarray:
    if array.dtype == dtype:
        return array
    if array.dtype == np.int64:
        floats = array.astype(np.float64)
        floats[array == _MISSING_CODE] = np.nan
        return floats.astype(dtype)
    return array.astype(dtype)
