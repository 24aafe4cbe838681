"""The package's one exception type."""
from __future__ import annotations


class BufrError(ValueError):
    """A message that cannot be read or decoded.

    ``index`` is the message's position in its file (from 0, counting every "BUFR" marker),
    ``offset`` the byte where it starts and ``reason`` what went wrong.

    >>> try:
    ...     corvane.open("broken.bufr")[3].values()
    ... except corvane.BufrError as error:
    ...     print(error.index, error.offset, error.reason)
    """

    def __init__(self, reason: str, *, index: int, offset: int, source: str | None = None, hint: str = "") -> None:
        where = f"{source}: " if source else ""
        super().__init__(f"{where}message {index} at byte {offset}: {reason}{hint}")
        self.reason = reason
        self.index = index
        self.offset = offset
        self.source = source
