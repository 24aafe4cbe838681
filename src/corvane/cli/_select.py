"""The keys of ``-p`` and the clauses of ``-w``: their values per message, and which messages pass.

A header key (ecCodes' name) and ``typical_datetime`` come from sections 0 to 3, so the clauses
on them choose messages before section 4 is read. A data key, ``data_datetime``,
``WMO_station_id`` and ``WIGOS_station_id`` take the value of the first row that
:func:`corvane.read` gives for the message: only the messages that pass the header clauses are
decoded, a block at a time.
"""

from __future__ import annotations

import datetime
import math
from typing import TYPE_CHECKING, Any, Dict, Iterator, List, NamedTuple, Optional, Sequence, Tuple

from .. import BufrFile, _core, _keys
from .._read import Plan, pandas_module
from .._stream import Window
from ._common import Failures, Progress, UsageError, number

if TYPE_CHECKING:
    import numpy as np
else:
    from .._lazy import numpy as np

#: The common originating centres of WMO common code table C-11, by the abbreviations that
#: ecCodes shows for them.
CENTRES = {
    1: "ammc",
    7: "kwbc",
    34: "rjtd",
    38: "babj",
    40: "rksl",
    54: "cwao",
    58: "fnmo",
    74: "egrr",
    78: "edzw",
    80: "cnmc",
    82: "eswi",
    84: "lfpw",
    85: "lfpw",
    86: "efkl",
    88: "enmi",
    94: "ekmi",
    98: "ecmf",
    215: "lssw",
    218: "habp",
    235: "ingv",
    254: "eums",
}
CENTRE_KEY = "bufrHeaderCentre"
TYPICAL = "typical_datetime"
# Messages decoded per call for data keys: few calls, and a bounded frame.
_BLOCK = 512

Values = Dict[str, object]


class Clause:
    """``key=a/b`` (one of the values) or ``key!=a/b`` (none of them)."""

    def __init__(self, key: str, wanted: List[str], negated: bool) -> None:
        self.key = key
        self.wanted = wanted
        self.negated = negated
        # A file holds few distinct header values: each is judged once.
        self.judged: Dict[object, bool] = {}

    def passes(self, value: object) -> bool:
        """Whether a value passes; a missing one never does."""
        verdict = self.judged.get(value)
        if verdict is None:
            verdict = value is not None and any(_equal(self.key, value, w) for w in self.wanted) != self.negated
            if len(self.judged) < 4096:
                self.judged[value] = verdict
        return verdict


def _equal(key: str, value: object, wanted: str) -> bool:
    if isinstance(value, (int, float)):
        if key == CENTRE_KEY and CENTRES.get(int(value)) == wanted:
            return True
        try:
            return float(wanted) == value
        except ValueError:
            return False
    return str(value) == wanted


def parse_clauses(text: Optional[str]) -> List[Clause]:
    """The clauses of ``-w``, comma-separated, all of which must hold."""
    clauses = []
    for part in (text or "").split(","):
        if not part.strip():
            continue
        negated = "!=" in part
        key, sign, values = part.partition("!=" if negated else "=")
        if not sign or not key.strip() or not values:
            raise UsageError(f"-w {part!r}: write key=value, key=a/b or key!=value")
        clauses.append(Clause(key.strip(), values.split("/"), negated))
    return clauses


def parse_keys(text: Optional[str], option: str) -> List[str]:
    keys = [key.strip() for key in (text or "").split(",") if key.strip()]
    if text is not None and not keys:
        raise UsageError(f"{option} needs at least one key, such as {option} bufrHeaderCentre,dataCategory")
    return keys


def shown(value: object) -> str:
    """A value as text, "-" when missing."""
    if value is None:
        return "-"
    if isinstance(value, float):
        return number(value)
    return str(value)


class Headers:
    """Sections 0 to 3 of every message of a file, a column per field, read in one native call."""

    def __init__(self, bufr: BufrFile) -> None:
        found = _core.parse_all(bufr._data, bufr._entries)
        #: The text of each message that cannot be read, by position.
        self.errors: Dict[int, str] = dict(found.pop("errors"))  # type: ignore[arg-type]
        self.columns: Dict[str, Sequence[int]] = {
            name: memoryview(data).cast("q")
            for name, data in found.items()  # type: ignore[arg-type]
        }
        self.index = self.columns["index"]
        self.offset = self.columns["offset"]
        self.length = self.columns["length"]

    def __len__(self) -> int:
        return len(self.index)

    def values(self, key: str) -> List[object]:
        """A header key's value (or ``typical_datetime``'s) for every message."""
        if key != TYPICAL:
            return _keys.header_values(key, self.columns)  # type: ignore[return-value]
        # Few distinct times in a file: each is made once.
        made: Dict[Tuple[int, ...], object] = {}
        times = zip(*(self.columns[name] for name in ("year", "month", "day", "hour", "minute", "second")))
        return [made[t] if t in made else made.setdefault(t, _typical(*t)) for t in times]


class Chosen(NamedTuple):
    """The messages of a window that pass every clause, by position, with the values of the keys."""

    window: Window
    headers: Headers
    positions: List[int]
    #: Each key's values, one per chosen message.
    values: Dict[str, List[object]]

    def rows(self, keys: Sequence[str]) -> Iterator[Tuple[int, Values]]:
        """Each chosen message's position with its values of ``keys``, a dict per message."""
        for row, position in enumerate(self.positions):
            yield position, {key: self.values[key][row] for key in keys}


class Selection:
    """Which keys a verb shows and which clauses a message must pass, checked against the tables."""

    def __init__(self, tables: Any, keys: Sequence[str], clauses: Sequence[Clause]) -> None:
        self.keys = list(keys)
        self.clauses = list(clauses)
        self.names = list(dict.fromkeys([*self.keys, *(clause.key for clause in self.clauses)]))
        header = {*_keys.HEADER_KEYS, TYPICAL}
        self.data_keys = [name for name in self.names if name not in header]
        try:
            self.plan = Plan.make(self.data_keys, None, False, False, lambda: _keys.known_keys(tables))
        except KeyError as error:
            raise UsageError(str(error)) from None
        self.header_keys = [name for name in self.names if name in header]
        self.header_clauses = [clause for clause in self.clauses if clause.key in header]
        self.data_clauses = [clause for clause in self.clauses if clause.key not in header]

    def select(self, window: Window, failures: Failures, keep_bad: bool = False) -> Chosen:
        """The messages of ``window`` that pass every clause, with the values of their keys; with
        ``keep_bad`` also those whose sections cannot be read, with no values (None)."""
        bufr = window.bufr
        headers = Headers(bufr)
        failures.seen += len(headers)
        for position, error in headers.errors.items():
            index, offset = window.first_index + headers.index[position], window.first_offset + headers.offset[position]
            failures.failed(index, offset, error, bufr.name)
        bad = headers.errors
        positions = [p for p in range(len(headers)) if keep_bad or p not in bad]
        columns = {key: headers.values(key) for key in self.header_keys}
        for clause in self.header_clauses:
            column = columns[clause.key]
            positions = [p for p in positions if clause.passes(column[p])]
        values = {key: [None if p in bad else column[p] for p in positions] for key, column in columns.items()}
        chosen = Chosen(window, headers, positions, values)
        return self._decoded(bufr, chosen) if self.data_keys else chosen

    def _decoded(self, bufr: BufrFile, chosen: Chosen) -> Chosen:
        """``chosen`` with the values of the data keys, less the messages that fail their clauses."""
        index = chosen.headers.index
        found: Dict[str, List[object]] = {key: [] for key in self.data_keys}
        progress = Progress(len(chosen.positions))
        try:
            for start in range(0, len(chosen.positions), _BLOCK):
                block = [index[p] for p in chosen.positions[start : start + _BLOCK]]
                frame = self.plan.frame(pandas_module(), bufr, block)
                first = frame.drop_duplicates("message").set_index("message")
                for message in block:
                    row = first.loc[message] if message in first.index else None
                    for key in self.data_keys:
                        found[key].append(None if row is None or key not in first.columns else _plain(row[key]))
                progress.update(start + len(block))
        finally:
            progress.close()
        chosen.values.update(found)
        kept = [
            row
            for row in range(len(chosen.positions))
            if all(clause.passes(chosen.values[clause.key][row]) for clause in self.data_clauses)
        ]
        return Chosen(
            chosen.window,
            chosen.headers,
            [chosen.positions[row] for row in kept],
            {key: [column[row] for row in kept] for key, column in chosen.values.items()},
        )


def _typical(year: int, month: int, day: int, hour: int, minute: int, second: int) -> object:
    try:
        return datetime.datetime(year, month, day, hour, minute, second).isoformat()
    except ValueError:
        return None


def _plain(value: Any) -> object:
    """A cell of a frame as a plain Python value, None when missing."""
    if value is None or value is pandas_module().NA or value is pandas_module().NaT:
        return None
    if isinstance(value, (np.integer, int)):
        return int(value)
    if isinstance(value, (np.floating, float)):
        return None if math.isnan(value) else float(value)
    if hasattr(value, "isoformat"):
        return value.isoformat()
    return value
