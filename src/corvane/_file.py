"""Opening BUFR files and reading their messages."""

from __future__ import annotations

from typing import Callable, Iterable, Iterator, List, Optional, Union, overload

from . import _core
from ._errors import HINT
from ._filedata import Errors, FileData
from ._message import Message, Value
from ._sources import Source, load
from ._tables import TablesSource, resolve

__all__ = ["open", "BufrFile", "Message", "Value", "Errors", "Source"]

_ERRORS = ("raise", "skip", "keep")


def open(source: Source, *, tables: TablesSource = None, errors: Errors = "raise") -> BufrFile:
    """Opens a BUFR file, or BUFR bytes, for reading its messages.

    A regular file is mapped, not read: it opens at once whatever its size, and its bytes are read
    from disk as its messages are. Other sources are read whole, and decompressed when they hold
    gzip, bzip2 or xz data (told by their first bytes, whatever the name), as a compressed file
    is. Bytes between messages and a truncated tail never cost the good messages; a compressed
    stream cut short keeps the messages before the cut, which ends them as a bad message.

    Parameters
    ----------
    source : str, os.PathLike, bytes-like or binary file object
        The path of a BUFR file, its bytes, or a file object opened in binary mode.
    tables : Tables, str, os.PathLike or _corvane.TableSet, optional
        The BUFR tables (see :class:`Tables`); by default the ecCodes tables that ship with the
        package, chosen per message.
    errors : {"raise", "skip", "keep"}, default "raise"
        What to do with a message that cannot be decoded: raise :class:`BufrError` when
        iteration reaches it, skip it, or keep it with its ``error`` set.

    Returns
    -------
    BufrFile
        The messages of the file, in order.

    Raises
    ------
    OSError
        When the path cannot be read (FileNotFoundError for a missing file).
    TypeError
        For a source of another type, or a file object that gives text.
    ValueError
        For an ``errors`` mode other than the three.
    MemoryError
        For a stream that decompresses to more than 64 times its size (and 256 MiB).

    Examples
    --------
    >>> import corvane
    >>> with corvane.open(corvane.sample_path()) as bufr:
    ...     message = bufr[0]
    ...     for value in message.values():
    ...         if value.key == "airTemperature" and value.subset <= 3:
    ...             print(message.time, value.subset, value.value, value.unit)
    2021-05-16 12:00:00 1 None K
    2021-05-16 12:00:00 2 286.65 K
    2021-05-16 12:00:00 3 285.05 K
    """
    if errors not in _ERRORS:
        raise ValueError(f"errors={errors!r}: use 'raise', 'skip' or 'keep'")
    chosen = resolve(tables)
    loaded = load(source)
    return BufrFile(loaded.data, tables=chosen, errors=errors, name=loaded.name, cut=loaded.cut)


class BufrFile(FileData):
    """The messages of one BUFR file, in order; made by :func:`open`.

    Iterating gives every :class:`Message`, ``len()`` counts them, ``bufr[i]`` is the i-th and
    ``bufr[i:j]`` a list of them (as iteration gives them: with ``errors="skip"`` bad messages
    are not counted). :meth:`headers` lists the messages without decoding them; :meth:`to_numpy`,
    :meth:`to_arrow` and :meth:`table` decode them into columns. A ``with`` block closes it.

    Attributes
    ----------
    name : str or None
        The path it was read from, which errors name; None for bytes.
    tables : Tables
        The tables its messages are decoded with.
    errors : {"raise", "skip", "keep"}
        What its bad messages do (see :func:`open`).

    Examples
    --------
    >>> bufr = corvane.open(corvane.sample_path())
    >>> print(len(bufr), bufr[0].edition, bufr[-1].time)
    44 4 2021-05-16 11:50:00
    """

    def headers(self) -> Iterator[Message]:
        """Every message with what sections 0 to 3 say, section 4 unread: listing a file costs no
        decoding.

        ``error`` tells only of sections that cannot be read, and the ``errors`` mode applies to
        those; :meth:`Message.values` decodes as ever, and raises :class:`BufrError` for bad data.

        Returns
        -------
        iterator of Message

        Examples
        --------
        >>> [(m.index, m.subsets) for m in corvane.open(corvane.sample_path()).headers()][:3]
        [(0, 25), (1, 1), (2, 1)]
        """
        for entry in self._entries:
            metadata = None
            error = entry.error
            if error is None:
                try:
                    # No reference to the bytes across the yield: closing unmaps them at once.
                    metadata = _core.parse(self._data, entry.offset, entry.length)
                except ValueError as failure:
                    error = str(failure)
            message = self._deliver(Message(self, entry.index, entry.offset, entry.length, metadata, error))
            if message is not None:
                yield message

    def select(
        self, where: Optional[Callable[[Message], bool]] = None, *, messages: Optional[Iterable[int]] = None
    ) -> List[Message]:
        """The messages chosen by index, by a test of their headers, or both, section 4 unread.

        What :func:`corvane.write` takes to copy or split a file byte for byte.

        Parameters
        ----------
        where : callable, optional
            Takes a :class:`Message` as :meth:`headers` gives it and says whether to keep it.
        messages : iterable of int, optional
            The indices of the messages to keep (as :attr:`Message.index` counts them), in file
            order whatever order they come in; None keeps every one ``where`` keeps.

        Returns
        -------
        list of Message
            In file order; the errors mode applies to bad messages as :meth:`headers` applies it.

        Raises
        ------
        IndexError
            For an index the file does not have.

        Examples
        --------
        >>> bufr = corvane.open(corvane.sample_path())
        >>> [m.index for m in bufr.select(lambda m: m.subsets > 1, messages=range(5))]
        [0, 3, 4]
        """
        wanted = None
        if messages is not None:
            entries = self._entries
            wanted = {self._entry(entries, index).index for index in messages}
        return [
            message
            for message in self.headers()
            if (wanted is None or message.index in wanted) and (where is None or where(message))
        ]

    def _message(self, index: int) -> Message:
        """Message ``index`` of the file, read and decoded; a bad one has its error set."""
        data, entries = self._contents()
        offset, length, error = entries[index].offset, entries[index].length, entries[index].error
        decoded = metadata = None
        if error is None:
            try:
                decoded = _core.decode(data, offset, length, self.tables._native)
                metadata = decoded.metadata
            except ValueError as failure:
                error = str(failure)
                try:
                    metadata = _core.parse(data, offset, length)
                except ValueError:
                    pass
        message = Message(self, index, offset, length, metadata, error)
        message._decoded = decoded
        return message

    def _deliver(self, message: Message) -> Optional[Message]:
        """The message as the errors mode shows it, or None to leave it out."""
        if message.error is None or self.errors == "keep":
            return message
        if self.errors == "skip":
            return None
        raise self._error(message.index, message.offset, message.error, HINT)

    def __iter__(self) -> Iterator[Message]:
        previous: Optional[Message] = None
        for index in range(len(self._entries)):
            message = self._deliver(self._message(index))
            if message is None:
                continue
            # A kept message decodes again if asked; holding every message's values would
            # hold the whole file decoded.
            if previous is not None:
                previous._decoded = None
            previous = message
            yield message

    def _good_indices(self) -> List[int]:
        if self._good is None:
            self._good = [i for i in range(len(self._entries)) if self._message(i).error is None]
        return self._good

    def __len__(self) -> int:
        if self.errors == "skip":
            return len(self._good_indices())
        return len(self._entries)

    @overload
    def __getitem__(self, index: int) -> Message: ...

    @overload
    def __getitem__(self, index: slice) -> List[Message]: ...

    def __getitem__(self, index: Union[int, slice]) -> Union[Message, List[Message]]:
        """The i-th message, or a list of the messages of a slice (``bufr[1:3]``), as a list gives them."""
        indices = self._good_indices() if self.errors == "skip" else range(len(self._entries))
        if isinstance(index, slice):
            chosen = [self._chosen(position) for position in indices[index]]
            # Values decode again when asked: a long slice must not hold the file decoded.
            for message in chosen:
                message._decoded = None
            return chosen
        try:
            position = indices[index]
        except IndexError:
            raise IndexError(f"message {index} out of range: the file has {len(indices)} messages") from None
        except TypeError:
            raise TypeError(f"messages are indexed by int or slice, not {type(index).__name__}") from None
        return self._chosen(position)

    def _chosen(self, position: int) -> Message:
        message = self._message(position)
        if message.error is not None and self.errors == "raise":
            raise self._error(message.index, message.offset, message.error, HINT)
        return message

    def __repr__(self) -> str:
        held = "closed" if self._held is None else f"{len(self._entries)} messages"
        return f"<BufrFile {self.name or 'from bytes'}: {held}>"
