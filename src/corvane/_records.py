"""The records that pass between the package and its native module ``corvane._core``.

``_core`` imports this module once, when it is first imported, and builds and reads these
classes by name; a field added or renamed here must be added or renamed there too.
"""

from __future__ import annotations

from typing import List, Literal, NamedTuple, Optional, Sequence, TypedDict

__all__ = [
    "MessageEntry",
    "MessageMetadata",
    "MessageError",
    "ColumnFilter",
    "ChosenTables",
    "TableCounts",
    "TableLayer",
    "ColumnInfo",
]


class MessageEntry(NamedTuple):
    """Where a message lies in the file's bytes, as ``_core.scan`` finds it."""

    #: The message's position in its file, from 0, bad messages included. Named as in Message and
    #: BufrError, it hides tuple.index, which no caller needs.
    index: int  # type: ignore[assignment]
    offset: int
    length: int
    #: Why the message cannot be read (a truncated one, say); None when it can be tried.
    error: Optional[str]


class MessageMetadata(NamedTuple):
    """What sections 0 to 3 of a message say, as ``_core.parse`` reads them."""

    edition: int
    master_table: int
    centre: int
    subcentre: int
    master_version: int
    local_version: int
    data_category: int
    subsets: int
    observed: bool
    compressed: bool
    #: The descriptors of section 3, unexpanded, as six-digit codes (309052 for 3-09-052).
    descriptors: List[int]
    #: The typical time of section 1, as it is written: not always a valid date.
    year: int
    month: int
    day: int
    hour: int
    minute: int
    second: int
    #: 255 (all ones) in editions 2 and 3, which have no such octet.
    international_subcategory: int
    local_subcategory: int
    update_sequence: int
    #: The local data of section 2, after its four header octets; None when there is no section 2.
    section2: Optional[bytes]


class MessageError(NamedTuple):
    """A message that gave a column table no rows, and why."""

    index: int  # type: ignore[assignment]
    offset: int
    reason: str


class ColumnFilter(NamedTuple):
    """A row filter of the columnar decode. A row passes when its value in ``column`` equals
    one of ``numbers`` or ``texts``, or, when ``is_range``, lies in [``low``, ``high``] (None:
    unbounded); a missing value never passes."""

    column: str
    numbers: Sequence[float]
    texts: Sequence[str]
    low: Optional[float]
    high: Optional[float]
    is_range: bool


class ChosenTables(NamedTuple):
    """What a table choice finds (``_core.Tables.chosen``)."""

    master_found: bool
    #: The master version loaded: the newest at hand for a message that names a newer one.
    master_version: int
    local_found: bool


class TableCounts(NamedTuple):
    """How many entries the table set of one choice holds (``_core.Tables.load``)."""

    elements: int
    sequences: int
    code_tables: int


class TableLayer(NamedTuple):
    """A directory of extra tables, laid over a table source."""

    #: "eccodes" for ecCodes table files, "bufr4" for WMO BUFR4 CSV files.
    layout: str
    path: str


class ColumnInfo(TypedDict):
    """What a column of a column table holds (``ColumnTable.info``)."""

    key: str
    #: 1 for the first occurrence of the key in a subset, 2 for "#2#key", ...
    rank: int
    code: int
    name: str
    unit: Optional[str]
    scale: int
    type: Literal["float64", "int64", "text"]
