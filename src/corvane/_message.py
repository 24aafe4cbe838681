"""One message of a BUFR file: its section metadata, values and arrays."""

from __future__ import annotations

import datetime
import operator
from typing import TYPE_CHECKING, Dict, Iterable, List, Optional

from . import _core
from ._encode import encode
from ._filedata import arrays, chosen_columns
from ._records import MessageMetadata
from ._write import rebuilt, with_section1

if TYPE_CHECKING:
    import numpy

    from ._file import BufrFile

__all__ = ["Message", "Value"]

Value = _core.Value


class Message:
    """One BUFR message: its section metadata, and its values through :meth:`values`.

    Messages come from a :class:`BufrFile`, by iteration, index or :meth:`BufrFile.headers`.

    Attributes
    ----------
    index : int
        The message's position in its file, from 0, bad messages included.
    offset, length : int
        Where the message lies in the file's bytes.
    edition, master_table, centre, subcentre, master_version, local_version, data_category, subsets : int
        What sections 1 and 3 say; None for a kept bad message whose sections cannot be read.
    compressed : bool
        Whether the subsets are compressed together.
    descriptors : list of int
        The unexpanded descriptors of section 3, as six-digit codes (309052 for 3-09-052).
    typical_time : datetime.datetime or None
        The typical time of section 1; None when it is no valid date. ``time`` is the same.
    error : str or None
        None for a good message; with ``errors="keep"`` a bad one carries its reason here.

    Examples
    --------
    >>> message = corvane.open(corvane.sample_path())[0]
    >>> message
    <Message 0 at byte 41: edition 4, centre 78, category 0, 2021-05-16 12:00:00, 25 subsets>
    >>> print(message.edition, message.centre, message.subsets, message.descriptors[:2])
    4 78 25 [307086, 1023]
    """

    __slots__ = (
        "index",
        "offset",
        "length",
        "edition",
        "master_table",
        "centre",
        "subcentre",
        "master_version",
        "local_version",
        "data_category",
        "subsets",
        "compressed",
        "descriptors",
        "time",
        "error",
        "_metadata",
        "_file",
        "_decoded",
    )

    def __init__(
        self,
        file: BufrFile,
        index: int,
        offset: int,
        length: int,
        metadata: Optional[MessageMetadata],
        error: Optional[str],
    ) -> None:
        self._file = file
        self._decoded: Optional[_core.Decoded] = None
        self.index = index
        self.offset = offset
        self.length = length
        self.error = error
        self._metadata = metadata
        self.time: Optional[datetime.datetime] = None
        if metadata is None:
            self.edition = self.master_table = self.centre = self.subcentre = None
            self.master_version = self.local_version = self.data_category = self.subsets = None
            self.compressed = self.descriptors = None
            return
        self.edition = metadata.edition
        self.master_table = metadata.master_table
        self.centre = metadata.centre
        self.subcentre = metadata.subcentre
        self.master_version = metadata.master_version
        self.local_version = metadata.local_version
        self.data_category = metadata.data_category
        self.subsets = metadata.subsets
        self.compressed = metadata.compressed
        self.descriptors = metadata.descriptors
        try:
            self.time = datetime.datetime(
                metadata.year, metadata.month, metadata.day, metadata.hour, metadata.minute, metadata.second
            )
        except ValueError:
            pass

    @property
    def typical_time(self) -> Optional[datetime.datetime]:
        """The typical time of section 1 (ecCodes' typicalDate and typicalTime); None when it is no
        valid date."""
        return self.time

    @property
    def observed(self) -> Optional[bool]:
        """Whether section 3 marks the data as observed (ecCodes' observedData), not other data."""
        return None if self._metadata is None else self._metadata.observed

    @property
    def section2(self) -> Optional[bytes]:
        """The local data of the optional section 2, after its four header octets; None when the
        message has no section 2."""
        return None if self._metadata is None else self._metadata.section2

    @property
    def gts_heading(self) -> Optional[str]:
        """The abbreviated heading of the GTS bulletin that wraps the message ("ISND02 LLBD 222200
        CCD"), found in the bytes between the message before and this one; None when there is none.

        Raises
        ------
        ValueError
            When the file is closed.

        Examples
        --------
        >>> corvane.open(corvane.sample_path())[0].gts_heading
        'ISMD10 EDZW 161200'
        """
        return self._file._heading(self.index, self.offset)

    @property
    def international_subcategory(self) -> Optional[int]:
        """The international data sub-category of section 1; None before edition 4, which lacks it."""
        metadata = self._metadata
        return metadata.international_subcategory if metadata is not None and metadata.edition >= 4 else None

    @property
    def local_subcategory(self) -> Optional[int]:
        """The local data sub-category of section 1 (ecCodes' dataSubCategory)."""
        return None if self._metadata is None else self._metadata.local_subcategory

    @property
    def update_sequence(self) -> Optional[int]:
        """The update sequence number of section 1: 0 for an original message, 1 for its first update."""
        return None if self._metadata is None else self._metadata.update_sequence

    @property
    def tables(self) -> Optional[str]:
        """What the message is decoded with; None when its section 1 could not be read.

        Returns
        -------
        str or None
            The master version used (and the one the message names, when they differ), the local
            tables and the extra tables.

        Examples
        --------
        >>> corvane.open(corvane.sample_path())[0].tables
        'WMO 18'
        """
        return self._file.tables.used(self).text

    @property
    def tables_fallback(self) -> bool:
        """Whether the message is decoded with an older master version than it names.

        Returns
        -------
        bool
            True only when the message names a master version newer than any at hand, so that it is
            decoded with the newest one (whose entries include those of every earlier one).

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> print(message.master_version, message.tables_fallback)
        18 False
        """
        return self._file.tables.used(self).fallback

    def values(self) -> List[Value]:
        """Every value of the message, subset after subset.

        Texts lose trailing NULs and blanks; a text of NUL and 0xFF bytes only is None. Operator
        descriptors carry no data and are left out, as are the new reference values of a 203YYY
        definition; associated fields (204YYY) are listed with code 999999 and key
        ``"associatedField"`` before the element they qualify.

        Returns
        -------
        list of Value
            One :class:`Value` per value, in the order of the message.

        Raises
        ------
        BufrError
            For a bad message.
        ValueError
            When the file is closed.

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> [(v.key, v.value, v.unit) for v in message.values()][:2]
        [('blockNumber', 10.0, 'Numeric'), ('stationNumber', 33.0, 'Numeric')]
        """
        if self.error is not None:
            raise self._file._error(self.index, self.offset, self.error)
        decoded, self._decoded = self._decoded, None
        # A closed file decodes nothing, whether or not this message was decoded before.
        if decoded is None or self._file.closed:
            decoded = self._file._decode(self.index, self.offset, self.length)
        return decoded.values()

    def to_numpy(
        self, columns: Optional[Iterable[str]] = None, *, keys: Optional[Iterable[str]] = None
    ) -> Dict[str, numpy.ndarray]:
        """The values of the message as NumPy arrays, one row per subset.

        Parameters
        ----------
        columns : iterable of str, optional
            The columns to decode, as :meth:`BufrFile.to_numpy` takes them; None decodes every key.
        keys : iterable of str, optional
            The same as ``columns``, under its earlier name; give one of the two.

        Returns
        -------
        dict of str to numpy.ndarray
            As :meth:`BufrFile.to_numpy` gives them, for this message alone.

        Raises
        ------
        BufrError
            For a bad message.
        TypeError
            When both ``columns`` and ``keys`` are given.

        Examples
        --------
        >>> arrays = corvane.open(corvane.sample_path())[0].to_numpy(["airTemperature"])
        >>> print(arrays["subset"][:3], arrays["airTemperature"][:3])
        [1 2 3] [   nan 286.65 285.05]
        """
        if self.error is not None:
            raise self._file._error(self.index, self.offset, self.error)
        chosen = chosen_columns(columns, keys)
        table = self._file._decode_columns(chosen, None, [self.index])
        if table.errors:
            raise self._file._failure(table.errors[0])
        return arrays(table, chosen)

    def to_bytes(self) -> bytes:
        """The message's bytes, exactly as they are in its file, from "BUFR" to "7777".

        Returns
        -------
        bytes

        Raises
        ------
        ValueError
            When the file is closed.

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> data = message.to_bytes()
        >>> print(data[:4], data[-4:], len(data) == message.length)
        b'BUFR' b'7777' True
        """
        return bytes(self._file._data[self.offset : self.offset + self.length])

    def replace(
        self,
        *,
        centre: Optional[int] = None,
        subcentre: Optional[int] = None,
        master_version: Optional[int] = None,
        local_version: Optional[int] = None,
        update_sequence: Optional[int] = None,
        data_category: Optional[int] = None,
        time: Optional[datetime.datetime] = None,
    ) -> bytes:
        """The message with fields of section 1 changed, its data untouched, as edition 4.

        Section 1 is written anew in the layout of edition 4 (an edition 2 or 3 message becomes an
        edition-4 one, with international sub-category 255); sections 2 to 5 keep their bytes.

        Parameters
        ----------
        centre, subcentre : int, optional
            The originating centre and sub-centre (0 to 65535).
        master_version, local_version, update_sequence, data_category : int, optional
            Their octets of section 1 (0 to 255).
        time : datetime.datetime, optional
            The typical time, to the second.

        Returns
        -------
        bytes
            The whole message; :func:`corvane.write` writes it, :func:`corvane.open` reads it.

        Raises
        ------
        ValueError
            For a field out of its range, or a closed file.
        BufrError
            For a kept bad message whose sections cannot be read.

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> corvane.open(message.replace(centre=98, update_sequence=1))[0].centre
        98
        """
        if self.error is not None and self._metadata is None:
            raise self._file._error(self.index, self.offset, self.error)
        return rebuilt(
            self,
            self.to_bytes(),
            centre=centre,
            subcentre=subcentre,
            master_version=master_version,
            local_version=local_version,
            update_sequence=update_sequence,
            data_category=data_category,
            time=time,
        )

    def extract_subsets(self, indices: Iterable[int]) -> bytes:
        """A message of the chosen subsets alone, re-encoded from their values, compressed or not
        as this one is.

        Section 1 (as edition 4, as :meth:`replace` writes it), section 2 and the descriptors stay
        as they are; section 3 counts the chosen subsets, in the order given.

        Parameters
        ----------
        indices : iterable of int
            The subsets to keep, from 0 (``Value.subset`` counts from 1); a subset may be chosen
            more than once.

        Returns
        -------
        bytes
            The whole message; :func:`corvane.write` writes it, :func:`corvane.open` reads it.

        Raises
        ------
        IndexError
            For an index outside ``range(self.subsets)``.
        ValueError
            When no index is given.
        BufrError
            For a bad message, or one whose values cannot be written back (a 203YYY definition of
            new reference values, which :meth:`values` leaves out).

        Examples
        --------
        >>> message = corvane.open(corvane.sample_path())[0]
        >>> part = corvane.open(message.extract_subsets([0, 2]))[0]
        >>> print(part.subsets, part.values()[1].value == message.values()[1].value)
        2 True
        """
        chosen = [operator.index(i) for i in indices]
        if not chosen:
            raise ValueError("give the index of at least one subset to extract")
        for i in chosen:
            if not 0 <= i < (self.subsets or 0):
                raise IndexError(f"subset index {i} is outside range({self.subsets}) of this message")
        per_subset: List[list] = [[] for _ in range(self.subsets or 0)]
        for value in self.values():
            per_subset[value.subset - 1].append(value.value)
        metadata = self._metadata
        assert metadata is not None  # values() raised for a message without sections
        encoded = encode(
            self.descriptors or [],
            [per_subset[i] for i in chosen],
            compressed=bool(self.compressed),
            centre=metadata.centre,
            subcentre=metadata.subcentre,
            master_version=metadata.master_version,
            local_version=metadata.local_version,
            data_category=metadata.data_category,
            observed=bool(metadata.observed),
            section2=metadata.section2,
            tables=self._file.tables,
        )
        # The original section 1 keeps its time (valid or not) and its local octets.
        return with_section1(self.replace(), encoded)

    def __repr__(self) -> str:
        if self.error is not None:
            return f"<Message {self.index} at byte {self.offset}: error {self.error!r}>"
        time = self.time.isoformat(sep=" ") if self.time else "no valid time"
        return (
            f"<Message {self.index} at byte {self.offset}: edition {self.edition}, centre {self.centre}, "
            f"category {self.data_category}, {time}, {self.subsets} subsets>"
        )
