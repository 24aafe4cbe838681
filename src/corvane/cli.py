"""The ``corvane`` command: list, dump and extract the messages of a BUFR file.

    corvane ls FILE                      one line per message
    corvane dump FILE [-m N] [--json]    every value, by message and subset
    corvane get FILE -k KEY,KEY [--csv]  one row per subset
    corvane tables                       where the tables come from
    corvane --extra-tables DIR ...       tables of DIR first (local tables), also from $CORVANE_TABLES

`ls` reads sections 0 to 3 only: it lists messages whose data cannot be decoded as good.
Exit status: 0 when every message decoded (for `ls`: was read), 1 when some did not (a summary
goes to stderr) or the data could not be read at all, 2 for a usage error (including a file or
table path that cannot be read). Every failure is one line on stderr.
"""

from __future__ import annotations

import argparse
import csv
import json
import math
import os
import sys
import time
from typing import TYPE_CHECKING, Callable, Dict, Iterable, Iterator, List, Optional, Sequence, TextIO, Tuple

from . import BufrFile, Message, Tables, Value
from . import open as open_bufr
from ._core import MISSING_CODE
from ._tables import ENVIRONMENT

if TYPE_CHECKING:
    import numpy

DATA_ERROR = 1
USAGE_ERROR = 2
# Units that say nothing beside the value.
_PLAIN_UNITS = (None, "Numeric", "CCITT IA5")


class Progress:
    """A bar on stderr for work that has run a couple of seconds, when stderr is a terminal."""

    DELAY = 2.0
    INTERVAL = 0.1

    def __init__(self, total: int, stream: TextIO = sys.stderr) -> None:
        self.total = total
        self.stream = stream
        self.enabled = stream.isatty()
        self.start = time.monotonic()
        self.next_draw = self.start + self.DELAY
        self.drawn = False

    def update(self, done: int) -> None:
        if not self.enabled:
            return
        now = time.monotonic()
        if now < self.next_draw:
            return
        self.next_draw = now + self.INTERVAL
        width = 30
        filled = width * done // max(self.total, 1)
        self.stream.write(f"\r[{'#' * filled}{'.' * (width - filled)}] {done}/{self.total} messages")
        self.stream.flush()
        self.drawn = True

    def close(self) -> None:
        if self.drawn:
            self.stream.write("\r\033[K")
            self.stream.flush()


class Failures:
    """Counts the messages that failed; the summary goes to stderr at the end."""

    def __init__(self) -> None:
        self.count = 0
        self.seen = 0
        self.first: Optional[str] = None

    def check(self, message: Message) -> bool:
        """Whether the message is good; a bad one is counted and reported on stderr."""
        self.seen += 1
        if message.error is None:
            return True
        self.count += 1
        print(f"corvane: message {message.index} at byte {message.offset}: {message.error}", file=sys.stderr)
        return False

    def exit_status(self) -> int:
        if self.count:
            print(f"corvane: {self.count} of {self.seen} messages failed", file=sys.stderr)
            return 1
        return 0


def _messages(
    bufr: BufrFile, failures: Failures, messages: Optional[Iterable[Message]] = None
) -> Iterator[Tuple[Message, bool]]:
    progress = Progress(len(bufr))
    try:
        for done, message in enumerate(bufr if messages is None else messages, 1):
            yield message, failures.check(message)
            progress.update(done)
    finally:
        progress.close()


def _number(value: float) -> str:
    return str(int(value)) if value.is_integer() and abs(value) < 1e15 else repr(value)


def _shown(value: Value) -> str:
    shown = value.value
    if shown is None:
        return "missing"
    if isinstance(shown, str):
        return repr(shown)
    return _number(shown)


def _json_value(value: Value) -> Dict[str, object]:
    number = value.value
    if isinstance(number, float) and not math.isfinite(number):
        number = None
    return {
        "code": f"{value.code:06d}",
        "key": value.key,
        "value": number,
        "unit": value.unit,
        "meaning": value.meaning,
    }


def _message_header(message: Message) -> Dict[str, object]:
    return {
        "index": message.index,
        "offset": message.offset,
        "length": message.length,
        "edition": message.edition,
        "centre": message.centre,
        "subcentre": message.subcentre,
        "master_version": message.master_version,
        "local_version": message.local_version,
        "data_category": message.data_category,
        "subsets": message.subsets,
        "compressed": message.compressed,
        "time": message.time.isoformat() if message.time else None,
        "error": message.error,
    }


def _by_subset(values: List[Value]) -> Dict[int, List[Value]]:
    groups: Dict[int, List[Value]] = {}
    for value in values:
        groups.setdefault(value.subset, []).append(value)
    return groups


def command_ls(bufr: BufrFile, args: argparse.Namespace, out: TextIO) -> int:
    failures = Failures()
    out.write(
        f"{'index':>6} {'offset':>10} {'ed':>3} {'centre':>6} {'cat':>4} {'time':<19} "
        f"{'subsets':>7} compressed master\n"
    )
    for message, _ in _messages(bufr, failures, bufr.headers()):
        if message.edition is None:
            out.write(f"{message.index:>6} {message.offset:>10}   - {'-':>6} {'-':>4} {'-':<19} {'-':>7} {'-':<10} -\n")
            continue
        moment = message.time.isoformat(sep=" ") if message.time else "invalid"
        out.write(
            f"{message.index:>6} {message.offset:>10} {message.edition:>3} {message.centre:>6} "
            f"{message.data_category:>4} {moment:<19} {message.subsets:>7} "
            f"{'yes' if message.compressed else 'no':<10} {_master(bufr, message)}\n"
        )
    return failures.exit_status()


def _master(bufr: BufrFile, message: Message) -> str:
    """The master version; "50->46" when it is decoded with the newest version at hand."""
    used = bufr.tables.used(message)
    return f"{message.master_version}->{used.master_version}" if used.fallback else str(message.master_version)


def command_dump(bufr: BufrFile, args: argparse.Namespace, out: TextIO) -> int:
    failures = Failures()
    chosen = _chosen_messages(bufr, args.message, failures)
    if args.json:
        out.write("[")
        for count, (message, good) in enumerate(chosen):
            entry = _message_header(message)
            if good:
                groups = _by_subset(message.values())
                entry["values"] = [[_json_value(v) for v in groups.get(s, [])] for s in range(1, message.subsets + 1)]
            out.write(("," if count else "") + "\n" + json.dumps(entry, ensure_ascii=False))
        out.write("\n]\n")
        return failures.exit_status()
    for message, good in chosen:
        out.write(f"message {message.index} at byte {message.offset}")
        if not good:
            out.write(f": error: {message.error}\n")
            continue
        out.write(f": edition {message.edition}, centre {message.centre}, {message.subsets} subsets\n")
        for subset, values in _by_subset(message.values()).items():
            out.write(f"  subset {subset}\n")
            for value in values:
                shows_unit = value.value is not None and value.unit not in _PLAIN_UNITS
                unit = f" {value.unit}" if shows_unit else ""
                meaning = f"  ({value.meaning})" if value.meaning else ""
                out.write(f"    {value.code:06d} {value.key} = {_shown(value)}{unit}{meaning}\n")
    return failures.exit_status()


def _chosen_messages(bufr: BufrFile, index: Optional[int], failures: Failures) -> Iterator[Tuple[Message, bool]]:
    if index is None:
        yield from _messages(bufr, failures)
        return
    if not 0 <= index < len(bufr):
        raise _UsageError(f"-m {index}: the file has messages 0 to {len(bufr) - 1}")
    message = bufr[index]
    yield message, failures.check(message)


# Messages decoded per call in `get`: few enough calls to cost nothing, enough to move the bar.
_GET_BLOCK = 512


def command_get(bufr: BufrFile, args: argparse.Namespace, out: TextIO) -> int:
    keys = [key.strip() for key in args.keys.split(",") if key.strip()]
    if not keys:
        raise _UsageError("-k needs at least one key, such as -k stationNumber,airTemperature")
    header = ["message", "subset"] + keys
    if args.csv:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(header)
        emit: Callable[[Sequence[object]], None] = lambda row: writer.writerow(
            ["" if cell is None else _cell(cell) for cell in row]
        )
    else:
        widths = [max(len(name), 8) for name in header]
        out.write(" ".join(name.rjust(width) for name, width in zip(header, widths)) + "\n")
        emit = lambda row: out.write(" ".join(_cell(cell).rjust(width) for cell, width in zip(row, widths)) + "\n")
    count = len(bufr)  # errors='keep': every message counts
    failed = 0
    progress = Progress(count)
    try:
        for start in range(0, count, _GET_BLOCK):
            table = bufr.table(keys, messages=range(start, min(start + _GET_BLOCK, count)))
            for error in table.errors:
                print(f"corvane: message {error.index} at byte {error.offset}: {error.reason}", file=sys.stderr)
            failed += len(table.errors)
            present = set(table.names)
            columns = [table.array("message").tolist(), table.array("subset").tolist()]
            columns += [_shown_column(table.array(key)) if key in present else [None] * table.rows for key in keys]
            for row in zip(*columns):
                emit(row)
            progress.update(min(start + _GET_BLOCK, count))
    finally:
        progress.close()
    if failed:
        print(f"corvane: {failed} of {count} messages failed", file=sys.stderr)
        return 1
    return 0


def _shown_column(values: "numpy.ndarray") -> List[object]:
    """A column's cells as Python values, None where missing."""
    if values.dtype.kind == "f":
        return [None if value != value else value for value in values.tolist()]
    if values.dtype.kind == "i":
        return [None if value == MISSING_CODE else value for value in values.tolist()]
    return values.tolist()


def _cell(cell: object) -> str:
    if cell is None:
        return "-"
    if isinstance(cell, float):
        return _number(cell)
    return str(cell)


class _UsageError(Exception):
    pass


def _parser() -> argparse.ArgumentParser:
    parser = argparse.ArgumentParser(prog="corvane", description="Read BUFR weather data files.")
    parser.add_argument(
        "--tables",
        metavar="PATH",
        help="an ecCodes definitions root, ecCodes table directory or WMO BUFR4 "
        "directory (default: the tables that ship with corvane)",
    )
    parser.add_argument(
        "--extra-tables",
        metavar="DIR",
        action="append",
        help="a directory of ecCodes table files or WMO BUFR4 CSV files whose definitions "
        f"come first, such as local tables; may be repeated (default: ${ENVIRONMENT})",
    )
    commands = parser.add_subparsers(dest="command", metavar="COMMAND", required=True)
    ls = commands.add_parser("ls", help="one line per message")
    ls.add_argument("file", metavar="FILE")
    dump = commands.add_parser("dump", help="every value, by message and subset")
    dump.add_argument("file", metavar="FILE")
    dump.add_argument("-m", "--message", type=int, metavar="N", help="only message N (from 0)")
    dump.add_argument("--json", action="store_true", help="JSON, one object per message")
    get = commands.add_parser("get", help="chosen keys, one row per subset")
    get.add_argument("file", metavar="FILE")
    get.add_argument(
        "-k",
        "--keys",
        required=True,
        metavar="KEY,KEY",
        help='keys such as stationNumber,airTemperature; "#2#key" is the second occurrence',
    )
    get.add_argument("--csv", action="store_true", help="comma-separated values")
    commands.add_parser("tables", help="where the tables come from")
    return parser


def _tables(args: argparse.Namespace) -> Tables:
    try:
        return Tables(args.tables, extra=args.extra_tables)
    except (OSError, ValueError) as error:
        raise _UsageError(str(error)) from None


def _open(args: argparse.Namespace) -> BufrFile:
    try:
        return open_bufr(args.file, tables=_tables(args), errors="keep")
    except (OSError, ValueError) as error:
        raise _UsageError(str(error)) from None


def command_tables(tables: Tables, args: argparse.Namespace, out: TextIO) -> int:
    out.write(tables.describe() + "\n")
    sources = tables.sources()
    if sources:
        out.write(sources)
        newest = tables.newest_master_version()
        if newest is not None:
            out.write(f"a message of a newer master version than {newest} is decoded with version {newest}\n")
    if tables.extra:
        origin = "--extra-tables" if args.extra_tables else ENVIRONMENT
        out.write(f"extra tables, before these ({origin}): {', '.join(tables.extra)}\n")
    return 0


def _run(args: argparse.Namespace, out: TextIO) -> int:
    if args.command == "tables":
        return command_tables(_tables(args), args, out)
    bufr = _open(args)
    if len(bufr) == 0:
        print(f"corvane: {args.file}: no BUFR message found", file=sys.stderr)
        return 1
    command = {"ls": command_ls, "dump": command_dump, "get": command_get}[args.command]
    return command(bufr, args, out)


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line; returns the exit status."""
    args = _parser().parse_args(argv)
    try:
        return _run(args, sys.stdout)
    except _UsageError as error:
        print(f"corvane: {error}", file=sys.stderr)
        return USAGE_ERROR
    except BrokenPipeError:
        # The reader went away (corvane dump FILE | head): stop quietly, and keep the
        # interpreter from flushing into the closed pipe at exit.
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        return 0
    except KeyboardInterrupt:
        return 130
    except MemoryError as error:
        print(f"corvane: {error or f'{_subject(args)}: out of memory'}", file=sys.stderr)
        return DATA_ERROR
    except Exception as error:  # the data or the system failed: one line, not a traceback
        print(f"corvane: {_subject(args)}: {type(error).__name__}: {error}", file=sys.stderr)
        return DATA_ERROR


def _subject(args: argparse.Namespace) -> str:
    return getattr(args, "file", None) or args.command


if __name__ == "__main__":
    sys.exit(main())
