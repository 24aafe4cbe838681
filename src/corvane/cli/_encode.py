"""``corvane encode``: CSV or JSON Lines records written as BUFR, one subset per record."""

from __future__ import annotations

import argparse
import csv
import datetime
import json
from typing import Dict, Iterator, List, Optional, TextIO, Union

from .._encode import encode
from .._write import write
from ._common import UsageError, tables

EXAMPLE = """examples:
  corvane encode --descriptors 307080 --centre 98 synop.csv -o synop.bufr
  corvane encode --descriptors 301090,12101 a.jsonl b.jsonl -o out.bufr --subsets-per-message 100

A CSV file has a header row of keys (ecCodes names, "#2#key" for the second occurrence); an empty
cell is missing, and a cell that reads as a number is one. A JSON Lines file has one object per
line, whose lists give every occurrence of a key that repeats (and so the delayed replication
counts).
"""

Record = Dict[str, object]


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    verb = commands.add_parser(
        "encode",
        parents=[parent],
        help="CSV or JSON Lines records as BUFR, a subset per record",
        description="Writes the records of each input as edition-4 BUFR: one message per file, or per "
        "--subsets-per-message records.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    verb.add_argument("files", nargs="+", metavar="IN", help="records.csv or records.jsonl")
    verb.add_argument("-o", "--output", required=True, metavar="OUT", help="the BUFR file written")
    verb.add_argument(
        "--descriptors", required=True, metavar="CODES", help="the unexpanded descriptors, such as 307080 or 1001,1002"
    )
    verb.add_argument("--subsets-per-message", type=int, metavar="N", help="at most N records a message")
    for name in ("centre", "subcentre", "data-category", "international-subcategory", "local-subcategory"):
        verb.add_argument(f"--{name}", type=int, metavar="N", help="its field of section 1")
    verb.add_argument("--master-version", type=int, metavar="N", help="default: the newest the tables have")
    verb.add_argument("--time", metavar="YYYY-MM-DDTHH:MM:SS", help="the typical time (default: now, UTC)")
    verb.set_defaults(run=command_encode)


def _descriptors(text: str) -> List[int]:
    try:
        return [int(code) for code in text.split(",")]
    except ValueError:
        raise UsageError(f"--descriptors {text}: give six-digit codes separated by commas, such as 307080") from None


def _cell(text: str) -> Union[int, float, str, None]:
    if text == "":
        return None
    for number in (int, float):
        try:
            return number(text)
        except ValueError:
            pass
    return text


def _records(path: str) -> Iterator[Record]:
    try:
        with open(path, newline="", encoding="utf-8") as stream:
            if path.endswith(".csv"):
                for row in csv.DictReader(stream):
                    yield {key: _cell(value) for key, value in row.items()}
                return
            for number, line in enumerate(stream, 1):
                if not line.strip():
                    continue
                record = json.loads(line)
                if not isinstance(record, dict):
                    raise UsageError(f"{path}:{number}: a line holds one JSON object")
                yield record
    except OSError as error:
        raise UsageError(f"{path}: {error.strerror or error}") from None
    except json.JSONDecodeError as error:
        raise UsageError(f"{path}: no JSON Lines ({error}); name a CSV file *.csv") from None


def command_encode(args: argparse.Namespace, out: TextIO) -> int:
    descriptors = _descriptors(args.descriptors)
    per = args.subsets_per_message
    if per is not None and per < 1:
        raise UsageError(f"--subsets-per-message {per}: give 1 or more")
    time: Optional[datetime.datetime] = None
    if args.time:
        try:
            time = datetime.datetime.fromisoformat(args.time)
        except ValueError:
            raise UsageError(f"--time {args.time}: give YYYY-MM-DDTHH:MM:SS") from None
    header = {
        name: getattr(args, name)
        for name in (
            "centre",
            "subcentre",
            "data_category",
            "international_subcategory",
            "local_subcategory",
            "master_version",
        )
        if getattr(args, name) is not None
    }
    chosen = tables(args)
    messages: List[bytes] = []
    for path in args.files:
        records = list(_records(path))
        for start in range(0, len(records), per or max(len(records), 1)):
            chunk = records[start : start + per] if per else records
            messages.append(encode(descriptors, chunk, time=time, tables=chosen, **header))
    write(args.output, messages)
    return 0
