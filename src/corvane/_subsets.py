"""Subsets given as mappings of keys: which key each value of the subset takes, learnt from the
encoder's own walk, so that Table D, delayed replication and the operators expand as in reading."""

from __future__ import annotations

import operator
import re
from typing import Callable, Dict, List, Mapping, Optional, Sequence, Set, Tuple, Union

from ._errors import BufrError
from ._keys import unknown_key

__all__ = ["Layouts"]

InputValue = Union[float, int, str, None]

#: Every value of a subset in order: their keys, their "#n#key" names, and where the delayed
#: replication factors stand.
Walk = Tuple[List[str], List[str], List[int]]
#: The walk of a subset when the i-th factor takes counts[i], 0 past them; its errors name the
#: subset (from 0) given.
Walker = Callable[[Tuple[int, ...], int], Walk]

_RANKED = re.compile(r"#(\d+)#(.+)")


class _Layout:
    """One walk, with what reading a record by it takes."""

    __slots__ = ("keys", "names", "factors", "named", "take", "_positions")

    def __init__(self, walk: Walk) -> None:
        self.keys, self.names, self.factors = walk
        self.named = frozenset(self.names)
        names = self.names
        # The value of every name at once, or KeyError; itemgetter of one name gives no tuple.
        self.take: Callable[[Mapping[str, object]], Sequence[object]] = (
            operator.itemgetter(*names) if len(names) > 1 else lambda record: [record[name] for name in names]
        )
        self._positions: Optional[Dict[str, List[int]]] = None

    @property
    def positions(self) -> Dict[str, List[int]]:
        """Where each key occurs; made on first need, which records of "#n#key" alone never have."""
        if self._positions is None:
            self._positions = {}
            for i, key in enumerate(self.keys):
                self._positions.setdefault(key, []).append(i)
        return self._positions

    def value_of(self, record: Mapping[str, object], at: int) -> InputValue:
        """What `record` gives value `at`: its "#n#key", else its key (a list for every occurrence)."""
        ranked = record.get(self.names[at])
        if ranked is not None:
            return ranked  # type: ignore[return-value]
        key = self.keys[at]
        given = record.get(key)
        if given is None:
            return None
        rank = self.positions[key].index(at) + 1
        if _is_list(given):
            items: Sequence[InputValue] = given  # type: ignore[assignment]
            return items[rank - 1] if rank <= len(items) else None
        return given if rank == 1 else None  # type: ignore[return-value]


class Layouts:
    """The keys of a subset's values for each choice of delayed replication counts: the i-th
    factor takes the i-th count, or 0 past the counts given."""

    def __init__(self, walker: Walker) -> None:
        self._walker = walker
        self._layouts: Dict[Tuple[int, ...], _Layout] = {}
        self._known: Dict[Tuple[int, ...], Set[str]] = {}
        self._last: Tuple[int, ...] = ()
        # The subset whose record is being laid out, which a count that does not fit names.
        self._subset = 0

    def layout(self, counts: Tuple[int, ...]) -> _Layout:
        """The values under these counts, walked once for each distinct counts."""
        known = self._layouts.get(counts)
        if known is None:
            known = self._layouts[counts] = _Layout(self._walker(counts, self._subset))
        return known

    def values(self, record: Mapping[str, object], subset: int) -> List[InputValue]:
        """The values of one subset from a mapping of keys, "#n#key" and lists of repeated keys."""
        self._subset = subset
        # Subsets mostly repeat as the one before: the walk under its counts places each factor
        # as long as the counts before it agree.
        guess = self._last
        layout = self.layout(guess)
        found: List[int] = []
        ranks: Optional[Dict[str, int]] = None
        while len(found) < len(layout.factors):
            at = layout.factors[len(found)]
            given = layout.value_of(record, at)
            if given is None:
                if ranks is None:
                    ranks = _ranks(record)
                given = self._count(record, ranks, subset, tuple(found), at)
            count = int(given)  # type: ignore[arg-type]
            if count < 0:
                raise BufrError(
                    f"subset {subset + 1}: {layout.names[at]!r} is {given!r}: a delayed replication count is 0 or more"
                )
            if count != (guess[len(found)] if len(found) < len(guess) else 0):
                guess, layout = self._guessed(record, layout, (*found, count))
            found.append(count)
        counts = tuple(found)
        if counts != guess:
            self._layouts.setdefault(counts, layout)
        self._last = counts
        # Most records name each value by its "#n#key": only the other names need a look.
        try:
            values: List[InputValue] = list(layout.take(record))
        except KeyError:
            values = list(map(record.get, layout.names))
            others = record.keys() - layout.named
        else:
            others = record.keys() - layout.named if len(record) != len(values) else set()
        if others:
            # In the record's order, so that the first wrong name is the one told.
            named = [name for name in record if name in others]
            self._check(record, subset, counts, layout, named)
            self._fill(record, layout, named, values)
        for at, count in zip(layout.factors, counts):
            values[at] = count
        return values

    def _guessed(
        self, record: Mapping[str, object], walked: _Layout, found: Tuple[int, ...]
    ) -> Tuple[Tuple[int, ...], _Layout]:
        """A guess of the counts that starts with those found, and its walk: the record's values
        of the later factors by their "#n#key" in `walked`, right but for factors within a group
        whose count `walked` had wrong."""
        ahead: List[int] = []
        for at in walked.factors[len(found) :]:
            given = record.get(walked.names[at])
            # A factor takes at most 16 bits; NaN fails the comparison.
            if not isinstance(given, (int, float)) or not 0 <= given < 0x10000:
                break
            ahead.append(int(given))
        guess = (*found, *ahead)
        try:
            return guess, self.layout(guess)
        except BufrError:
            # A count that does not fit where the guess put it: the counts found alone.
            return found, self.layout(found)

    @staticmethod
    def _fill(record: Mapping[str, object], layout: _Layout, names: List[str], values: List[InputValue]) -> None:
        """Gives each key that the record names without "#n#" to the occurrences it has no
        "#n#key" for: a list to each in turn, a single value to the first."""
        for name in names:
            at = layout.positions.get(name)
            if at is None:
                continue
            given = record[name]
            if _is_list(given):
                for i, item in zip(at, given):  # type: ignore[call-overload]
                    if values[i] is None:
                        values[i] = item
            elif values[at[0]] is None:
                values[at[0]] = given  # type: ignore[assignment]

    def _check(
        self, record: Mapping[str, object], subset: int, counts: Tuple[int, ...], layout: _Layout, names: List[str]
    ) -> None:
        """Fails for a name that no value of the message has, or that asks for more occurrences
        than the subset has of its key."""
        for name in names:
            given = record[name]
            ranked = _RANKED.fullmatch(name) if name.startswith("#") else None
            key, rank = (ranked.group(2), int(ranked.group(1))) if ranked else (name, 1)
            have = len(layout.positions.get(key, ()))
            if not have and key not in self._known_keys(counts):
                raise unknown_key(name, self._known_keys(counts))
            if given is not None and rank > have or _is_list(given) and len(given) > have:  # type: ignore[arg-type]
                raise BufrError(
                    f"subset {subset + 1}: {name!r} asks for more occurrences than the {have} of"
                    f" {key!r} that its descriptors have"
                )

    def _known_keys(self, counts: Tuple[int, ...]) -> Set[str]:
        """The keys a record of these counts may name: those of groups repeated no times too."""
        known = self._known.get(counts)
        if known is None:
            known = set(self.layout(counts).positions)
            for i in range(len(counts)):
                known.update(self.layout(counts[:i]).positions, self.layout(counts[:i] + (1,)).positions)
            self._known[counts] = known
        return known

    def _count(
        self, record: Mapping[str, object], ranks: Mapping[str, int], subset: int, counts: Tuple[int, ...], at: int
    ) -> int:
        """The count of the group whose factor is value `at`: the length of the first list among
        the group's keys, less their occurrences before it; else as far as "#n#key" reaches, for
        the keys that occur nowhere else."""
        once, never = self.layout(counts + (1,)), self.layout(counts + (0,))
        end = at + 1 + len(once.keys) - len(never.keys)
        group = dict.fromkeys(once.keys[i] for i in range(at + 1, end) if i not in once.factors)
        everything = once.keys[at + 1 : end]
        before = once.keys[:at]
        elsewhere = never.positions
        decided: Optional[Tuple[str, int]] = None
        reached = 0
        for key in group:
            per = everything.count(key)
            earlier = before.count(key)
            given = record.get(key)
            if key not in elsewhere:
                rank = max(ranks.get(key, 0), 0 if given is None or _is_list(given) else 1)
                reached = max(reached, -(-rank // per))
            if not _is_list(given):
                continue
            count, left = divmod(len(given) - earlier, per)  # type: ignore[arg-type]
            if count < 0 or left:
                raise BufrError(
                    f"subset {subset + 1}: the {len(given)} values of {key!r} are no whole number of"  # type: ignore[arg-type]
                    f" repetitions of its replicated group ({per} a repetition, {earlier} before it)"
                )
            if decided is None:
                decided = key, count
            elif decided[1] != count:
                raise BufrError(
                    f"subset {subset + 1}: {decided[0]!r} gives {decided[1]} repetitions of its replicated"
                    f" group and {key!r} gives {count}: give lists of one length for the keys of a group"
                )
        return decided[1] if decided is not None else reached


def _ranks(record: Mapping[str, object]) -> Dict[str, int]:
    """The highest n of each key that the record gives a "#n#key" of; an empty cell of a CSV
    column asks for no repetition."""
    ranks: Dict[str, int] = {}
    for name, given in record.items():
        ranked = _RANKED.fullmatch(name) if given is not None else None
        if ranked:
            key = ranked.group(2)
            ranks[key] = max(ranks.get(key, 0), int(ranked.group(1)))
    return ranks


def _is_list(value: object) -> bool:
    return isinstance(value, (list, tuple)) or hasattr(value, "__array__") and getattr(value, "ndim", 0) == 1
