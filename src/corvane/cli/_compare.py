"""``corvane compare``: two files message by message, a line per value that differs."""

from __future__ import annotations

import argparse
import json
import sys
from typing import TYPE_CHECKING, Dict, Iterator, List, NamedTuple, Optional, Sequence, TextIO, Tuple

from .. import BufrFile, _core, _keys
from .._records import ColumnInfo
from ._common import DATA_ERROR, STDIN, Failures, Progress, UsageError, number, open_input, tables
from ._select import Headers, parse_keys

if TYPE_CHECKING:
    import numpy as np
else:
    from .._lazy import numpy as np

EXAMPLE = """examples:
  corvane compare old.bufr new.bufr
  corvane compare old.bufr new.bufr -A 0.01 -b updateSequenceNumber
  corvane compare old.bufr new.bufr -R all=0.001,airTemperature=0.01 -k airTemperature,pressure
  corvane compare old.bufr new.bufr --headers
"""
DESCRIPTION = """Compares message i of FILE1 with message i of FILE2, key by key: the header keys of
sections 0 to 3 (edition, bufrHeaderCentre, ..., unexpandedDescriptors), then every data key of each
subset the two messages both have, as bufr_compare does by default. Each difference is a line on
stdout naming the message (from 0), the subset (from 1) and the key ("#2#airTemperature": the second
in its subset), with both values and, for numbers, the absolute and relative difference (relative to
the larger of the two). A missing value differs from any value; texts are compared without their
trailing blanks; a different number of messages is a difference too. -A and -R apply to the numbers
of scaled elements (bufr_compare's doubles): integers, codes and flags are compared exactly.
Byte-identical messages are equal without their data being decoded. Exits with 0 when the files are
equal, 1 when they differ or a message cannot be read (named on stderr)."""
DESCRIPTORS = "unexpandedDescriptors"
COMPARED_HEADERS = (*_keys.HEADER_KEYS, DESCRIPTORS)
# Subsets decoded per call, at most (or one message): few calls, and columns of bounded size.
_BLOCK_SUBSETS = 16384
_MISSING = "MISSING"


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    compare = commands.add_parser(
        "compare",
        parents=[parent],
        help="two files, message by message, a line per difference",
        description=DESCRIPTION,
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    compare.add_argument("file1", metavar="FILE1", help='the first file, "-" for standard input')
    compare.add_argument("file2", metavar="FILE2", help="the file compared with it")
    compare.add_argument(
        "-A",
        dest="absolute",
        type=float,
        metavar="ABS",
        help="numbers differ when they are more than ABS apart (default 0, as bufr_compare -A)",
    )
    compare.add_argument(
        "-R",
        dest="relative",
        metavar="REL",
        help="numbers differ when their relative difference exceeds REL; key=REL,all=REL per key "
        "(default all=0, as bufr_compare -R)",
    )
    compare.add_argument(
        "-k", "--keys", metavar="KEY,KEY", help="only these keys (bufr_compare -c); '#2#key' is the second"
    )
    compare.add_argument("-b", dest="skip", metavar="KEY,KEY", help="leave out these keys (as bufr_compare -b)")
    compare.add_argument(
        "--headers",
        action="store_true",
        help="only the header keys of sections 0 to 3, section 4 unread (as bufr_compare -H)",
    )
    compare.set_defaults(run=command_compare)


class Tolerance(NamedTuple):
    """How far apart two numbers of a scaled element may lie, as bufr_compare judges them: integers
    (elements of scale 0, code and flag tables) are compared exactly."""

    absolute: float = 0.0
    #: Relative tolerances by key; "all" for every other key.
    relative: Optional[Dict[str, float]] = None

    @staticmethod
    def parse(absolute: Optional[float], relative: Optional[str]) -> Tolerance:
        if absolute is not None and relative is not None:
            raise UsageError("-A and -R exclude each other (as in bufr_compare): give one")
        if absolute is not None:
            if not absolute >= 0:
                raise UsageError(f"-A {absolute}: give a tolerance of 0 or more")
            return Tolerance(absolute)
        if relative is None:
            return Tolerance()
        found: Dict[str, float] = {}
        for part in relative.split(","):
            key, sign, text = part.rpartition("=")
            try:
                value = float(text)
            except ValueError:
                value = -1.0
            if not value >= 0 or (sign and not key.strip()):
                raise UsageError(f"-R {part!r}: write REL, all=REL or key=REL, REL a number of 0 or more")
            found[key.strip() or "all"] = value
        return Tolerance(relative=found)

    def limits(self, names: Sequence[str]) -> Tuple[float, Optional[float]]:
        """The absolute tolerance and the relative one (None: judged by the absolute one) of a key
        that goes by any of ``names``."""
        if self.relative is None:
            return self.absolute, None
        for name in names:
            if name in self.relative:
                return 0.0, self.relative[name]
        return 0.0, self.relative.get("all", 0.0)


class Side:
    """One of the two files: its bytes, where its messages lie and what their headers say."""

    def __init__(self, name: str, bufr: BufrFile) -> None:
        self.name = name
        self.bufr = bufr
        self.headers = Headers(bufr)
        self._values: Dict[str, List[object]] = {}

    def values(self, key: str) -> List[object]:
        """A header key's value for every message, worked out once."""
        if key not in self._values:
            self._values[key] = self.headers.values(key)
        return self._values[key]

    def raw(self, position: int) -> object:
        offset, length = self.headers.offset[position], self.headers.length[position]
        return self.bufr._data[offset : offset + length]

    def descriptors(self, position: int) -> Tuple[int, ...]:
        return tuple(
            _core.parse(self.bufr._data, self.headers.offset[position], self.headers.length[position]).descriptors
        )


class Comparison:
    """What one run compares, and the lines it has written."""

    def __init__(self, args: argparse.Namespace, out: TextIO) -> None:
        self.out = out
        self.tolerance = Tolerance.parse(args.absolute, args.relative)
        chosen = parse_keys(args.keys, "-k") or None
        self.skipped = set(parse_keys(args.skip, "-b"))
        # Every table's keys take a while to gather: header keys need none of them.
        for name in [key for key in [*(chosen or ()), *self.skipped] if key not in COMPARED_HEADERS]:
            try:
                _keys.check_column_name(name, _keys.known_keys(tables(args)), COMPARED_HEADERS)
            except KeyError as error:
                raise UsageError(str(error)) from None
        self.header_keys = [
            key for key in COMPARED_HEADERS if (chosen is None or key in chosen) and key not in self.skipped
        ]
        data_keys = None if chosen is None else [key for key in chosen if key not in COMPARED_HEADERS]
        self.decodes = not args.headers and data_keys != []
        self.data_keys = data_keys
        self.failures = Failures(named=True)
        self.differing_messages = 0

    def run(self, first: Side, second: Side) -> int:
        empty = [side.name for side in (first, second) if len(side.headers) == 0]
        for name in empty:
            print(f"corvane: {name}: no BUFR message found", file=sys.stderr)
        count = min(len(first.headers), len(second.headers))
        found = len(first.headers) != len(second.headers) or bool(empty)
        if found:
            self.out.write(f"message count: {len(first.headers)} != {len(second.headers)}\n")
        bad = set()
        for side in (first, second):
            for position, error in side.headers.errors.items():
                self.failures.failed(position, side.headers.offset[position], error, side.name)
                bad.add(position)
        # Equal bytes are equal values: only the other pairs are decoded.
        good = [p for p in range(count) if p not in bad and first.raw(p) != second.raw(p)]
        progress = Progress(len(good))
        done = 0
        try:
            for block in _blocks(good, first.values("numberOfSubsets")):
                lines = self.headers(first, second, block)
                if self.decodes:
                    lines += self.data(first, second, block)
                lines.sort(key=lambda line: line[:3])
                self.differing_messages += len({line[0] for line in lines})
                self.out.writelines(line[3] for line in lines)
                done += len(block)
                progress.update(done)
        finally:
            progress.close()
        if self.differing_messages:
            print(f"corvane: {self.differing_messages} of {count} messages differ", file=sys.stderr)
        return DATA_ERROR if found or self.differing_messages or self.failures.count else 0

    def headers(self, first: Side, second: Side, block: List[int]) -> List[Tuple[int, int, int, str]]:
        """The header keys that differ, as (message, 0, key's place, line)."""
        lines = []
        for place, key in enumerate(self.header_keys):
            if key == DESCRIPTORS:
                pairs = [(p, first.descriptors(p), second.descriptors(p)) for p in block]
            else:
                ours, theirs = first.values(key), second.values(key)
                pairs = [(p, ours[p], theirs[p]) for p in block]
            for position, a, b in pairs:
                if a != b:
                    lines.append((position, 0, place, f"message {position} {key}: {_text(a)} != {_text(b)}\n"))
        return lines

    def data(self, first: Side, second: Side, block: List[int]) -> List[Tuple[int, int, int, str]]:
        """The data values that differ, subset by subset, as (message, subset, key's place, line)."""
        ours, theirs = (self.decoded(side, block) for side in (first, second))
        # Each pair's common subsets, row against row; a different count of subsets is a header
        # difference already.
        rows_a, rows_b = _rows(ours, theirs, [first.bufr._entries[p].index for p in block])
        messages, subsets = (_column(ours, True, name, rows_a, ours.info(name)) for name in ("message", "subset"))
        held = set(ours.names), set(theirs.names)
        names = list(dict.fromkeys([*ours.names[2:], *theirs.names[2:]]))
        lines = []
        for place, name in enumerate(names, len(self.header_keys)):
            info = ours.info(name) if name in held[0] else theirs.info(name)
            label = name if name.startswith("#") else f"#{info['rank']}#{name}"
            aliases = (name, label, info["key"])
            if any(alias in self.skipped for alias in aliases):
                continue
            a, b = (
                _column(ours, name in held[0], name, rows_a, info),
                _column(theirs, name in held[1], name, rows_b, info),
            )
            scaled = info["type"] == "float64" and info["scale"] != 0
            absolute, relative = self.tolerance.limits(aliases) if scaled else (0.0, None)
            numeric = info["type"] == "float64"
            for row in np.flatnonzero(_differ(a, b, absolute, relative)):
                message, subset = int(messages[row]), int(subsets[row])
                shown = _values(a[row], b[row], numeric)
                lines.append((message, subset, place, f"message {message} subset {subset} {label}: {shown}\n"))
        return lines

    def decoded(self, side: Side, block: List[int]) -> _core.ColumnTable:
        entries = side.bufr._entries
        table = _core.decode_columns(
            side.bufr._data, [entries[p] for p in block], side.bufr.tables._native, self.data_keys, None
        )
        for error in table.errors:
            self.failures.failed(error.index, error.offset, error.reason, side.name)
        return table


def _blocks(positions: List[int], subsets: List[object]) -> Iterator[List[int]]:
    """The positions in runs of at most _BLOCK_SUBSETS subsets, or of one message."""
    block: List[int] = []
    held = 0
    for position in positions:
        count = int(subsets[position] or 0)  # type: ignore[call-overload]
        if block and held + count > _BLOCK_SUBSETS:
            yield block
            block, held = [], 0
        block.append(position)
        held += count
    if block:
        yield block


def _rows(
    ours: _core.ColumnTable, theirs: _core.ColumnTable, indices: List[int]
) -> Tuple[Optional[np.ndarray], Optional[np.ndarray]]:
    """The rows of ``ours`` and ``theirs`` that hold the same subset of the same message; None for
    both when that is every row of each."""
    wanted = np.asarray(indices, dtype=np.int64)
    starts, counts = [], []
    for table in (ours, theirs):
        message = table.array("message")
        start = np.searchsorted(message, wanted, "left")
        starts.append(start)
        counts.append(np.searchsorted(message, wanted, "right") - start)
    common = np.minimum(*counts)
    if ours.rows == theirs.rows == int(common.sum()):
        return None, None
    within = np.arange(int(common.sum())) - np.repeat(np.cumsum(common) - common, common)
    return np.repeat(starts[0], common) + within, np.repeat(starts[1], common) + within


def _column(
    table: _core.ColumnTable, held: bool, name: str, rows: Optional[np.ndarray], info: ColumnInfo
) -> np.ndarray:
    """A column at ``rows`` (None: all of them); a key that the messages lack, as missing values."""
    if held:
        column = table.array(name)
        return column if rows is None else column[rows]
    count = table.rows if rows is None else len(rows)
    if info["type"] == "float64":
        return np.full(count, np.nan)
    if info["type"] == "int64":
        return np.full(count, _core.MISSING_CODE, dtype=np.int64)
    return np.full(count, None, dtype=object)


def _differ(a: np.ndarray, b: np.ndarray, absolute: float, relative: Optional[float]) -> np.ndarray:
    """Which rows differ: a missing value differs from any value, texts without trailing blanks."""
    # Most columns of most pairs are equal to the bit: one pass tells.
    if a.dtype == b.dtype and a.dtype != object and np.array_equal(a.view(np.int64), b.view(np.int64)):
        return np.zeros(0, dtype=bool)
    if a.dtype != b.dtype:  # one key of different types in the tables of the two messages
        return np.array([_plain(x) != _plain(y) for x, y in zip(a, b)], dtype=bool)
    if a.dtype != np.float64:
        differ = np.asarray(a != b, dtype=bool)
        if a.dtype == object:
            for row in np.flatnonzero(differ):
                differ[row] = _plain(a[row]) != _plain(b[row])
        return differ
    missing = np.isnan(a) | np.isnan(b)
    with np.errstate(invalid="ignore", divide="ignore"):
        apart = np.abs(a - b)
        if relative is None:
            beyond = apart > absolute
        else:
            beyond = (apart > 0) & (apart / np.maximum(np.abs(a), np.abs(b)) > relative)
    return np.where(missing, np.isnan(a) != np.isnan(b), beyond)


def _plain(value: object) -> object:
    if isinstance(value, str):
        return value.rstrip(" ")
    if value is None or value != value or value == _core.MISSING_CODE:
        return None
    return float(value)  # type: ignore[arg-type]


def _text(value: object) -> str:
    if value is None:
        return _MISSING
    if isinstance(value, tuple):
        return " ".join(f"{code:06d}" for code in value)
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, float):
        return number(value)
    return str(value)


def _values(a: object, b: object, numeric: bool) -> str:
    """Both values, and for two numbers (no codes) how far apart they lie."""
    a, b = _plain(a), _plain(b)
    shown = f"{_text(a)} != {_text(b)}"
    if numeric and isinstance(a, float) and isinstance(b, float):
        apart = abs(a - b)
        shown += f" (absolute {apart:.6g}, relative {apart / max(abs(a), abs(b)):.6g})"
    return shown


def command_compare(args: argparse.Namespace, out: TextIO) -> int:
    args.files = [args.file1, args.file2]  # what a failure names
    if args.files.count(STDIN) > 1:
        raise UsageError("standard input (-) can be read once only")
    comparison = Comparison(args, out)
    first, second = (Side(path, open_input(args, path)) for path in args.files)
    return comparison.run(first, second)
