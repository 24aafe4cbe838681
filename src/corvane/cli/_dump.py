"""``corvane dump``: every value of a file, as text, as ecCodes' ``bufr_dump -jf`` and
``bufr_dump -p`` write it, or as CSV. Messages are decoded and written one at a time."""

from __future__ import annotations

import argparse
import csv
import json
import operator
import sys
from collections import Counter
from itertools import groupby
from typing import TYPE_CHECKING, Dict, Iterable, Iterator, List, Optional, Sequence, TextIO, Tuple, Union

from .. import BufrError, BufrFile, Message, Value, _keys
from ._common import DATA_ERROR, Failures, UsageError, messages, number, open_input
from ._dump_columns import WHOLE as _WHOLE
from ._dump_columns import Element, compressed_elements, csv_cells, csv_field, json_list, uniform

if TYPE_CHECKING:
    import numpy

EXAMPLE = """examples:
  corvane dump synop.bufr -m 0
  corvane dump synop.bufr -m 3 -S 2
  corvane dump synop.bufr --json | jq '.messages[] | select(.key == "airTemperature") | .value'
  corvane dump synop.bufr --flat | grep '^#2#cloudType='
  corvane dump synop.bufr -S 1 --csv > first-subsets.csv
"""

# Units that say nothing beside the value.
_PLAIN_UNITS = (None, "Numeric", "CCITT IA5")
# The header keys that bufr_dump -p writes; the others are computed from them.
_FLAT_HEADER = [key for key in _keys.HEADER_KEYS if key not in ("typicalDate", "typicalTime", "section2Present")]
# What bufr_dump -p writes before the header: replication factors and data present indicators.
_LISTED_FIRST = frozenset({31000, 31001, 31002, 31011, 31012, 31031})
_CSV_HEADER = ["message", "subset", "key", "value", "units", "code"]

_VALUE = operator.attrgetter("value")
_SUBSET = operator.attrgetter("subset")
# A message's values as chosen: (subset, its values) in subset order.
Subsets = List[Tuple[int, List[Value]]]


def add_parser(commands: argparse._SubParsersAction, parent: argparse.ArgumentParser) -> None:
    dump = commands.add_parser(
        "dump",
        parents=[parent],
        help="every value, by message and subset",
        description="Every value of the file, message after message.",
        epilog=EXAMPLE,
        formatter_class=argparse.RawDescriptionHelpFormatter,
    )
    dump.add_argument("file", metavar="FILE")
    dump.add_argument("-m", "--message", type=int, metavar="N", help="only message N (from 0)")
    dump.add_argument("-S", "--subset", type=int, metavar="S", help="only subset S (from 1) of each message")
    style = dump.add_mutually_exclusive_group()
    style.add_argument(
        "-j", "--json", action="store_true", help='JSON as bufr_dump -jf writes it: {"messages": [{"key": ...}, ...]}'
    )
    style.add_argument("--flat", action="store_true", help="key=value lines as bufr_dump -p writes them")
    style.add_argument("--csv", action="store_true", help="comma-separated values, one line per value")
    dump.set_defaults(run=command_dump)


def command_dump(args: argparse.Namespace, out: TextIO) -> int:
    bufr = open_input(args, args.file)
    if len(bufr) == 0:
        print(f"corvane: {args.file}: no BUFR message found", file=sys.stderr)
        return DATA_ERROR
    if args.subset is not None and args.subset < 1:
        raise UsageError(f"-S {args.subset}: subsets count from 1")
    failures = Failures()
    chosen = _chosen_messages(bufr, args.message, args.subset, failures)
    writer = _Json(out) if args.json else _Flat(out) if args.flat else _Csv(out) if args.csv else _Text(out)
    for message, good in chosen:
        if not good:
            writer.failed(message)
            continue
        every = range(1, message.subsets + 1)
        elements = compressed_elements(message, args.subset) if message.compressed and writer.by_element else None
        if elements is not None:
            writer.elements(message, elements, every if args.subset is None else [args.subset])
            continue
        try:
            values = message.values()
        except BufrError as error:
            # Section 4 is decoded here, once: the messages come with their headers alone.
            message.error = error.reason
            failures.failed(message.index, message.offset, error.reason)
            writer.failed(message)
            continue
        groups = {subset: list(part) for subset, part in groupby(values, key=_SUBSET)}
        writer.message(message, values, [(s, groups.get(s, [])) for s in every if args.subset in (None, s)])
    writer.close()
    return failures.exit_status()


def _chosen_messages(
    bufr: BufrFile, index: Optional[int], subset: Optional[int], failures: Failures
) -> Iterator[Tuple[Message, bool]]:
    """The messages to dump; a message or subset that is not there is refused before any output."""
    if index is None:
        return messages(bufr, failures, bufr.headers())
    if not 0 <= index < len(bufr):
        raise UsageError(f"-m {index}: the file has messages 0 to {len(bufr) - 1}")
    message = bufr[index]
    if subset is not None and message.subsets is not None and subset > message.subsets:
        raise UsageError(f"-S {subset}: message {index} has subsets 1 to {message.subsets}")
    return iter([(message, failures.check(message))])


def _text(figure: Union[float, str, None]) -> str:
    """A value as bufr_dump -p writes it."""
    if figure is None:
        return "MISSING"
    if isinstance(figure, str):
        return f'"{figure}"'
    return number(figure)


def _ranked(keys: Sequence[str], every: bool) -> List[str]:
    """Keys named by occurrence: ecCodes' "#n#key" when a key repeats (``every``), or corvane's
    plain key for a first occurrence and "#n#key" after it."""
    total = Counter(keys) if every else None
    seen: Counter[str] = Counter()
    names = []
    for key in keys:
        seen[key] += 1
        shown = total[key] > 1 if total is not None else seen[key] > 1
        names.append(f"#{seen[key]}#{key}" if shown else key)
    return names


def _columns(subsets: Subsets) -> Iterator[Tuple[Value, ...]]:
    """The values of compressed subsets element by element: every subset has the same elements."""
    return zip(*(values for _, values in subsets))


class _Writer:
    # Whether it writes a compressed message element by element, through elements().
    by_element = False

    def __init__(self, out: TextIO) -> None:
        self.out = out

    def failed(self, message: Message) -> None:
        """A message that cannot be decoded: stderr has said so."""

    def message(self, message: Message, values: List[Value], subsets: Subsets) -> None:
        raise NotImplementedError

    def elements(self, message: Message, elements: List[Element], subsets: Sequence[int]) -> None:
        """A compressed message, element by element over the chosen subsets."""
        raise NotImplementedError

    def close(self) -> None:
        """Writes what ends the output."""


class _Text(_Writer):
    """corvane's own text: a line per message, then a line per value under its subset."""

    def failed(self, message: Message) -> None:
        self.out.write(f"message {message.index} at byte {message.offset}: error: {message.error}\n")

    def message(self, message: Message, values: List[Value], subsets: Subsets) -> None:
        out = self.out
        out.write(f"message {message.index} at byte {message.offset}: edition {message.edition}, ")
        out.write(f"centre {message.centre}, {message.subsets} subsets\n")
        for subset, chosen in subsets:
            out.write(f"  subset {subset}\n")
            for value in chosen:
                shows_unit = value.value is not None and value.unit not in _PLAIN_UNITS
                unit = f" {value.unit}" if shows_unit else ""
                meaning = f"  ({value.meaning})" if value.meaning else ""
                out.write(f"    {value.code:06d} {value.key} = {_shown(value)}{unit}{meaning}\n")


def _shown(value: Value) -> str:
    figure = value.value
    if figure is None:
        return "missing"
    return repr(figure) if isinstance(figure, str) else number(figure)


class _Json(_Writer):
    """One object, ``{"messages": [...]}``, that lists every value of every message: an uncompressed
    subset starts with a "subsetNumber" item, and a compressed message has one item per element
    whose value is the list of its subsets' values, or one value when they are all the same. Items
    are written a line each, from text made once per key."""

    by_element = True

    def __init__(self, out: TextIO) -> None:
        super().__init__(out)
        self.separator = "\n"
        self.frames: Dict[Tuple[str, int, Optional[str]], Tuple[str, str]] = {}
        out.write('{ "messages" : [')

    def item(self, key: str, code: int, unit: Optional[str], shown: str) -> None:
        frame = self.frames.get((key, code, unit))
        if frame is None:
            head = f'{{"key": {json.dumps(key, ensure_ascii=False)}, "value": '
            tail = f', "code": "{code:06d}", "units": {json.dumps(unit, ensure_ascii=False)}}}'
            frame = self.frames[(key, code, unit)] = (head, tail)
        self.out.write(self.separator + frame[0] + shown + frame[1])
        self.separator = ",\n"

    def message(self, message: Message, values: List[Value], subsets: Subsets) -> None:
        if message.compressed:
            for column in _columns(subsets):
                figures = list(map(_VALUE, column))
                if figures.count(figures[0]) == len(figures):
                    shown = _json(figures[0])
                elif any(isinstance(figure, str) for figure in figures):
                    shown = json.dumps(figures, ensure_ascii=False)
                else:
                    shown = _WHOLE.sub("", json.dumps(figures))
                self.item(column[0].key, column[0].code, column[0].unit, shown)
            return
        for subset, chosen in subsets:
            self.out.write(f'{self.separator}{{"key": "subsetNumber", "value": {subset}}}')
            self.separator = ",\n"
            for value in chosen:
                self.item(value.key, value.code, value.unit, _json(value.value))

    def elements(self, message: Message, elements: List[Element], subsets: Sequence[int]) -> None:
        for element in elements:
            same, first = uniform(element.figures)
            self.item(element.key, element.code, element.unit, _json(first) if same else json_list(element.figures))

    def close(self) -> None:
        self.out.write("\n]}\n")


def _json(figure: Union[float, str, None]) -> str:
    """A value as JSON, a whole number (a code or a flag among them) as an integer."""
    if figure is None:
        return "null"
    if isinstance(figure, str):
        return json.dumps(figure, ensure_ascii=False)
    return _WHOLE.sub("", repr(figure))


class _Flat(_Writer):
    """``key=value`` lines as bufr_dump -p writes them, each on one line: the replication factors
    and bitmaps first, a key's values together in braces; the header keys and the descriptors;
    then the values by ecCodes' names ("#n#key" for a key that repeats in the message), a
    compressed element's subsets in braces unless they are all the same. A blank line ends each
    message."""

    by_element = True

    def message(self, message: Message, values: List[Value], subsets: Subsets) -> None:
        chosen = [subset for subset, _ in subsets]
        # A compressed message's subsets all have the same factors and bitmaps.
        listed_from = set(chosen[:1] if message.compressed else chosen)
        listed: Dict[str, List[str]] = {}
        for value in values:
            if value.code in _LISTED_FIRST and value.subset in listed_from:
                listed.setdefault(value.key, []).append(_text(value.value))
        lines = [f"{key}={_braced(shown)}" for key, shown in sorted(listed.items())]
        lines += _preamble(message)
        if message.compressed:
            kept = [(subset, [v for v in part if v.code not in _LISTED_FIRST]) for subset, part in subsets]
            columns = list(_columns(kept))
            names = _ranked([column[0].key for column in columns], every=True)
            for name, column in zip(names, columns):
                lines.append(f"{name}={_texts(list(map(_VALUE, column)))}")
        else:
            rest = [value for value in values if value.code not in _LISTED_FIRST]
            shown_subsets = set(chosen)
            last = 0
            for value, name in zip(rest, _ranked([value.key for value in rest], every=True)):
                if value.subset not in shown_subsets:
                    continue
                if value.subset != last and message.subsets > 1:
                    lines.append(f"subsetNumber={value.subset}")
                last = value.subset
                lines.append(f"{name}={_text(value.value)}")
        self.out.write("\n".join(lines) + "\n\n")

    def elements(self, message: Message, elements: List[Element], subsets: Sequence[int]) -> None:
        listed: Dict[str, List[str]] = {}
        for element in elements:
            if element.code in _LISTED_FIRST:
                listed.setdefault(element.key, []).append(_text(uniform(element.figures)[1]))
        lines = [f"{key}={_braced(shown)}" for key, shown in sorted(listed.items())]
        lines += _preamble(message)
        kept = [element for element in elements if element.code not in _LISTED_FIRST]
        names = _ranked([element.key for element in kept], every=True)
        lines += [f"{name}={_element_texts(element.figures)}" for name, element in zip(names, kept)]
        self.out.write("\n".join(lines) + "\n\n")


def _preamble(message: Message) -> List[str]:
    """The header keys and the descriptors."""
    codes = [f"{code:06d}" for code in message.descriptors or []]
    return _header(message) + [f"unexpandedDescriptors={codes[0] if len(codes) == 1 else _braced(codes)}"]


def _element_texts(figures: numpy.ndarray) -> str:
    """As _texts, for a compressed element's array."""
    same, first = uniform(figures)
    if same:
        return _text(first)
    if figures.dtype == object:
        return _braced(map(_text, figures.tolist()))
    return "{" + _WHOLE.sub("", json.dumps(figures.tolist())[1:-1]).replace("NaN", "MISSING") + "}"


def _header(message: Message) -> List[str]:
    """The header keys as bufr_dump -p writes them: before edition 4, a year of the century."""
    lines = []
    for key in _FLAT_HEADER:
        header = _keys.header_value(key, message._metadata)  # type: ignore[arg-type]
        if header is None or (message.edition < 4 and key == "typicalSecond"):
            continue
        if message.edition < 4 and key == "typicalYear":
            lines.append(f"typicalYearOfCentury={header % 100}")
        else:
            lines.append(f"{key}={header}")
    return lines


def _texts(figures: List[Union[float, str, None]]) -> str:
    """A compressed element's values: one when all subsets agree, else all of them in braces."""
    if figures.count(figures[0]) == len(figures):
        return _text(figures[0])
    if any(isinstance(figure, str) for figure in figures):
        return _braced(map(_text, figures))
    return "{" + _WHOLE.sub("", json.dumps(figures)[1:-1]).replace("null", "MISSING") + "}"


def _braced(shown: Iterable[str]) -> str:
    return "{" + ", ".join(shown) + "}"


class _Csv(_Writer):
    """A line per value, each key named as corvane.read names its column in a subset."""

    by_element = True

    def __init__(self, out: TextIO) -> None:
        super().__init__(out)
        self.writer = csv.writer(out, lineterminator="\n")
        self.writer.writerow(_CSV_HEADER)

    def message(self, message: Message, values: List[Value], subsets: Subsets) -> None:
        for subset, chosen in subsets:
            names = _ranked([value.key for value in chosen], every=False)
            self.writer.writerows(
                [message.index, subset, name, _cell(value), value.unit or "", f"{value.code:06d}"]
                for name, value in zip(names, chosen)
            )

    def elements(self, message: Message, elements: List[Element], subsets: Sequence[int]) -> None:
        names = _ranked([element.key for element in elements], every=False)
        heads = [csv_field(name) + "," for name in names]
        tails = [f",{csv_field(element.unit or '')},{element.code:06d}\n" for element in elements]
        cells = [csv_cells(element.figures) for element in elements]
        for row, subset in enumerate(subsets):
            start = f"{message.index},{subset},"
            self.out.write(
                "".join([start + head + shown[row] + tail for head, shown, tail in zip(heads, cells, tails)])
            )


def _cell(value: Value) -> str:
    figure = value.value
    if figure is None:
        return ""
    return figure if isinstance(figure, str) else number(figure)
