"""Where the decoder finds BUFR tables: the packed ecCodes tables by default, or a path."""
from __future__ import annotations

import os
import pathlib
import threading
from typing import Union

import _corvane

from . import _core

__all__ = ["Tables", "TablesSource"]

#: What ``tables=`` accepts.
TablesSource = Union["Tables", str, "os.PathLike[str]", "_corvane.TableSet", None]

_ARCHIVE = pathlib.Path(__file__).resolve().parent / "data" / "bufr_tables.bin"
_ARCHIVE_MAGIC = b"CVTABLES"
_default_native = None
_default_lock = threading.Lock()


def _packed_native() -> _core.Tables:
    """The shipped tables, opened once per process and shared by every file."""
    global _default_native
    with _default_lock:
        if _default_native is None:
            _default_native = _core.Tables.from_archive(str(_ARCHIVE))
        return _default_native


def _kind_of(path: pathlib.Path) -> str:
    """Which table layout a path holds, told apart by its content."""
    if path.is_file():
        with path.open("rb") as file:
            if file.read(len(_ARCHIVE_MAGIC)) == _ARCHIVE_MAGIC:
                return "packed"
        raise ValueError(f"tables={str(path)!r} is a file but not a packed table archive; "
                         "name a table directory or a definitions root instead")
    if not path.is_dir():
        raise FileNotFoundError(f"tables={str(path)!r}: no such file or directory")
    if (path / "bufr" / "tables").is_dir():
        return "definitions"
    if (path / "element.table").is_file():
        return "eccodes"
    if any(path.glob("BUFRCREX_TableB_en_*.csv")):
        return "bufr4"
    raise ValueError(
        f"tables={str(path)!r} holds no BUFR tables that corvane knows: expected an ecCodes "
        "definitions root (with bufr/tables/), an ecCodes table directory (with element.table) "
        "or a WMO BUFR4 directory (with BUFRCREX_TableB_en_*.csv)")


_DESCRIPTIONS = {
    "packed": "packed tables",
    "definitions": "ecCodes definitions root, tables chosen per message",
    "eccodes": "ecCodes table directory, one set for every message",
    "bufr4": "WMO BUFR4 CSV tables, one set for every message",
    "table set": "a _corvane.TableSet, one set for every message",
}


class Tables:
    """The BUFR tables that messages are decoded with.

    With no argument, the ecCodes 2.28 tables that ship in the package: every master table
    version and every local table, chosen for each message from its section 1 (master table
    version, centre, sub-centre, local table version) as an ecCodes definitions root chooses
    them. A path is told apart by what it holds:

    - an ecCodes definitions root (a directory with ``bufr/tables/``): chosen per message;
    - an ecCodes table directory (with ``element.table``): one set for every message;
    - a WMO BUFR4 directory (with ``BUFRCREX_TableB_en_*.csv``): one set for every message;
    - a packed table archive file, as the package ships.

    A ``_corvane.TableSet`` is used for every message. Each table choice is loaded once, when
    a message first needs it, and kept, so one ``Tables`` can serve many files:

    >>> tables = corvane.Tables("/usr/share/eccodes/definitions")
    >>> for path in paths:
    ...     for message in corvane.open(path, tables=tables):
    ...         ...
    """

    __slots__ = ("_native", "kind", "path")

    def __init__(self, source: str | os.PathLike[str] | _corvane.TableSet | None = None) -> None:
        self.path: str | None = None
        if source is None:
            self.kind = "packed"
            self.path = str(_ARCHIVE)
            self._native = _packed_native()
        elif isinstance(source, _corvane.TableSet):
            self.kind = "table set"
            self._native = _core.Tables.from_table_set(source)
        elif isinstance(source, (str, os.PathLike)):
            path = pathlib.Path(source)
            self.kind = _kind_of(path)
            self.path = str(path)
            load = {
                "packed": _core.Tables.from_archive,
                "definitions": _core.Tables.from_definitions,
                "eccodes": _core.Tables.from_eccodes,
                "bufr4": _core.Tables.from_bufr4,
            }[self.kind]
            self._native = load(self.path)
        else:
            raise TypeError(f"tables must be None, a path or a _corvane.TableSet, not {type(source).__name__}")

    def describe(self) -> str:
        """Where the tables come from, in one line."""
        text = _DESCRIPTIONS[self.kind]
        if self._native.label:
            text += f": {self._native.label}"
        return f"{text} ({self.path})" if self.path else text

    def __repr__(self) -> str:
        return f"Tables({self.describe()})"


_default_tables: Tables | None = None


def resolve(tables: TablesSource) -> Tables:
    """The Tables for a ``tables=`` argument; None gives the shared packed tables."""
    global _default_tables
    if isinstance(tables, Tables):
        return tables
    if tables is None:
        if _default_tables is None:
            _default_tables = Tables()
        return _default_tables
    return Tables(tables)
