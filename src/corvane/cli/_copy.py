"""``corvane copy``: chosen messages byte for byte, into one file or split by key, as ecCodes'
``bufr_copy``."""

from __future__ import annotations

import argparse
import re
from typing import BinaryIO, Dict, List, TextIO

from ._common import DATA_ERROR, Failures, UsageError, streamed, tables
from ._list import WHERE_HELP
from ._select import CENTRE_KEY, CENTRES, Selection, Values, parse_clauses, shown

EXAMPLE = """examples:
  corvane copy -w dataCategory=0 in.bufr -o synop.bufr
  corvane copy a.bufr b.bufr -o "[bufrHeaderCentre]_[dataCategory].bufr"
"""
# A key whose value names the output file of a message.
_SPLIT = re.compile(r"\[([^\[\]]+)\]")


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    copy = commands.add_parser(
        "copy",
        parents=[parent],
        help="chosen messages byte for byte, split by key",
        description="Copies the messages that pass -w, as they are in their files; - reads standard input.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    copy.add_argument("files", nargs="+", metavar="IN")
    copy.add_argument(
        "-o",
        "--output",
        required=True,
        metavar="OUT",
        help="the file written; each [key] in it is replaced by the message's value of that key, one file per value",
    )
    copy.add_argument("-w", "--where", metavar="KEY=A/B,KEY!=C", help=WHERE_HELP)
    copy.set_defaults(run=command_copy)


class Outputs:
    """The files written, each opened (and emptied) when its first message comes."""

    def __init__(self, template: str) -> None:
        self.template = template
        self.keys: List[str] = _SPLIT.findall(template)
        self.files: Dict[str, BinaryIO] = {}

    def path(self, values: Values) -> str:
        if not self.keys:
            return self.template

        def part(found: re.Match[str]) -> str:
            key = found.group(1)
            value = values[key]
            # Centres by their abbreviations, as bufr_copy names its files.
            if key == CENTRE_KEY and isinstance(value, int) and value in CENTRES:
                return CENTRES[value]
            return "missing" if value is None else shown(value)

        return _SPLIT.sub(part, self.template)

    def write(self, values: Values, data: bytes) -> None:
        path = self.path(values)
        out = self.files.get(path)
        if out is None:
            try:
                out = self.files[path] = open(path, "wb")
            except OSError as error:
                raise UsageError(f"{path}: {error.strerror or error}") from None
        out.write(data)

    def close(self) -> None:
        for out in self.files.values():
            out.close()


def command_copy(args: argparse.Namespace, out: TextIO) -> int:
    outputs = Outputs(args.output)
    selection = Selection(tables(args), outputs.keys, parse_clauses(args.where))
    failures = Failures(named=len(args.files) > 1)
    try:
        for window in streamed(args, args.files):
            data = window.bufr._data
            chosen = selection.select(window, failures)
            offset, length = chosen.headers.offset, chosen.headers.length
            for position, values in chosen.rows(outputs.keys):
                outputs.write(values, data[offset[position] : offset[position] + length[position]])
    finally:
        outputs.close()
    return failures.exit_status() or (DATA_ERROR if getattr(args, "empty", False) else 0)
