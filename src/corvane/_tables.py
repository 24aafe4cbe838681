"""Where the decoder finds BUFR tables: the packed tables by default, or a path, with extra ones first."""

from __future__ import annotations

import os
import pathlib
import threading
from typing import TYPE_CHECKING, Dict, FrozenSet, List, NamedTuple, Optional, Sequence, Tuple, Union

import _corvane

from . import _core
from ._records import TableLayer

if TYPE_CHECKING:
    from ._file import Message

__all__ = ["Tables", "TablesSource", "TablesUsed"]

#: What ``tables=`` accepts.
TablesSource = Union["Tables", str, "os.PathLike[str]", "_corvane.TableSet", None]

_ARCHIVE = pathlib.Path(__file__).resolve().parent / "data" / "bufr_tables.bin"
_ARCHIVE_MAGIC = b"CVTABLES"
#: Directories of extra tables for every process that names no tables itself.
ENVIRONMENT = "CORVANE_TABLES"
_Layers = Tuple[TableLayer, ...]
_default_native: Dict[_Layers, _core.Tables] = {}
_default_lock = threading.Lock()


def _packed_native(layers: _Layers) -> _core.Tables:
    """The shipped tables (with extra layers), opened once per process and shared by every file."""
    with _default_lock:
        native = _default_native.get(layers)
        if native is None:
            native = _default_native[layers] = _core.Tables.from_archive(str(_ARCHIVE), list(layers))
        return native


def _environment_extra() -> List[str]:
    return [path for path in os.environ.get(ENVIRONMENT, "").split(os.pathsep) if path]


def _layout_of_extra(path: pathlib.Path, origin: str) -> str:
    """Whether an extra directory holds ecCodes table files or WMO BUFR4 CSV files."""
    if not path.is_dir():
        raise FileNotFoundError(f"{origin} {str(path)!r}: no such directory")
    if any((path / name).exists() for name in ("element.table", "sequence.def", "codetables")):
        return "eccodes"
    if any(path.glob("BUFR*_en_*.csv")):
        return "bufr4"
    raise ValueError(
        f"{origin} {str(path)!r} holds no BUFR tables that corvane knows: expected an ecCodes "
        "element.table, sequence.def or codetables/, or WMO BUFR4 CSV files (BUFRCREX_TableB_en_*.csv, "
        "BUFR_TableD_en_*.csv, BUFRCREX_CodeFlag_en_*.csv)"
    )


def _kind_of(path: pathlib.Path) -> str:
    """Which table layout a path holds, told apart by its content."""
    if path.is_file():
        with path.open("rb") as file:
            if file.read(len(_ARCHIVE_MAGIC)) == _ARCHIVE_MAGIC:
                return "packed"
        raise ValueError(
            f"tables={str(path)!r} is a file but not a packed table archive; "
            "name a table directory or a definitions root instead"
        )
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
        "or a WMO BUFR4 directory (with BUFRCREX_TableB_en_*.csv)"
    )


_DESCRIPTIONS = {
    "packed": "packed tables",
    "definitions": "ecCodes definitions root, tables chosen per message",
    "eccodes": "ecCodes table directory, one set for every message",
    "bufr4": "WMO BUFR4 CSV tables, one set for every message",
    "table set": "a _corvane.TableSet, one set for every message",
}


class TablesUsed(NamedTuple):
    """What a message is decoded with (see :meth:`Tables.used`)."""

    #: "WMO 46 (message says 50), local centre 98 subcentre 0 version 2"; None without a section 1.
    text: Optional[str]
    #: True only when the message names a newer master version than any at hand.
    fallback: bool
    #: The master version whose tables are used; None for a fixed set or missing tables.
    master_version: Optional[int]


class Tables:
    """The BUFR tables that messages are decoded with.

    With no argument, the tables that ship in the package: every master table version of the
    WMO to 46 and every local table of ecCodes (see ``corvane tables``), chosen for each
    message from its section 1 (master table version, centre, sub-centre, local table version)
    as an ecCodes definitions root chooses them. A message of a newer master version than any
    at hand is decoded with the newest (each version keeps the entries of those before it):
    see :attr:`Message.tables_fallback`. Each table choice is loaded once, when a message first
    needs it, and kept, so one ``Tables`` can serve many files.

    Parameters
    ----------
    source : str, os.PathLike or _corvane.TableSet, optional
        A path, told apart by what it holds: an ecCodes definitions root (a directory with
        ``bufr/tables/``), chosen per message; an ecCodes table directory (with
        ``element.table``) or a WMO BUFR4 directory (with ``BUFRCREX_TableB_en_*.csv``), one set
        for every message; or a packed table archive file, as the package ships. A
        ``_corvane.TableSet`` is used for every message.
    extra : sequence of str or os.PathLike, optional
        Directories whose definitions come before those of ``source`` for every message, the
        first directory first: ecCodes files (``element.table``, ``sequence.def``,
        ``codetables/``, any of them) or WMO BUFR4 CSV files, such as the local tables of a
        centre that no release has. With neither argument, the directories of the
        ``CORVANE_TABLES`` environment variable (separated by ``os.pathsep``) are the extra ones.

    Raises
    ------
    FileNotFoundError
        For a path that does not exist.
    ValueError
        For a path that holds no tables corvane knows, or tables that cannot be read.
    TypeError
        For a source of another type, or ``extra`` given as one string.

    Examples
    --------
    >>> tables = corvane.Tables()
    >>> for path in [corvane.sample_path()]:
    ...     print(sum(message.subsets for message in corvane.open(path, tables=tables)))
    1031
    """

    __slots__ = ("_native", "kind", "path", "extra", "_source", "_used", "_keys")

    def __init__(
        self,
        source: str | os.PathLike[str] | _corvane.TableSet | None = None,
        *,
        extra: Optional[Sequence[str | os.PathLike[str]]] = None,
    ) -> None:
        self.path: Optional[str] = None
        self._source = source
        self._used: Dict[Tuple[int, ...], TablesUsed] = {}
        # Every data key of these tables, which _keys.known_keys works out on first use.
        self._keys: Optional[FrozenSet[str]] = None
        from_environment = source is None and extra is None
        if isinstance(extra, (str, os.PathLike)):
            raise TypeError("extra takes a list of directories, such as extra=['my-tables']")
        self.extra = [os.fspath(path) for path in (_environment_extra() if from_environment else extra or [])]
        origin = ENVIRONMENT if from_environment else "extra"
        layers = tuple(TableLayer(_layout_of_extra(pathlib.Path(path), origin), path) for path in self.extra)
        if source is None:
            self.kind = "packed"
            self.path = str(_ARCHIVE)
            self._native = _packed_native(layers)
        elif isinstance(source, _corvane.TableSet):
            self.kind = "table set"
            self._native = _core.Tables.from_table_set(source, list(layers))
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
            self._native = load(self.path, list(layers))
        else:
            raise TypeError(f"tables must be None, a path or a _corvane.TableSet, not {type(source).__name__}")

    def describe(self) -> str:
        """Where the tables come from, in one line.

        Returns
        -------
        str

        Examples
        --------
        >>> corvane.Tables().describe()
        'packed tables: ecCodes 2.28 and 2.50 BUFR tables (...) (.../bufr_tables.bin)'
        """
        text = _DESCRIPTIONS[self.kind]
        if self._native.label:
            text += f": {self._native.label}"
        if self.path:
            text += f" ({self.path})"
        return text + (f", extra tables first: {', '.join(self.extra)}" if self.extra else "")

    def sources(self) -> Optional[str]:
        """For the packed tables, where each master version and the local tables come from.

        Returns
        -------
        str or None
            One line per version; None for tables that are not packed.

        Examples
        --------
        >>> print(corvane.Tables().sources())
        master table 0:
          version 0: Table B and D: ecCodes 2.50; code and flag tables: none
        ...
        """
        return self._native.sources

    def newest_master_version(self) -> Optional[int]:
        """The newest version of WMO master table 0 at hand, which newer messages are decoded with.

        Returns
        -------
        int or None
            None for one set for every message.

        Examples
        --------
        >>> corvane.Tables().newest_master_version()
        46
        """
        chosen = self._native.chosen(0, 255, 0, 0, 0)
        return chosen.master_version if chosen and chosen.master_found else None

    def used(self, message: "Message") -> TablesUsed:
        """What a message is decoded with, and whether that is a fallback to the newest version.

        Parameters
        ----------
        message : Message
            A message of a file opened with these tables.

        Returns
        -------
        TablesUsed
            ``text`` (as :attr:`Message.tables` gives it), ``fallback`` (as
            :attr:`Message.tables_fallback`) and ``master_version``, the version used.

        Examples
        --------
        >>> tables = corvane.Tables()
        >>> tables.used(corvane.open(corvane.sample_path(), tables=tables)[0])
        TablesUsed(text='WMO 18', fallback=False, master_version=18)
        """
        if message.master_version is None:
            return TablesUsed(None, False, None)
        choice = (
            message.master_table,
            message.master_version,
            message.centre,
            message.subcentre,
            message.local_version,
        )
        found = self._used.get(choice)
        if found is None:
            found = self._used[choice] = self._describe_choice(*choice)
        return found

    def _describe_choice(
        self, master_table: int, version: int, centre: int, subcentre: int, local_version: int
    ) -> TablesUsed:
        chosen = self._native.chosen(master_table, version, centre, subcentre, local_version)
        if chosen is None:
            return TablesUsed(self.describe(), False, None)
        used = chosen.master_version
        absent = "not packed" if self.kind == "packed" else "not in the definitions root"
        text = f"WMO {used}" if master_table == 0 else f"master table {master_table} version {used}"
        if not chosen.master_found:
            return TablesUsed(f"{text} {absent}", False, None)
        fallback = used != version
        if fallback:
            text += f" (message says {version})"
        if local_version:
            text += f", local centre {centre} subcentre {subcentre} version {local_version}"
            text += "" if chosen.local_found else f" {absent}"
        if self.extra:
            text += f", extra tables first: {', '.join(self.extra)}"
        return TablesUsed(text, fallback, used)

    def __reduce__(self) -> Tuple[object, Tuple[object, ...]]:
        # Worker processes (Dask) rebuild the tables from where they come from.
        if isinstance(self._source, _corvane.TableSet):
            raise TypeError("Tables of a _corvane.TableSet cannot be pickled: pass a table path instead")
        return (_rebuilt, (self._source, self.extra))

    def __repr__(self) -> str:
        return f"Tables({self.describe()})"


def _rebuilt(source: object, extra: List[str]) -> Tables:
    return Tables(source, extra=extra)


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
