"""The ``corvane`` command: list, copy, dump, extract and compare the messages of BUFR files, and write them.

    corvane ls FILE... [-p KEYS] [-w WHERE] [-j|--csv|-n]   one line per message
    corvane copy IN... -o OUT [-w WHERE]                 chosen messages, split by [key] in OUT
    corvane convert IN... -o OUT.parquet|.csv|.jsonl|.geojson [-k KEYS] [-w WHERE] [--flat]
                                                         the rows of corvane.read, into one file
    corvane dump FILE [-m N] [-S S] [-j|--flat|--csv]    every value, by message and subset; as
                                                         bufr_dump -jf or -p, or a CSV line per value
    corvane get FILE -k KEY,KEY [--csv]                  the rows of corvane.read
    corvane keys FILE [--csv]                            the keys a file holds
    corvane check FILE...                                every message checked, a line per problem
    corvane compare FILE1 FILE2 [-A ABS|-R REL] [-k KEYS] [-b KEYS] [--headers]
                                                         message i against message i, a line per difference
    corvane encode --descriptors CODES IN.csv|IN.jsonl... -o OUT   records as BUFR, a subset each
    corvane tables                                       where the tables come from

--tables and --extra-tables go before or after the verb; $CORVANE_TABLES names extra tables too.
`ls` and `copy` read sections 0 to 3 only, unless a key needs the data. Exit status: 0 when every
message was read, 1 when some were not (a summary goes to stderr) or the data could not be read
at all (`compare`: or the files differ), 2 for a usage error (including a file or table path that
cannot be read). Every failure is one line on stderr.
"""

from __future__ import annotations

import argparse
import os
import sys
from typing import List, NoReturn, Optional, Sequence, TextIO

from .. import __version__
from .._tables import ENVIRONMENT
from . import _check, _compare, _convert, _copy, _dump, _encode, _list, _show
from ._common import DATA_ERROR, USAGE_ERROR, UsageError, extra_tables_origin, tables

__all__ = ["main"]

TABLES_EXAMPLE = """examples:
  corvane tables
  corvane tables --extra-tables ./local-tables
"""


def _shared(late: bool) -> argparse.ArgumentParser:
    """The options every verb takes, before the verb or after it. After it they land under other
    names, so that the verb's parser does not overwrite what came before it."""
    parent = argparse.ArgumentParser(add_help=False)
    prefix = "late_" if late else ""
    default = argparse.SUPPRESS if late else None
    parent.add_argument(
        "--tables",
        dest=prefix + "tables",
        default=default,
        metavar="PATH",
        help="an ecCodes definitions root, ecCodes table directory or WMO BUFR4 "
        "directory (default: the tables that ship with corvane)",
    )
    parent.add_argument(
        "--extra-tables",
        dest=prefix + "extra_tables",
        default=default,
        metavar="DIR",
        action="append",
        help="a directory of ecCodes table files or WMO BUFR4 CSV files whose definitions "
        f"come first, such as local tables; may be repeated (default: ${ENVIRONMENT})",
    )
    return parent


class _Parser(argparse.ArgumentParser):
    """Usage errors in one line, with where to find the usage."""

    def error(self, message: str) -> NoReturn:
        self.exit(USAGE_ERROR, f"{self.prog}: {message} (see {self.prog} --help)\n")


def parser() -> argparse.ArgumentParser:
    """The parser of the whole command line."""
    top = _Parser(
        prog="corvane",
        description="Read BUFR weather data files.",
        parents=[_shared(late=False)],
        epilog="corvane VERB --help shows the options and an example of each verb.",
    )
    top.add_argument("--version", action="version", version=f"corvane {__version__}")
    commands = top.add_subparsers(dest="command", metavar="VERB", required=True, parser_class=_Parser)
    late = _shared(late=True)
    _list.add_parser(commands, late)
    _copy.add_parser(commands, late)
    _convert.add_parser(commands, late)
    _check.add_parser(commands, late)
    _compare.add_parser(commands, late)
    _dump.add_parser(commands, late)
    _encode.add_parser(commands, late)
    _show.add_parsers(commands, late)
    verb = commands.add_parser(
        "tables",
        parents=[late],
        help="where the tables come from",
        epilog=TABLES_EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    verb.set_defaults(run=command_tables)
    return top


def command_tables(args: argparse.Namespace, out: TextIO) -> int:
    chosen = tables(args)
    out.write(chosen.describe() + "\n")
    sources = chosen.sources()
    if sources:
        out.write(sources)
        newest = chosen.newest_master_version()
        if newest is not None:
            out.write(f"a message of a newer master version than {newest} is decoded with version {newest}\n")
    if chosen.extra:
        out.write(f"extra tables, before these ({extra_tables_origin(args)}): {', '.join(chosen.extra)}\n")
    return 0


def _parse(argv: Optional[Sequence[str]]) -> argparse.Namespace:
    args = parser().parse_args(argv)
    late_tables = vars(args).pop("late_tables", None)
    if late_tables is not None:
        args.tables = late_tables
    extra: List[str] = (args.extra_tables or []) + vars(args).pop("late_extra_tables", [])
    args.extra_tables = extra or None
    return args


def main(argv: Optional[Sequence[str]] = None) -> int:
    """Runs the command line; returns the exit status."""
    args = _parse(argv)
    try:
        status: int = args.run(args, sys.stdout)
        return status
    except UsageError as error:
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
    files = getattr(args, "files", None)
    return getattr(args, "file", None) or (" ".join(files) if files else args.command)
