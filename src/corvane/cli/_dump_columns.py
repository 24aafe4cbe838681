"""A compressed message's values for ``corvane dump`` as columns: one array per element over
its subsets, from the columnar decode, so that a dump of millions of values makes no object
per value."""

from __future__ import annotations

import csv
import io
import json
import re
from typing import TYPE_CHECKING, Dict, List, NamedTuple, Optional, Tuple, Union

from .. import Message, _core

if TYPE_CHECKING:
    import numpy

# The ".0" of a whole number as repr writes it (below 1e16, where it turns to exponents).
WHOLE = re.compile(r"\.0(?=[,\]]|$)")

Figure = Union[float, str, None]


class Element(NamedTuple):
    """One element of a compressed message: its values in the chosen subsets, float64 with NaN
    where missing, or objects (str or None) for texts."""

    key: str
    code: int
    unit: Optional[str]
    figures: numpy.ndarray


def compressed_elements(message: Message, subset: Optional[int]) -> Optional[List[Element]]:
    """The elements of a good compressed message, in order, over every subset or subset
    ``subset`` alone; None when the columns do not give every subset."""
    import numpy

    table = message._file._decode_columns(None, None, [message.index])
    if table.errors or table.rows == 0 or table.rows != message.subsets:
        return None
    rows = slice(None) if subset is None else slice(subset - 1, subset)
    elements = []
    for name in table.names[2:]:  # after "message" and "subset"
        info = table.info(name)
        figures = table.array(name)[rows]
        if info["type"] == "int64":
            # Codes read as numbers, as Value gives them.
            figures = numpy.where(figures == _core.MISSING_CODE, numpy.nan, figures.astype(numpy.float64))
        elements.append(Element(info["key"], info["code"], info["unit"], figures))
    return elements


def uniform(figures: numpy.ndarray) -> Tuple[bool, Figure]:
    """Whether every subset has the same value, and the first subset's value."""
    first = figures[0]
    if figures.dtype == object:
        return bool((figures == first).all()), first
    if first != first:  # NaN: missing
        return bool((figures != figures).all()), None
    return bool((figures == first).all()), float(first)


def json_list(figures: numpy.ndarray) -> str:
    """The values as a JSON list, whole numbers as integers and missing values as null."""
    if figures.dtype == object:
        return json.dumps(figures.tolist(), ensure_ascii=False)
    return WHOLE.sub("", json.dumps(figures.tolist())).replace("NaN", "null")


def csv_field(text: str) -> str:
    """A field of a CSV line as csv.writer writes it beside others, quoted when it needs to be."""
    buffer = io.StringIO()
    csv.writer(buffer, lineterminator="").writerow([text, ""])
    return buffer.getvalue()[:-1]


def csv_cells(figures: numpy.ndarray) -> List[str]:
    """The values as CSV fields: numbers as number() writes them, nothing where missing."""
    import numpy

    if figures.dtype == object:
        texts = figures.tolist()
        quoted: Dict[Optional[str], str] = {text: csv_field(text) for text in set(texts) if text is not None}
        quoted[None] = ""
        return [quoted[text] for text in texts]
    cells = numpy.array(list(map(repr, figures.tolist())), dtype=object)
    whole = (figures == numpy.trunc(figures)) & (numpy.abs(figures) < 1e15)
    cells[whole] = list(map(str, figures[whole].astype(numpy.int64).tolist()))
    cells[figures != figures] = ""
    return cells.tolist()
