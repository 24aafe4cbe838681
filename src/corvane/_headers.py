"""What sections 0 to 3 of the messages of a file say, for the header keys of corvane.read."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Dict, List, Optional, Sequence

from . import _core, _keys
from ._file import BufrFile
from ._filters import Filter

if TYPE_CHECKING:
    import numpy as np
else:
    from ._lazy import numpy as np

__all__ = ["Headers"]


class Headers:
    """What sections 0 to 3 of each message of a file say, read once, for header keys."""

    def __init__(self, bufr: BufrFile) -> None:
        self.bufr = bufr
        self._columns: Optional[Dict[str, Sequence[int]]] = None

    def columns(self) -> Dict[str, Sequence[int]]:
        """Every header field of every message, from one native call: no object per message."""
        if self._columns is None:
            found = _core.parse_all(*self.bufr._contents())
            found.pop("errors")
            self._columns = {name: memoryview(cells).cast("q") for name, cells in found.items()}  # type: ignore
        return self._columns

    def select(self, pandas: Any, tests: List[Filter], messages: Optional[Sequence[int]]) -> Optional[Sequence[int]]:
        """The messages whose headers pass `tests`, before any section 4 is read."""
        if not tests:
            return messages
        every = (
            np.arange(len(self.columns()["valid"])) if messages is None else np.asarray(list(messages), dtype=np.intp)
        )
        keep = np.ones(len(every), dtype=bool)
        for test in tests:
            keep &= test.mask(pandas, self.column(test.column, every))
        return [int(index) for index in every[keep]]

    def column(self, name: str, message_of_row: np.ndarray) -> Any:
        if name == "typical_datetime":
            return _keys.typical_datetime_column(self.columns(), message_of_row)
        # A message that cannot be read has no value.
        values = zip(_keys.header_values(name, self.columns()), self.columns()["valid"])
        return _keys.rows_of([value if ok else None for value, ok in values], message_of_row)
