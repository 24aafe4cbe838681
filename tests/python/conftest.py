import pathlib

import pytest

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


@pytest.fixture
def data_dir():
    return DATA


def read_bufr(name):
    return (DATA / "bufr" / name).read_bytes()


DEFINITIONS = DATA / "tables" / "definitions"
MASTER_39 = DEFINITIONS / "bufr" / "tables" / "0" / "wmo" / "39"
WMO_BUFR4 = DATA / "tables" / "wmo-bufr4"
# A dballe generic message whose local elements no release defines, and the element.table that
# defines them as its bits read: a 16-character report mnemonic, then 257 ("station
# information") as a 10-bit level type.
DBALLE = DATA / "bufr" / "dballe-generic-bug20140326.bufr"
DBALLE_TABLES = DATA / "dballe-tables"


def write_table_dir(path, elements, sequences="", code_tables=None):
    """A small ecCodes-style table directory: element rows as tuples, sequence.def text."""
    path.mkdir(parents=True, exist_ok=True)
    lines = ["#code|abbreviation|type|name|unit|scale|reference|width|crex_unit|crex_scale|crex_width"]
    for code, name, unit, scale, reference, width in elements:
        lines.append(f"{code:06d}|abbr{code}|long|{name}|{unit}|{scale}|{reference}|{width}|x|0|0")
    (path / "element.table").write_text("\n".join(lines) + "\n")
    (path / "sequence.def").write_text(sequences)
    if code_tables:
        (path / "codetables").mkdir(exist_ok=True)
        for code, entries in code_tables.items():
            body = "".join(f"{raw} {raw} {meaning}\n" for raw, meaning in entries.items())
            (path / "codetables" / f"{code}.table").write_text(body)
    return str(path)
