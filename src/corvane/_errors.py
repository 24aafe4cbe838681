"""The package's one exception type."""

from __future__ import annotations

from typing import Optional


class BufrError(ValueError):
    """A message that cannot be read, decoded or written; a ValueError.

    Its text names the source, the message index and byte offset, and the reason; an error that
    belongs to no message of a file (as :func:`corvane.encode`'s) is its reason alone.

    Attributes
    ----------
    index : int or None
        The message's position in its file (from 0, counting every "BUFR" marker); None for an
        error of no message of a file.
    offset : int or None
        The byte where the message starts; None as for `index`.
    reason : str
        What went wrong.
    source : str or None
        The path of the file; None for bytes.

    Examples
    --------
    >>> data = corvane.sample_path().read_bytes()
    >>> cut = corvane.open(data)[1]
    >>> try:
    ...     corvane.open(data[:cut.offset + 100])[1]
    ... except corvane.BufrError as error:
    ...     print(error.index, error.offset, error.reason)
    1 5697 ...
    """

    def __init__(
        self,
        reason: str,
        *,
        index: Optional[int] = None,
        offset: Optional[int] = None,
        source: Optional[str] = None,
        hint: str = "",
    ) -> None:
        where = f"{source}: " if source else ""
        if index is not None:
            where += f"message {index} at byte {offset}: "
        super().__init__(f"{where}{reason}{hint}")
        self.reason = reason
        self.index = index
        self.offset = offset
        self.source = source


# What a BufrError of the "raise" errors mode adds.
HINT = " (pass errors='skip' to leave bad messages out, or errors='keep' to see them with .error)"
