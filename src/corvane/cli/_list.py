"""``corvane ls``: one line per message of every input, as ecCodes' ``bufr_ls`` and ``bufr_count``."""

from __future__ import annotations

import argparse
import csv
import json
from itertools import repeat
from typing import Dict, Iterable, Iterator, List, Optional, Sequence, TextIO

from .. import BufrFile, Message
from .._stream import Window
from ._common import DATA_ERROR, Failures, message_header, streamed, tables
from ._select import CENTRES, TYPICAL, Chosen, Selection, parse_clauses, parse_keys, shown

EXAMPLE = """examples:
  corvane ls synop.bufr
  corvane ls -p bufrHeaderCentre,dataCategory,typicalDate -w dataCategory=0/1 *.bufr
  corvane ls -p WMO_station_id,airTemperature --csv synop.bufr
  cat synop.bufr | corvane ls -n -w bufrHeaderCentre!=ecmf -
"""

KEYS_HELP = (
    "keys to show: header keys by their ecCodes names (bufrHeaderCentre, dataCategory, typicalDate, "
    "numberOfSubsets, ...), typical_datetime, and data keys (airTemperature, data_datetime, "
    "WMO_station_id, ...), whose value is the first row that corvane.read gives for the message"
)
WHERE_HELP = (
    "only the messages where every clause holds: key=a/b is one of the values, key!=a/b none of "
    "them; clauses on header keys choose messages before their data is read"
)


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    ls = commands.add_parser(
        "ls",
        parents=[parent],
        help="one line per message",
        description="One line per message of every file; - reads standard input.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    ls.add_argument("files", nargs="+", metavar="FILE")
    ls.add_argument("-p", "--print", metavar="KEY,KEY", help=KEYS_HELP)
    ls.add_argument("-w", "--where", metavar="KEY=A/B,KEY!=C", help=WHERE_HELP)
    style = ls.add_mutually_exclusive_group()
    style.add_argument("-j", "--json", action="store_true", help="a JSON array, one object per message")
    style.add_argument("--csv", action="store_true", help="comma-separated values")
    style.add_argument("-n", "--count", action="store_true", help="only the number of messages that pass")
    ls.set_defaults(run=command_ls)


class Writer:
    """The lines of ``ls`` in one of its styles: aligned text, CSV or JSON. With several inputs a
    line starts with its file's name (JSON objects always name it)."""

    def __init__(self, out: TextIO, args: argparse.Namespace, keys: List[str]) -> None:
        self.out = out
        self.keys = keys
        self.style = "json" if args.json else "csv" if args.csv else "text"
        self.written = 0
        self.csv = csv.writer(out, lineterminator="\n")
        self.file_width = max(map(len, args.files)) if len(args.files) > 1 else None
        if self.style == "csv":
            self.csv.writerow(self._lead("file") + (keys or HEADER_COLUMNS))
        elif self.style == "json":
            out.write("[")
        elif keys:
            # Times take 19 characters, most values fewer than 8.
            self.widths = [max(len(key), 19 if key in (TYPICAL, "data_datetime") else 8) for key in keys]
            self.aligned = " ".join(f"{{:<{width}}}" for width in self.widths)
            out.write(self._aligned("file", keys))
        else:
            out.write(
                "".join(self._lead("file".ljust(self.file_width or 0) + " "))
                + f"{'index':>6} {'offset':>10} {'ed':>3} {'centre':>6} {'name':<4} {'cat':>4} {'time':<19} "
                f"{'subsets':>7} compressed master\n"
            )

    def _lead(self, name: str) -> List[str]:
        return [] if self.file_width is None else [name]

    def _aligned(self, name: str, cells: Sequence[str]) -> str:
        line = self.aligned.format(*cells)
        return " ".join(self._lead(name.ljust(self.file_width or 0)) + [line]).rstrip() + "\n"

    def write(self, chosen: Chosen) -> None:
        """The lines of the chosen messages of one window of a file."""
        name = chosen.window.bufr.name or "-"
        if not self.keys:
            for message in _messages(chosen):
                self._write_message(chosen.window, name, message)
        elif self.style == "text":
            # Few distinct values per key: each is made a padded text once, and the lines are
            # joined without a Python step per message.
            cells: List[Iterable[str]] = [] if self.file_width is None else [repeat(name.ljust(self.file_width))]
            for key, width in zip(self.keys, self.widths):
                made: Dict[object, str] = {}
                column = chosen.values[key]
                cells.append([made[v] if v in made else made.setdefault(v, shown(v).ljust(width)) for v in column])
            if chosen.positions:
                self.out.write("\n".join(map(str.rstrip, map(" ".join, zip(*cells)))) + "\n")
            self.written += len(chosen.positions)
        else:
            index, first = chosen.headers.index, chosen.window.first_index
            for position, values in chosen.rows(self.keys):
                if self.style == "json":
                    record = {"file": name, "index": first + index[position], **values}
                    record = json.dumps(record, ensure_ascii=False)
                    self.out.write(("," if self.written else "") + "\n" + record)
                else:
                    cells = ["" if values[key] is None else values[key] for key in self.keys]
                    self.csv.writerow(self._lead(name) + cells)
                self.written += 1

    def _write_message(self, window: Window, name: str, message: Message) -> None:
        header = message_header(message, window)
        if self.style == "json":
            record = json.dumps({"file": name, **header}, ensure_ascii=False)
            self.out.write(("," if self.written else "") + "\n" + record)
        elif self.style == "csv":
            cells = ["" if cell is None else cell for cell in header.values()]
            self.csv.writerow(self._lead(name) + cells)
        else:
            self.out.write("".join(self._lead(name.ljust(self.file_width or 0) + " ")) + default_line(window, message))
        self.written += 1

    def close(self) -> None:
        if self.style == "json":
            self.out.write("\n]\n")


# The fields of message_header, for the CSV header line.
HEADER_COLUMNS = [
    "index",
    "offset",
    "length",
    "edition",
    "centre",
    "subcentre",
    "master_version",
    "local_version",
    "data_category",
    "subsets",
    "compressed",
    "time",
    "error",
]


def _messages(chosen: Chosen) -> Iterator[Message]:
    """The chosen messages as Message objects, for the lines that show what they all say."""
    wanted = set(chosen.positions)
    return (message for position, message in enumerate(chosen.window.bufr.headers()) if position in wanted)


def default_line(window: Window, message: Message) -> str:
    """The line of a message without -p: its place and what sections 0 to 3 say."""
    index, offset = window.first_index + message.index, window.first_offset + message.offset
    if message.edition is None:
        return f"{index:>6} {offset:>10}   - {'-':>6} {'-':<4} {'-':>4} {'-':<19} {'-':>7} {'-':<10} -\n"
    moment = message.time.isoformat(sep=" ") if message.time else "invalid"
    return (
        f"{index:>6} {offset:>10} {message.edition:>3} {message.centre:>6} "
        f"{CENTRES.get(message.centre, '-'):<4} {message.data_category:>4} {moment:<19} {message.subsets:>7} "
        f"{'yes' if message.compressed else 'no':<10} {_master(window.bufr, message)}\n"
    )


def _master(bufr: BufrFile, message: Message) -> str:
    """The master version; "50->46" when it is decoded with the newest version at hand."""
    used = bufr.tables.used(message)
    return f"{message.master_version}->{used.master_version}" if used.fallback else str(message.master_version)


def command_ls(args: argparse.Namespace, out: TextIO) -> int:
    keys = parse_keys(args.print, "-p")
    selection = Selection(tables(args), keys, parse_clauses(args.where))
    failures = Failures(named=len(args.files) > 1)
    writer: Optional[Writer] = None
    passed = 0
    for window in streamed(args, args.files):
        # The header line waits for a file that opens: a path that does not leaves stdout empty.
        if writer is None and not args.count:
            writer = Writer(out, args, keys)
        chosen = selection.select(window, failures, keep_bad=not (keys or selection.clauses))
        passed += sum(position not in chosen.headers.errors for position in chosen.positions)
        if writer is not None:
            writer.write(chosen)
    if args.count:
        out.write(f"{passed}\n")
    else:
        (writer or Writer(out, args, keys)).close()
    return failures.exit_status() or (DATA_ERROR if getattr(args, "empty", False) else 0)
