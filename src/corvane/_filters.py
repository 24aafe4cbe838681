"""The row filters of :func:`corvane.read` and :meth:`corvane.BufrFile.table`, and the computed
columns that they may name."""

from __future__ import annotations

from typing import TYPE_CHECKING, Any, Callable, Dict, List, Mapping, NamedTuple, Optional, Sequence, Tuple, Union

from ._records import ColumnFilter

if TYPE_CHECKING:
    import numpy as np
else:
    from ._lazy import numpy as np

__all__ = ["COMPUTED", "Filter", "FilterValue", "native_filters"]

FilterValue = Union[Any, Sequence[Any], slice, Callable[[Any], bool]]

# Columns made from other keys, and the keys each needs.
_DATETIME_KEYS = ("year", "month", "day", "hour", "minute", "second")
_WIGOS_KEYS = ("wigosIdentifierSeries", "wigosIssuerOfIdentifier", "wigosIssueNumber", "wigosLocalIdentifierCharacter")
COMPUTED: Dict[str, Tuple[str, ...]] = {
    "WMO_station_id": ("blockNumber", "stationNumber"),
    "WIGOS_station_id": _WIGOS_KEYS,
    "data_datetime": _DATETIME_KEYS,
}


class Filter(NamedTuple):
    """One entry of ``filters``, and what the decoder can test of it; :meth:`Plan.make` has
    refused a range with a step."""

    column: str
    test: FilterValue

    def native(self) -> Optional[ColumnFilter]:
        """The filter as the decoder takes it, or None when only Python can apply it."""
        test = self.test
        if callable(test) or self.column in COMPUTED:
            return None
        if isinstance(test, slice):
            if not all(_is_number(end) for end in (test.start, test.stop) if end is not None):
                return None
            low = None if test.start is None else float(test.start)
            high = None if test.stop is None else float(test.stop)
            return ColumnFilter(self.column, [], [], low, high, True)
        values = list(test) if isinstance(test, (list, tuple, set, frozenset)) else [test]
        numbers = [float(value) for value in values if _is_number(value)]
        texts = [value for value in values if isinstance(value, str)]
        if len(numbers) + len(texts) != len(values):
            return None
        return ColumnFilter(self.column, sorted(numbers), texts, None, None, False)

    def mask(self, pandas: Any, values: Any) -> np.ndarray:
        """Which of the row values pass."""
        series = pandas.Series(values, copy=False)
        present = series.notna().to_numpy()
        test = self.test
        if callable(test):
            codes, uniques = pandas.factorize(series, use_na_sentinel=True)
            passing = np.fromiter((bool(test(_plain(value))) for value in uniques), dtype=bool, count=len(uniques))
            return present & np.append(passing, False)[codes]
        if isinstance(test, slice):
            passing = present.copy()
            if test.start is not None:
                passing &= (series >= _comparable(pandas, series, test.start)).to_numpy(dtype=bool, na_value=False)
            if test.stop is not None:
                passing &= (series <= _comparable(pandas, series, test.stop)).to_numpy(dtype=bool, na_value=False)
            return passing
        wanted = list(test) if isinstance(test, (list, tuple, set, frozenset)) else [test]
        wanted = [_comparable(pandas, series, value) for value in wanted]
        return present & series.isin(wanted).to_numpy(dtype=bool)


def _is_number(value: Any) -> bool:
    return isinstance(value, (int, float, np.integer, np.floating)) and not isinstance(value, np.timedelta64)


def _plain(value: Any) -> Any:
    return value.item() if isinstance(value, np.generic) else value


def _comparable(pandas: Any, series: Any, value: Any) -> Any:
    if series.dtype.kind == "M" and not isinstance(value, pandas.Timestamp):
        return pandas.Timestamp(value)
    return value


def native_filters(filters: Optional[Mapping[str, FilterValue]]) -> Optional[List[ColumnFilter]]:
    """The filters of :meth:`corvane.BufrFile.table` as the decoder takes them, or None for none.

    Raises TypeError or ValueError for a filter that only :func:`corvane.read` can apply.
    """
    if filters is None:
        return None
    if not isinstance(filters, Mapping):
        raise TypeError("filters must map keys to a value, a list of values or a slice")
    natives: List[ColumnFilter] = []
    for column, test in filters.items():
        native = Filter(column, test).native()
        if native is None or (isinstance(test, slice) and test.step is not None):
            raise ValueError(
                f"filters[{column!r}]: the decoder tests a value, a list of values or a slice of "
                "numbers without a step; corvane.read applies callables and computed columns"
            )
        natives.append(native)
    return natives
