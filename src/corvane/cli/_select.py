"""The keys of ``-p`` and the clauses of ``-w``: their values per message, and which messages pass.

A header key (ecCodes' name) and ``typical_datetime`` come from sections 0 to 3, so the clauses
on them choose messages before section 4 is read. A data key, ``data_datetime``,
``WMO_station_id`` and ``WIGOS_station_id`` take the value of the first row that
:func:`corvane.read` gives for the message: only the messages that pass the header clauses are
decoded, a block at a time.
"""

from __future__ import annotations

import math
from dataclasses import dataclass, field
from typing import Any, Dict, Iterator, List, Optional, Sequence, Tuple

import numpy as np

from .. import BufrFile, Message, _keys
from .._read import Plan, pandas_module
from .._records import MessageMetadata
from ._common import Failures, UsageError, messages, number

#: The common originating centres of WMO common code table C-11, by the abbreviations that
#: ecCodes shows for them.
CENTRES = {
    1: "ammc",
    7: "kwbc",
    8: "kwnc",
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


@dataclass
class Clause:
    """``key=a/b`` (one of the values) or ``key!=a/b`` (none of them)."""

    key: str
    wanted: List[str]
    negated: bool
    # A file holds few distinct header values: each is judged once.
    judged: Dict[object, bool] = field(default_factory=dict)

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


class Selection:
    """Which keys a verb shows and which clauses a message must pass, checked against the tables."""

    def __init__(self, tables: Any, keys: Sequence[str], clauses: Sequence[Clause]) -> None:
        self.keys = list(keys)
        self.clauses = list(clauses)
        names = list(dict.fromkeys([*self.keys, *(clause.key for clause in self.clauses)]))
        header = {*_keys.HEADER_KEYS, TYPICAL}
        self.data_keys = [name for name in names if name not in header]
        try:
            self.plan = Plan.make(self.data_keys, None, False, False, lambda: _keys.known_keys(tables))
        except KeyError as error:
            raise UsageError(str(error)) from None
        self.header_fields = [
            (name, _typical if name == TYPICAL else _keys.HEADER_KEYS[name]) for name in names if name in header
        ]
        self.header_clauses = [clause for clause in self.clauses if clause.key in header]
        self.data_clauses = [clause for clause in self.clauses if clause.key not in header]

    def select(self, bufr: BufrFile, failures: Failures, keep_bad: bool = False) -> Iterator[Tuple[Message, Values]]:
        """The messages of ``bufr`` that pass every clause, each with the values of its keys; with
        ``keep_bad`` also those whose sections cannot be read, with no values."""
        block: List[Tuple[Message, Values]] = []
        for message, good in messages(bufr, failures, bufr.headers(), bufr.name):
            if not good:
                if keep_bad:
                    yield message, {}
                continue
            metadata: MessageMetadata = message._metadata
            values: Values = {key: value(metadata) for key, value in self.header_fields}
            if not all(clause.passes(values[clause.key]) for clause in self.header_clauses):
                continue
            if not self.data_keys:
                yield message, values
                continue
            block.append((message, values))
            if len(block) == _BLOCK:
                yield from self._decoded(bufr, block)
                block = []
        yield from self._decoded(bufr, block)

    def _decoded(self, bufr: BufrFile, block: List[Tuple[Message, Values]]) -> Iterator[Tuple[Message, Values]]:
        if not block:
            return
        frame = self.plan.frame(pandas_module(), bufr, [message.index for message, _ in block])
        first = frame.drop_duplicates("message").set_index("message")
        for message, values in block:
            row = first.loc[message.index] if message.index in first.index else None
            for key in self.data_keys:
                values[key] = None if row is None or key not in first.columns else _plain(row[key])
            if all(clause.passes(values[clause.key]) for clause in self.data_clauses):
                yield message, values


def _typical(metadata: MessageMetadata) -> object:
    moment = _keys.typical_datetime(metadata)
    return None if np.isnat(moment) else str(moment)


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
