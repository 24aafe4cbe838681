"""Subsets given as mappings of keys: which key each value of the subset takes, learnt from the
encoder's own walk, so that Table D, delayed replication and the operators expand as in reading."""

from __future__ import annotations

import re
from typing import Callable, Dict, List, Mapping, Optional, Sequence, Set, Tuple, Union

from ._errors import BufrError
from ._keys import unknown_key

__all__ = ["Layouts"]

InputValue = Union[float, int, str, None]

#: The value that comes next, as (key, code); None once the values complete the subset.
Probe = Callable[[List[InputValue]], Optional[Tuple[str, int]]]

# Delayed replication and repetition factors: their value is the count of their group.
_FACTORS = frozenset({31000, 31001, 31002, 31011, 31012})
_RANKED = re.compile(r"#(\d+)#(.+)")
_NEXT = re.compile(r"the next is (\S+)(?: \((\d{6})\))?;")


def next_value(error: ValueError) -> Optional[Tuple[str, int]]:
    """The key and code of the value that an encoder's "too few values" error names, if it is one."""
    found = _NEXT.search(str(error))
    if found is None:
        return None
    key, code = found.group(1), found.group(2) or found.group(1)
    return key, int(code) if code.isdigit() else 0


Walk = List[Tuple[str, int]]


class Layouts:
    """The keys of a subset's values for each choice of delayed replication counts: the i-th
    factor takes the i-th count, or 0 past the counts given."""

    def __init__(self, probe: Probe) -> None:
        self._probe = probe
        self._walks: Dict[Tuple[int, ...], Walk] = {}

    def walk(self, counts: Tuple[int, ...]) -> Walk:
        """The keys and codes of every value, in order, under these counts."""
        known = self._walks.get(counts)
        if known is not None:
            return known
        keys: Walk = []
        if counts:
            base = self.walk(counts[:-1])
            factors = [i for i, (_, code) in enumerate(base) if code in _FACTORS]
            if len(factors) < len(counts):
                self._walks[counts] = base
                return base
            keys = base[: factors[len(counts) - 1] + 1]
        values = _placeholders(keys, counts)
        while True:
            following = self._probe(values)
            if following is None:
                break
            keys.append(following)
            factor = following[1] in _FACTORS
            taken = sum(code in _FACTORS for _, code in keys) - 1
            values.append((counts[taken] if taken < len(counts) else 0) if factor else None)
        self._walks[counts] = keys
        return keys

    def values(self, record: Mapping[str, object], subset: int) -> List[InputValue]:
        """The values of one subset from a mapping of keys, "#n#key" and lists of repeated keys."""
        ranks: Dict[str, int] = {}
        for name, given in record.items():
            ranked = _RANKED.fullmatch(name)
            # An empty cell of a CSV column asks for no repetition.
            if ranked and given is not None:
                key = ranked.group(2)
                ranks[key] = max(ranks.get(key, 0), int(ranked.group(1)))
        counts: Tuple[int, ...] = ()
        # The keys of groups repeated no times are keys of the message too.
        known: Set[str] = set()
        while True:
            keys = self.walk(counts)
            known.update(key for key, _ in keys)
            factors = [i for i, (_, code) in enumerate(keys) if code in _FACTORS]
            if len(factors) <= len(counts):
                break
            at = factors[len(counts)]
            factor = keys[at][0]
            given = _value_of(record, factor, sum(key == factor for key, _ in keys[: at + 1]))
            known.update(key for key, _ in self.walk(counts + (1,)))
            if given is None:
                given = self._count(record, ranks, subset, counts, at)
            counts += (int(given),)  # type: ignore[arg-type]
        return _assign(record, subset, keys, counts, known)

    def _count(
        self, record: Mapping[str, object], ranks: Mapping[str, int], subset: int, counts: Tuple[int, ...], at: int
    ) -> int:
        """The count of the group whose factor is value `at`: the length of the first list among
        the group's keys, less their occurrences before it; else as far as "#n#key" reaches, for
        the keys that occur nowhere else."""
        once, never = self.walk(counts + (1,)), self.walk(counts + (0,))
        group = once[at + 1 : at + 1 + len(once) - len(never)]
        before = [key for key, _ in once[:at]]
        elsewhere = {key for key, _ in never}
        decided: Optional[Tuple[str, int]] = None
        reached = 0
        for key in dict.fromkeys(key for key, code in group if code not in _FACTORS):
            per = sum(k == key for k, _ in group)
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
                    f" repetitions of its replicated group ({per} a repetition, {earlier} before it)",
                    index=0,
                    offset=0,
                )
            if decided is None:
                decided = key, count
            elif decided[1] != count:
                raise BufrError(
                    f"subset {subset + 1}: {decided[0]!r} gives {decided[1]} repetitions of its replicated"
                    f" group and {key!r} gives {count}: give lists of one length for the keys of a group",
                    index=0,
                    offset=0,
                )
        return decided[1] if decided is not None else reached


def _is_list(value: object) -> bool:
    return isinstance(value, (list, tuple)) or hasattr(value, "__array__") and getattr(value, "ndim", 0) == 1


def _placeholders(keys: Walk, counts: Tuple[int, ...]) -> List[InputValue]:
    values: List[InputValue] = []
    taken = 0
    for _, code in keys:
        if code in _FACTORS:
            values.append(counts[taken] if taken < len(counts) else 0)
            taken += 1
        else:
            values.append(None)
    return values


def _assign(
    record: Mapping[str, object], subset: int, keys: Walk, counts: Tuple[int, ...], known: Set[str]
) -> List[InputValue]:
    occurrences: Dict[str, int] = {}
    for key, _ in keys:
        occurrences[key] = occurrences.get(key, 0) + 1
    for name, given in record.items():
        ranked = _RANKED.fullmatch(name)
        key, rank = (ranked.group(2), int(ranked.group(1))) if ranked else (name, 1)
        if key not in known:
            raise unknown_key(name, known)
        have = occurrences.get(key, 0)
        if given is not None and rank > have or _is_list(given) and len(given) > have:  # type: ignore[arg-type]
            raise BufrError(
                f"subset {subset + 1}: {name!r} asks for more occurrences than the {have} of"
                f" {key!r} that its descriptors have",
                index=0,
                offset=0,
            )
    values: List[InputValue] = []
    seen: Dict[str, int] = {}
    taken = 0
    for key, code in keys:
        rank = seen[key] = seen.get(key, 0) + 1
        if code in _FACTORS:
            values.append(counts[taken])
            taken += 1
            continue
        values.append(_value_of(record, key, rank))
    return values


def _value_of(record: Mapping[str, object], key: str, rank: int) -> InputValue:
    ranked = record.get(f"#{rank}#{key}")
    if ranked is not None:
        return ranked  # type: ignore[return-value]
    given = record.get(key)
    if _is_list(given):
        items: Sequence[InputValue] = given  # type: ignore[assignment]
        return items[rank - 1] if rank <= len(items) else None
    return given if rank == 1 else None  # type: ignore[return-value]
