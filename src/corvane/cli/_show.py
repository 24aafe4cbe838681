"""``corvane get`` and ``corvane keys``: chosen values of a file, and the keys it holds."""

from __future__ import annotations

import argparse
import csv
import sys
from typing import Any, Callable, Dict, List, Optional, Sequence, TextIO

from .. import BufrFile, _keys
from .._core import MISSING_CODE
from .._read import Plan, pandas_module
from .._records import MessageError
from ._common import DATA_ERROR, Progress, UsageError, number, open_input, tables

# Messages decoded per call in `get`: few enough calls to cost nothing, enough to move the bar.
_GET_BLOCK = 512

KEYS_EXAMPLE = """examples:
  corvane keys synop.bufr
  corvane keys temp.bufr --csv > keys.csv
"""
GET_EXAMPLE = """examples:
  corvane get synop.bufr -k WMO_station_id,data_datetime,airTemperature
  corvane get temp.bufr -k stationNumber,pressure,airTemperature   # a row per level
  corvane get synop.bufr -k '#2#pressure' --csv > pressures.csv
"""


def add_parsers(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    raw = argparse.RawDescriptionHelpFormatter
    get = commands.add_parser(
        "get", parents=[parent], help="chosen keys, the rows of corvane.read", epilog=GET_EXAMPLE, formatter_class=raw
    )
    get.add_argument("file", metavar="FILE")
    get.add_argument(
        "-k",
        "--keys",
        required=True,
        metavar="KEY,KEY",
        help='keys such as stationNumber,airTemperature; "#2#key" is the second occurrence',
    )
    get.add_argument("--csv", action="store_true", help="comma-separated values")
    get.set_defaults(run=command_get)
    keys = commands.add_parser(
        "keys",
        parents=[parent],
        help="the keys a file holds, with unit and count",
        description="Every data key of the file in the order first met: its unit, how many values of it "
        "are present, and how many times at most a subset holds it.",
        epilog=KEYS_EXAMPLE,
        formatter_class=raw,
    )
    keys.add_argument("file", metavar="FILE")
    keys.add_argument("--csv", action="store_true", help="comma-separated values")
    keys.set_defaults(run=command_keys)


def _opened(args: argparse.Namespace) -> Optional[BufrFile]:
    bufr = open_input(args, args.file)
    if len(bufr) == 0:
        print(f"corvane: {args.file}: no BUFR message found", file=sys.stderr)
        return None
    return bufr


def command_get(args: argparse.Namespace, out: TextIO) -> int:
    keys = [key.strip() for key in args.keys.split(",") if key.strip()]
    if not keys:
        raise UsageError("-k needs at least one key, such as -k stationNumber,airTemperature")
    try:
        plan = Plan.make(keys, None, False, False, lambda: _keys.known_keys(tables(args)))
    except KeyError as error:
        raise UsageError(str(error)) from None
    pandas = pandas_module()
    bufr = _opened(args)
    if bufr is None:
        return DATA_ERROR
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
            errors: List[MessageError] = []
            frame = plan.frame(pandas, bufr, range(start, min(start + _GET_BLOCK, count)), errors)
            for error in errors:
                print(f"corvane: message {error.index} at byte {error.offset}: {error.reason}", file=sys.stderr)
            failed += len(errors)
            for row in zip(*(_cells(pandas, frame[name]) for name in header)):
                emit(row)
            progress.update(min(start + _GET_BLOCK, count))
    finally:
        progress.close()
    if failed:
        print(f"corvane: {failed} of {count} messages failed", file=sys.stderr)
        return DATA_ERROR
    return 0


def _cells(pandas: Any, column: Any) -> List[object]:
    """A frame's column as plain Python values, None where missing."""
    return [
        None if pandas.isna(cell) else cell.isoformat() if hasattr(cell, "isoformat") else cell
        for cell in column.tolist()
    ]


def _cell(cell: object) -> str:
    if cell is None:
        return "-"
    if isinstance(cell, float):
        return number(cell)
    return str(cell)


def command_keys(args: argparse.Namespace, out: TextIO) -> int:
    bufr = _opened(args)
    if bufr is None:
        return DATA_ERROR
    table = bufr.table()
    for error in table.errors:
        print(f"corvane: message {error.index} at byte {error.offset}: {error.reason}", file=sys.stderr)
    counts: Dict[str, List[object]] = {}
    for name in table.names[2:]:
        info = table.info(name)
        values = table.array(name)
        if values.dtype.kind == "f":
            present = int((values == values).sum())
        elif values.dtype.kind == "i":
            present = int((values != MISSING_CODE).sum())
        else:
            present = sum(value is not None for value in values)
        entry = counts.setdefault(info["key"], [info["unit"] or "", 0, 0])
        entry[1] = int(entry[1]) + present
        entry[2] = max(int(entry[2]), info["rank"])
    rows = [[key, unit, present, most] for key, (unit, present, most) in counts.items()]
    if args.csv:
        writer = csv.writer(out, lineterminator="\n")
        writer.writerow(["key", "unit", "present", "most_per_subset"])
        writer.writerows(rows)
    else:
        width = max([len(str(row[0])) for row in rows] + [3])
        out.write(f"{'key':<{width}}  {'present':>9}  {'per subset':>10}  unit\n")
        for key, unit, present, most in rows:
            out.write(f"{key:<{width}}  {present:>9}  {most:>10}  {unit}\n")
    if table.errors:
        print(f"corvane: {len(table.errors)} of {len(bufr)} messages failed", file=sys.stderr)
        return DATA_ERROR
    return 0
