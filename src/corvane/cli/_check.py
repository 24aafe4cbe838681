"""``corvane check``: every message checked as far as it can be read, a line per problem."""

from __future__ import annotations

import argparse
import sys
from typing import List, TextIO

from .. import Message
from ._common import DATA_ERROR, Progress, streamed

EXAMPLE = """examples:
  corvane check archive/*.bufr
  corvane check - < bulletin.bufr
"""
# Section 4 is padded to whole octets (even ones in edition 3): more than this is data that no
# descriptor reads.
_PADDING_BITS = 15


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    check = commands.add_parser(
        "check",
        parents=[parent],
        help="every message checked, a line per problem",
        description="Checks each message as far as it can be read: its framing and sections, the tables "
        "it names, section 4 decoded to its last value, and the bits left over after it. Exits with 1 "
        "when any message has a problem.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    check.add_argument("files", nargs="+", metavar="FILE")
    check.set_defaults(run=command_check)


def problems(message: Message) -> List[str]:
    """What is wrong with a message of a file opened with errors="keep", in the order found."""
    found = []
    if message._metadata is not None and message.tables_fallback:
        found.append(f"tables: master version {message.master_version} is newer than any at hand ({message.tables})")
    if message.error is not None:
        found.append(message.error)
    elif message._decoded is not None and message._decoded.bits_left > _PADDING_BITS:
        found.append(f"{message._decoded.bits_left} bits of section 4 are left after the last value")
    return found


def command_check(args: argparse.Namespace, out: TextIO) -> int:
    bad = checked = 0
    for window in streamed(args, args.files):
        bufr = window.bufr
        progress = Progress(len(bufr))
        try:
            for index in range(len(bufr)):
                message = bufr[index]
                checked += 1
                found = problems(message)
                where = f"message {window.first_index + index} at byte {window.first_offset + message.offset}"
                for problem in found:
                    out.write(f"{bufr.name}: {where}: {problem}\n")
                bad += bool(found)
                progress.update(index + 1)
        finally:
            progress.close()
    if bad:
        print(f"corvane: {bad} of {checked} messages have problems", file=sys.stderr)
        return DATA_ERROR
    return 0
