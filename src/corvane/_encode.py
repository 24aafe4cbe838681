"""Encoding one edition-4 message from values, with the tables and element rules of the reader."""

from __future__ import annotations

import datetime
from typing import TYPE_CHECKING, Iterable, List, Mapping, Optional, Sequence, Tuple, Union

from . import _core
from ._errors import BufrError
from ._subsets import Layouts, Walk, Walker
from ._tables import TablesSource, resolve

if TYPE_CHECKING:
    import numpy

__all__ = ["encode"]

InputValue = Union[float, int, str, None]


def encode(
    descriptors: Iterable[int],
    subsets: Union[Iterable[Union[Sequence[InputValue], Mapping[str, object]]], "numpy.ndarray"],
    *,
    centre: int = 0,
    subcentre: int = 0,
    master_version: Optional[int] = None,
    local_version: int = 0,
    data_category: int = 0,
    international_subcategory: int = 255,
    local_subcategory: int = 0,
    time: Optional[datetime.datetime] = None,
    update_sequence: int = 0,
    observed: bool = True,
    compressed: bool = False,
    section2: Optional[bytes] = None,
    tables: TablesSource = None,
) -> bytes:
    """One edition-4 BUFR message from the values of its subsets.

    Each subset lists its values in the order :meth:`Message.values` gives them: delayed
    replication factors, associated fields and character data each in its place, and the new
    reference values of a 203YYY definition too (which :meth:`Message.values` leaves out). Or it
    maps keys to values, as a DataFrame row, a CSV record or a JSON object does: ``"key"`` for
    the first occurrence, ``"#n#key"`` for the n-th, or a list for every occurrence of a key that
    repeats. A delayed replication count is then the length of the list of the first key of its
    group that has one (1 for a single value, 0 for none), and a value the mapping lacks is
    missing. Numbers are scaled, offset and rounded to their field under the operators in force;
    None (or NaN) is missing, written as all ones; texts are padded with blanks.

    Parameters
    ----------
    descriptors : iterable of int
        The unexpanded descriptors of section 3, as six-digit codes (307080 for 3-07-080).
    subsets : iterable of sequences or mappings, or numpy.ndarray
        The values of each subset: float or int, str, or None; in order, or by key. Or a 2-D
        array of numbers, one row per subset in order, NaN for missing: float64 is read in place
        whatever its strides (so the ``.T`` of an array of one row per value serves), other
        numeric dtypes are converted first.
    centre, subcentre, local_version, data_category, international_subcategory, local_subcategory, update_sequence : int
        Their fields of section 1.
    master_version : int, optional
        The master table version the values are written with; None for the newest at hand.
    time : datetime.datetime, optional
        The typical time of section 1; None for now (UTC), to the second.
    observed : bool, default True
        Whether section 3 marks the data as observed.
    compressed : bool, default False
        Whether to write the compressed layout, each value a column for every subset: every
        subset must then take the same delayed replications.
    section2 : bytes, optional
        The local data of an optional section 2.
    tables : Tables, str, os.PathLike or _corvane.TableSet, optional
        The tables, as :func:`corvane.open` takes them: those that read the message back.

    Returns
    -------
    bytes
        The whole message, which :func:`corvane.write` writes and :func:`corvane.open` reads.

    Raises
    ------
    BufrError
        For a value that does not fit its field (naming its key, subset and the values that fit),
        a subset with more or fewer values than its descriptors take, a descriptor the tables
        lack, lists of one replicated group whose lengths disagree, or, compressed, a delayed
        replication factor that differs between subsets.
    KeyError
        For a key of a mapping that no descriptor of the message has (with the near ones).
    TypeError
        For a value that is no number, str or None, or an array that is not 2-D or holds no numbers.
    ValueError
        For a section 1 field out of its range.

    Examples
    --------
    >>> data = corvane.encode([1001, 1002, 12101], [[10, 384, 287.15], [6, None, 273.2]], centre=98)
    >>> [(v.subset, v.key, v.value) for v in corvane.open(data)[0].values()][:4]
    [(1, 'blockNumber', 10.0), (1, 'stationNumber', 384.0), (1, 'airTemperature', 287.15), (2, 'blockNumber', 6.0)]
    >>> data = corvane.encode([1001, 1002, 12101], [{"blockNumber": 10, "airTemperature": 287.15}])
    >>> [v.value for v in corvane.open(data)[0].values()]
    [10.0, None, 287.15]
    >>> import numpy
    >>> rows = numpy.array([[10, 384, 287.15], [6, numpy.nan, 273.2]])
    >>> data = corvane.encode([1001, 1002, 12101], rows, compressed=True)
    >>> [v.value for v in corvane.open(data)[0].values()][3:]
    [6.0, None, 273.2]
    """
    chosen = resolve(tables)
    if master_version is None:
        master_version = chosen.newest_master_version()
        if master_version is None:
            raise ValueError("these tables are one set for every message: give master_version= for section 1")
    when = time or datetime.datetime.now(datetime.timezone.utc)
    fields = {
        "centre": (centre, 0xFFFF),
        "subcentre": (subcentre, 0xFFFF),
        "update_sequence": (update_sequence, 0xFF),
        "data_category": (data_category, 0xFF),
        "international_subcategory": (international_subcategory, 0xFF),
        "local_subcategory": (local_subcategory, 0xFF),
        "master_version": (master_version, 0xFF),
        "local_version": (local_version, 0xFF),
    }
    for name, (value, top) in fields.items():
        if not isinstance(value, int) or isinstance(value, bool) or not 0 <= value <= top:
            raise ValueError(f"{name}={value!r}: give an int from 0 to {top}")
    header = (
        0,
        *(value for value, _ in fields.values()),
        when.year,
        when.month,
        when.day,
        when.hour,
        when.minute,
        when.second,
        int(bool(observed)),
        int(bool(compressed)),
    )
    codes = list(descriptors)
    if hasattr(subsets, "__array_interface__"):
        return _encode_array(codes, subsets, chosen._native, header, section2)
    layouts: Optional[Layouts] = None
    values = []
    for number, subset in enumerate(subsets):
        # Lists go as they are: the encoder only reads them.
        if type(subset) is list:
            values.append(subset)
            continue
        if hasattr(subset, "items") and hasattr(subset, "get"):
            if layouts is None:
                choice = (header[0], master_version, centre, subcentre, local_version)
                layouts = Layouts(_walker(codes, chosen._native, choice))
            # A dict subclass may make up values for keys it lacks.
            record = subset if type(subset) is dict else dict(subset.items())
            values.append(layouts.values(record, number))
            continue
        if isinstance(subset, (str, bytes)) or not isinstance(subset, Sequence) and not hasattr(subset, "__array__"):
            kind = type(subset).__name__
            raise TypeError(
                f"each subset is a sequence of values (numbers, str, None) or a mapping of keys, not {kind}"
            )
        values.append(list(subset))
    try:
        return _core.encode(codes, values, chosen._native, header, section2)
    except ValueError as error:
        raise BufrError(str(error)) from None


def _encode_array(
    codes: List[int], subsets: object, tables: _core.Tables, header: Tuple[int, ...], section2: Optional[bytes]
) -> bytes:
    """Encodes a 2-D array of numbers, one row per subset, read in place when it holds float64."""
    # Imported here, where an array is given: the command line starts without NumPy.
    import numpy

    array = numpy.asarray(subsets)
    if array.ndim != 2:
        raise TypeError(
            f"an array of subsets is 2-D, one row of numbers per subset, not {array.ndim}-D: "
            "reshape it, or give a list of sequences"
        )
    if array.dtype != numpy.float64:
        if array.dtype.kind not in "biuf":
            raise TypeError(f"an array of subsets holds numbers, not {array.dtype}: give texts in a list of sequences")
        array = numpy.asarray(array, dtype=numpy.float64)
    try:
        return _core.encode(codes, array, tables, header, section2)
    except ValueError as error:
        raise BufrError(str(error)) from None


def _walker(codes: List[int], tables: _core.Tables, choice: Tuple[int, ...]) -> Walker:
    """The encoder's own walk of one subset under chosen delayed replication counts."""

    def walk(counts: Tuple[int, ...], subset: int) -> Walk:
        try:
            return _core.value_layout(codes, tables, choice, counts, subset)
        except ValueError as error:
            raise BufrError(str(error)) from None

    return walk
