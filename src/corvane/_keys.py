"""The key names that :func:`corvane.read` and the command line take: the ecCodes header keys of
section 0 to 3, the data keys that the tables give, and the errors for a name that is neither."""

from __future__ import annotations

import datetime
import difflib
import re
from types import MappingProxyType
from typing import TYPE_CHECKING, AbstractSet, Callable, FrozenSet, Iterable, List, Mapping, Optional, Sequence

from ._records import MessageMetadata

if TYPE_CHECKING:
    import numpy as np

    from ._tables import Tables
else:
    from ._lazy import numpy as np

__all__ = [
    "ATTRIBUTES",
    "HEADER_KEYS",
    "LABELS",
    "check_column_name",
    "header_column",
    "header_value",
    "header_values",
    "known_keys",
    "rows_of",
    "typical_datetime",
    "typical_datetime_column",
    "unknown_key",
]

HeaderField = Callable[[MessageMetadata], Optional[int]]

#: The ecCodes header keys, each with how its value comes from a message's metadata. Edition 2
#: writes a year of the century, read as 2000-2049 or 1950-2000, and no second (0): ecCodes has
#: no typicalYear, typicalSecond, typicalDate or typicalTime there.
HEADER_KEYS: Mapping[str, HeaderField] = MappingProxyType(
    {
        "edition": lambda m: m.edition,
        "masterTableNumber": lambda m: m.master_table,
        "bufrHeaderCentre": lambda m: m.centre,
        "bufrHeaderSubCentre": lambda m: m.subcentre,
        "updateSequenceNumber": lambda m: m.update_sequence,
        "dataCategory": lambda m: m.data_category,
        # Editions 2 and 3 have no such octet, and ecCodes no such key for them.
        "internationalDataSubCategory": lambda m: m.international_subcategory if m.edition >= 4 else None,
        "dataSubCategory": lambda m: m.local_subcategory,
        "masterTablesVersionNumber": lambda m: m.master_version,
        "localTablesVersionNumber": lambda m: m.local_version,
        "typicalYear": lambda m: m.year,
        "typicalMonth": lambda m: m.month,
        "typicalDay": lambda m: m.day,
        "typicalHour": lambda m: m.hour,
        "typicalMinute": lambda m: m.minute,
        "typicalSecond": lambda m: m.second,
        # ecCodes reads a year below 100 as one of this century here, and only here.
        "typicalDate": lambda m: (m.year + 2000 if m.year < 100 else m.year) * 10000 + m.month * 100 + m.day,
        "typicalTime": lambda m: m.hour * 10000 + m.minute * 100 + m.second,
        "numberOfSubsets": lambda m: m.subsets,
        "observedData": lambda m: int(m.observed),
        "section2Present": lambda m: int(m.section2 is not None),
        "compressedData": lambda m: int(m.compressed),
    }
)

#: The keys of values that Table B does not define: 204YYY associated fields and 205YYY texts.
LABELS: FrozenSet[str] = frozenset({"associatedField", "characterData"})

#: What may follow "->" besides an element key: ecCodes' names of the values that qualify another.
ATTRIBUTES: FrozenSet[str] = frozenset(
    {
        "percentConfidence",
        "associatedField",
        "firstOrderStatisticalValue",
        "differenceStatisticalValue",
        "substitutedValue",
        "replacedValue",
    }
)

_LIST_KEYS = "list the keys of a file with corvane.open(path).table().names"
_RANKED = re.compile(r"#([0-9]+)#(.*)", re.DOTALL)
# Values of elements that no table names (206YYY) are keyed by their six-digit code.
_CODE = re.compile(r"0[0-9]{5}")


class UnknownKey(KeyError):
    """A name that is no key; its text reads as written, without KeyError's quotes."""

    def __str__(self) -> str:
        return str(self.args[0])


def header_value(key: str, metadata: MessageMetadata) -> Optional[int]:
    """The value of a header key for one message.

    Parameters
    ----------
    key : str
        One of :data:`HEADER_KEYS`.
    metadata : MessageMetadata
        The message's sections, as ``_core.parse`` reads them.

    Returns
    -------
    int or None
        None where the message's edition has no such field.

    Raises
    ------
    KeyError
        For a key that is no header key, with the nearest ones.
    """
    field = HEADER_KEYS.get(key)
    if field is None:
        raise unknown_key(key, HEADER_KEYS)
    return field(metadata)


def header_column(
    key: str, metadata: Sequence[Optional[MessageMetadata]], message_of_row: np.ndarray
) -> np.ma.MaskedArray:
    """A header key's value for each row, from the message of each row.

    Parameters
    ----------
    key : str
        One of :data:`HEADER_KEYS`.
    metadata : sequence of MessageMetadata or None
        The messages whose rows these are; None for one that cannot be read.
    message_of_row : numpy.ndarray of int
        For each row, the position of its message in ``metadata``.

    Returns
    -------
    numpy.ma.MaskedArray
        int64, one value per row, with a full boolean mask that is True where the message's edition
        has no such field: ``pandas.arrays.IntegerArray(column.data, column.mask)`` makes the
        nullable Int64 column of it without a copy.

    Raises
    ------
    KeyError
        For a key that is no header key, with the nearest ones.
    """
    return rows_of([None if message is None else header_value(key, message) for message in metadata], message_of_row)


def rows_of(per_message: Sequence[Optional[int]], message_of_row: np.ndarray) -> np.ma.MaskedArray:
    """The value of each row's message, as :func:`header_column` gives them, from one per message."""
    values = np.array([0 if value is None else value for value in per_message], dtype=np.int64)
    missing = np.array([value is None for value in per_message], dtype=bool)
    rows = np.asarray(message_of_row, dtype=np.intp)
    return np.ma.MaskedArray(values[rows], mask=missing[rows])


# The header keys that are one field of what ``_core.parse_all`` gives, as it stands.
_FIELDS = {
    "edition": "edition",
    "masterTableNumber": "master_table",
    "bufrHeaderCentre": "centre",
    "bufrHeaderSubCentre": "subcentre",
    "updateSequenceNumber": "update_sequence",
    "dataCategory": "data_category",
    "dataSubCategory": "local_subcategory",
    "masterTablesVersionNumber": "master_version",
    "localTablesVersionNumber": "local_version",
    "typicalYear": "year",
    "typicalMonth": "month",
    "typicalDay": "day",
    "typicalHour": "hour",
    "typicalMinute": "minute",
    "typicalSecond": "second",
    "numberOfSubsets": "subsets",
    "observedData": "observed",
    "compressedData": "compressed",
}


def header_values(key: str, columns: Mapping[str, Sequence[int]]) -> List[Optional[int]]:
    """A header key's value for every message, as :data:`HEADER_KEYS` gives it for one.

    Parameters
    ----------
    key : str
        One of :data:`HEADER_KEYS`.
    columns : mapping of str to sequence of int
        What ``_core.parse_all`` gives, each field read as int64 (``memoryview(b).cast("q")``).

    Returns
    -------
    list of int or None
        One value per message; None where the message's edition has no such field. A message
        that cannot be read has a value too: its ``valid`` field tells.

    Raises
    ------
    KeyError
        For a key that is no header key, with the nearest ones.
    """
    field = _FIELDS.get(key)
    if field is not None:
        return list(columns[field])
    if key == "section2Present":
        return list(columns["section2_present"])
    if key == "internationalDataSubCategory":
        return [s if e >= 4 else None for e, s in zip(columns["edition"], columns["international_subcategory"])]
    if key == "typicalDate":
        return [
            (y + 2000 if y < 100 else y) * 10000 + m * 100 + d
            for y, m, d in zip(columns["year"], columns["month"], columns["day"])
        ]
    if key == "typicalTime":
        return [h * 10000 + m * 100 + s for h, m, s in zip(columns["hour"], columns["minute"], columns["second"])]
    raise unknown_key(key, HEADER_KEYS)


def typical_datetime(metadata: MessageMetadata) -> np.datetime64:
    """The typical time of section 1, to the second.

    Parameters
    ----------
    metadata : MessageMetadata

    Returns
    -------
    numpy.datetime64
        In seconds; NaT when the section-1 fields are no valid date and time.
    """
    return _moment(*(getattr(metadata, field) for field in _TIME_FIELDS))


def typical_datetime_column(columns: Mapping[str, Sequence[int]], message_of_row: np.ndarray) -> np.ndarray:
    """The computed key ``typical_datetime`` for each row, from the message of each row.

    Parameters
    ----------
    columns : mapping of str to sequence of int
        What ``_core.parse_all`` gives, each field read as int64 (``memoryview(b).cast("q")``).
    message_of_row : numpy.ndarray of int
        For each row, the position of its message in ``columns``.

    Returns
    -------
    numpy.ndarray
        datetime64[s], NaT for a message that cannot be read or whose section-1 time is no valid date.
    """
    moments = zip(*(columns[field] for field in _TIME_FIELDS), columns["valid"])
    per_message = np.array(
        [_moment(*moment) if valid else np.datetime64("NaT", "s") for *moment, valid in moments],
        dtype="datetime64[s]",
    )
    return per_message[np.asarray(message_of_row, dtype=np.intp)]


_TIME_FIELDS = ("year", "month", "day", "hour", "minute", "second")


def _moment(year: int, month: int, day: int, hour: int, minute: int, second: int) -> np.datetime64:
    try:
        return np.datetime64(datetime.datetime(year, month, day, hour, minute, second), "s")
    except ValueError:
        return np.datetime64("NaT", "s")


def known_keys(tables: Tables) -> FrozenSet[str]:
    """Every data key that values decoded with ``tables`` can have.

    The keys of every element of every master version and local table that the tables can choose
    (and of their extra tables), and :data:`LABELS`. Worked out once per ``Tables``: the first
    call reads every element table.

    Parameters
    ----------
    tables : Tables

    Returns
    -------
    frozenset of str
    """
    found: Optional[FrozenSet[str]] = tables._keys
    if found is None:
        found = tables._keys = frozenset(tables._native.element_keys()) | LABELS
    return found


def _unknown(name: str, suggestions: List[str]) -> UnknownKey:
    if not suggestions:
        return UnknownKey(f"no BUFR key {name!r}; {_LIST_KEYS}")
    quoted = [repr(suggestion) for suggestion in suggestions]
    listed = quoted[0] if len(quoted) == 1 else f"{', '.join(quoted[:-1])} or {quoted[-1]}"
    return UnknownKey(f"no BUFR key {name!r}; did you mean {listed}?")


def unknown_key(name: str, known: Iterable[str]) -> KeyError:
    """The error for a name that is none of the known keys, with up to three near ones.

    Parameters
    ----------
    name : str
        The name asked for.
    known : iterable of str
        The keys there are.

    Returns
    -------
    KeyError
        ``no BUFR key 'airTemprature'; did you mean 'airTemperature'?``, or, with nothing near,
        how to list the keys of a file. ``str()`` of it is that text.
    """
    return _unknown(name, difflib.get_close_matches(name, list(known), n=3))


def check_column_name(name: str, known: AbstractSet[str], extra: Iterable[str] = ()) -> None:
    """Checks that a column name names a key that the tables can give.

    Accepted: ``"key"``, ``"#n#key"`` (the n-th occurrence, from 1) and ``"key->attribute"``
    (also chained, ``"key->associatedField->associatedFieldSignificance"``), where a key is one
    of ``known`` or a six-digit code (an element that no table names), and an attribute one of
    :data:`ATTRIBUTES` or of ``known``; and any of ``extra`` as it is.

    Parameters
    ----------
    name : str
        The column name.
    known : set of str
        The data keys, as :func:`known_keys` gives them.
    extra : iterable of str, optional
        Further names taken whole: header keys and computed columns ("data_datetime",
        "typical_datetime", "WMO_station_id", "WIGOS_station_id").

    Raises
    ------
    KeyError
        For an unknown key or attribute, with the nearest names written in full.
    """
    extra = frozenset(extra)
    if name in extra:
        return
    base, *attributes = name.split("->")
    prefix = ""
    ranked = _RANKED.fullmatch(base)
    if ranked:
        prefix, base = f"#{ranked.group(1)}#", ranked.group(2)
        if int(ranked.group(1)) == 0:
            raise UnknownKey(f"no BUFR key {name!r}; occurrences count from 1, as in '#1#{base}'")
    if base not in known and not _CODE.fullmatch(base):
        candidates = known if prefix or attributes else known | extra
        near = difflib.get_close_matches(base, list(candidates), n=3)
        tail = "".join(f"->{attribute}" for attribute in attributes)
        raise _unknown(name, [f"{prefix}{key}{tail}" for key in near])
    for position, attribute in enumerate(attributes):
        if attribute in ATTRIBUTES or attribute in known:
            continue
        near = difflib.get_close_matches(attribute, list(ATTRIBUTES | known), n=3)
        head = "->".join([prefix + base, *attributes[:position]])
        tail = "".join(f"->{rest}" for rest in attributes[position + 1 :])
        raise _unknown(name, [f"{head}->{key}{tail}" for key in near])
