"""Writing messages as they are, and rewriting section 1 of one."""

from __future__ import annotations

import datetime
import io
import os
from typing import TYPE_CHECKING, BinaryIO, Iterable, Optional, Union

if TYPE_CHECKING:
    from ._message import Message

__all__ = ["write", "Target", "rebuilt"]

Target = Union[str, "os.PathLike[str]", BinaryIO]
# Section 0: "BUFR", the total length in three octets, the edition.
_SECTION0 = 8
# The fixed octets of section 1 in edition 4, local data after them.
_SECTION1_FIXED = 22


def write(target: Target, messages: Iterable[Union[bytes, bytearray, memoryview, Message]]) -> int:
    """Writes BUFR messages one after the other, each byte for byte.

    Parameters
    ----------
    target : str, os.PathLike or binary file object
        A path (created or emptied) or a file object opened for writing in binary mode.
    messages : iterable of bytes or Message
        Whole messages: bytes as :func:`corvane.encode` or :meth:`Message.replace` give them, or
        :class:`Message` objects, written as :meth:`Message.to_bytes` gives them.

    Returns
    -------
    int
        How many messages were written.

    Raises
    ------
    TypeError
        For an item that is neither bytes nor a Message, or a target that is no binary file.
    ValueError
        For bytes that are no whole message (not from "BUFR" to "7777").

    Examples
    --------
    >>> import io
    >>> out = io.BytesIO()
    >>> corvane.write(out, corvane.open(corvane.sample_path())[:3])
    3
    """
    if isinstance(target, (str, os.PathLike)):
        with open(target, "wb") as out:
            return _write_all(out, messages)
    if not hasattr(target, "write") or isinstance(target, io.TextIOBase):
        raise TypeError(f"write to a path or a file opened in binary mode ('wb'), not {type(target).__name__}")
    return _write_all(target, messages)


def _write_all(out: BinaryIO, messages: Iterable[Union[bytes, bytearray, memoryview, Message]]) -> int:
    from ._message import Message

    count = 0
    for item in messages:
        if isinstance(item, Message):
            data = item.to_bytes()
        elif isinstance(item, (bytes, bytearray, memoryview)):
            data = bytes(item)
            if not (data.startswith(b"BUFR") and data.endswith(b"7777")):
                raise ValueError(
                    f"item {count} is no whole BUFR message: it must run from 'BUFR' to '7777', as "
                    "corvane.encode() and Message.to_bytes() give them"
                )
        else:
            raise TypeError(f"item {count} is a {type(item).__name__}: write bytes or corvane.Message objects")
        out.write(data)
        count += 1
    return count


def _octets(name: str, value: int, size: int) -> bytes:
    top = (1 << (8 * size)) - 1
    if not isinstance(value, int) or isinstance(value, bool) or not 0 <= value <= top:
        raise ValueError(f"{name}={value!r}: give an int from 0 to {top}")
    return value.to_bytes(size, "big")


def rebuilt(
    message: Message,
    data: bytes,
    *,
    centre: Optional[int],
    subcentre: Optional[int],
    master_version: Optional[int],
    local_version: Optional[int],
    update_sequence: Optional[int],
    data_category: Optional[int],
    time: Optional[datetime.datetime],
) -> bytes:
    """The message's bytes with section 1 written anew in the layout of edition 4, the fields given
    changed; sections 2 to 5 as they were."""
    metadata = message._metadata
    if metadata is None:
        raise message._file._error(message.index, message.offset, message.error or "no section 1")
    old_length = int.from_bytes(data[_SECTION0 : _SECTION0 + 3], "big")
    # Edition 4 keeps its local data after the fixed octets; those of editions 2 and 3 were padding.
    local = data[_SECTION0 + _SECTION1_FIXED : _SECTION0 + old_length] if metadata.edition == 4 else b""
    # Editions 2 and 3 mark section 2 by any bit of their flag octet, edition 4 by the first only.
    flags = data[_SECTION0 + 9] if metadata.edition == 4 else (0x80 if data[_SECTION0 + 7] else 0)
    if time is None:
        stamp = (metadata.year, metadata.month, metadata.day, metadata.hour, metadata.minute, metadata.second)
    else:
        stamp = (time.year, time.month, time.day, time.hour, time.minute, time.second)
    section1 = b"".join(
        (
            (_SECTION1_FIXED + len(local)).to_bytes(3, "big"),
            bytes([metadata.master_table]),
            _octets("centre", metadata.centre if centre is None else centre, 2),
            _octets("subcentre", metadata.subcentre if subcentre is None else subcentre, 2),
            _octets("update_sequence", metadata.update_sequence if update_sequence is None else update_sequence, 1),
            bytes([flags]),
            _octets("data_category", metadata.data_category if data_category is None else data_category, 1),
            bytes([metadata.international_subcategory, metadata.local_subcategory]),
            _octets("master_version", metadata.master_version if master_version is None else master_version, 1),
            _octets("local_version", metadata.local_version if local_version is None else local_version, 1),
            stamp[0].to_bytes(2, "big"),
            bytes(stamp[1:]),
            local,
        )
    )
    rest = data[_SECTION0 + old_length :]
    total = _SECTION0 + len(section1) + len(rest)
    return b"BUFR" + total.to_bytes(3, "big") + b"\x04" + section1 + rest


def with_section1(head: bytes, body: bytes) -> bytes:
    """The edition-4 message `body` with the section 1 of the edition-4 message `head`."""
    head_end = _SECTION0 + int.from_bytes(head[_SECTION0 : _SECTION0 + 3], "big")
    rest = body[_SECTION0 + int.from_bytes(body[_SECTION0 : _SECTION0 + 3], "big") :]
    return b"BUFR" + (head_end + len(rest)).to_bytes(3, "big") + head[7:head_end] + rest
