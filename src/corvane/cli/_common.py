"""What every verb shares: the inputs, the tables, the failure count and the progress bar."""

from __future__ import annotations

import argparse
import sys
import time
from typing import Dict, Iterable, Iterator, List, Optional, TextIO, Tuple

from .. import BufrFile, Message, Tables
from .. import open as open_bufr
from .._stream import Window, windows
from .._tables import ENVIRONMENT

DATA_ERROR = 1
USAGE_ERROR = 2
#: The input that names standard input.
STDIN = "-"


class UsageError(Exception):
    """A command line that cannot run as written, or a path that cannot be read: exit status 2."""


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

    def __init__(self, named: bool = False) -> None:
        self.count = 0
        self.seen = 0
        # With several inputs a line names its file.
        self.named = named

    def check(self, message: Message, name: Optional[str] = None) -> bool:
        """Whether the message is good; a bad one is counted and reported on stderr."""
        self.seen += 1
        if message.error is None:
            return True
        self.failed(message.index, message.offset, message.error, name)
        return False

    def failed(self, index: int, offset: int, error: str, name: Optional[str] = None) -> None:
        """Counts and reports a bad message (``seen`` is the caller's to count)."""
        self.count += 1
        where = f"{name or '-'}: " if self.named else ""
        print(f"corvane: {where}message {index} at byte {offset}: {error}", file=sys.stderr)

    def exit_status(self) -> int:
        if self.count:
            print(f"corvane: {self.count} of {self.seen} messages failed", file=sys.stderr)
            return DATA_ERROR
        return 0


def messages(
    bufr: BufrFile, failures: Failures, chosen: Optional[Iterable[Message]] = None, name: Optional[str] = None
) -> Iterator[Tuple[Message, bool]]:
    """The messages (all of ``bufr`` by default), each with whether it is good, under a bar."""
    progress = Progress(len(bufr))
    try:
        for done, message in enumerate(bufr if chosen is None else chosen, 1):
            yield message, failures.check(message, name)
            progress.update(done)
    finally:
        progress.close()


def number(value: float) -> str:
    return str(int(value)) if value.is_integer() and abs(value) < 1e15 else repr(value)


def tables(args: argparse.Namespace) -> Tables:
    """The tables that --tables and --extra-tables choose, made once per run."""
    made: Optional[Tables] = getattr(args, "made_tables", None)
    if made is None:
        try:
            made = Tables(args.tables, extra=args.extra_tables)
        except (OSError, ValueError) as error:
            raise UsageError(str(error)) from None
        args.made_tables = made
    return made


def open_input(args: argparse.Namespace, path: str) -> BufrFile:
    """One input of the command line, "-" for standard input, with its bad messages kept."""
    try:
        source = sys.stdin.buffer.read() if path == STDIN else path
        bufr: BufrFile = open_bufr(source, tables=tables(args), errors="keep")
    except (OSError, ValueError) as error:
        raise UsageError(str(error)) from None
    return bufr


def streamed(args: argparse.Namespace, paths: List[str]) -> Iterator[Window]:
    """Each input in turn, a window of messages at a time: memory stays bounded whatever the size
    of a file, and pipes and compressed files are read as they come."""
    if paths.count(STDIN) > 1:
        raise UsageError("standard input (-) can be read once only")
    for path in paths:
        found = 0
        try:
            for window in windows(path, tables(args)):
                found += len(window.bufr)
                yield window
        except OSError as error:
            raise UsageError(f"{path}: {error.strerror or error}") from None
        if not found:
            print(f"corvane: {path}: no BUFR message found", file=sys.stderr)
            args.empty = True


def extra_tables_origin(args: argparse.Namespace) -> str:
    return "--extra-tables" if args.extra_tables else ENVIRONMENT


def message_header(message: Message, window: Optional[Window] = None) -> Dict[str, object]:
    """What sections 0 to 3 of a message say, for JSON; its place in the stream of `window`."""
    return {
        "index": message.index + (window.first_index if window else 0),
        "offset": message.offset + (window.first_offset if window else 0),
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
