"""Both table loaders must decode a message alike wherever their tables agree on it.

A message qualifies when the ecCodes master tables of its own version and the WMO BUFR4 CSV
tables define every element it uses with the same unit, scale, reference and width, and every
sequence it uses with the same members.
"""

import re

import _corvane
import pytest
from conftest import DATA, DEFINITIONS, WMO_BUFR4

MASTERS = DEFINITIONS / "bufr" / "tables" / "0" / "wmo"
# 61 messages of one kind: the first stands for the rest and keeps the test fast.
FIRST_MESSAGE_ONLY = {"hirs-metop-compressed.bufr"}


def messages_of(path):
    data = path.read_bytes()
    try:
        parsed = _corvane.parse_all_bytes(data)
    except ValueError:
        return []
    out, start = [], 0
    for message in parsed:
        start = data.index(b"BUFR", start)
        out.append((message, data[start : start + message.total_length]))
        start += message.total_length
        if path.name in FIRST_MESSAGE_ONLY:
            break
    return out


def master_dir(version):
    path = MASTERS / str(version)
    # Old versions are alias files whose text names the directory that serves them.
    for _ in range(32):
        if not path.is_file():
            break
        path = path.parent / path.read_text().strip()
    return path if path.is_dir() else None


def unit_key(unit):
    # The two sources spell the same unit differently ("CODE TABLE", "Common Code table C-1",
    # "deg" against "degree true"); none of these spellings changes how a value decodes.
    key = re.sub(r"\s+", "", unit).casefold()
    if "codetable" in key:
        return "codetable"
    if key == "degreetrue":
        return "deg"
    return key


def element_key(tables, code):
    element = tables.get_element(code)
    if element is None:
        return None
    return unit_key(element.unit), element.scale, element.reference, element.width


def sequence_mismatch(codes, eccodes, wmo, seen):
    for code in codes:
        if not 300000 <= code < 400000 or code in seen:
            continue
        seen.add(code)
        ours, theirs = eccodes.get_sequence(code), wmo.get_sequence(code)
        if ours is None or theirs is None or ours.members != theirs.members:
            return code
        found = sequence_mismatch(ours.members, eccodes, wmo, seen)
        if found is not None:
            return found
    return None


def why_not_qualifying(message, eccodes, wmo):
    try:
        expanded = eccodes.expand(message.unexpanded_descriptors)
    except ValueError as error:
        return f"expansion fails: {error}"
    for code in sorted({c for c in expanded if c < 100000 and c != 999999}):
        ours = element_key(eccodes, code)
        if ours is None or ours != element_key(wmo, code):
            return f"element {code:06d} differs"
    code = sequence_mismatch(message.unexpanded_descriptors, eccodes, wmo, set())
    if code is not None:
        return f"sequence {code:06d} differs"
    return None


def decoded(raw, tables):
    try:
        values = _corvane.decode_values_with_tables(raw, tables)
    except ValueError as error:
        return ("error", str(error))
    return [(v.descriptor, v.raw, v.raw_value, v.raw_text) for v in values]


def first_difference(a, b):
    if isinstance(a, tuple) or isinstance(b, tuple):
        return f"{a if isinstance(a, tuple) else len(a)} against {b if isinstance(b, tuple) else len(b)}"
    for index, (x, y) in enumerate(zip(a, b)):
        if x != y:
            return f"value {index}: {x} against {y}"
    return f"{len(a)} values against {len(b)}"


@pytest.fixture(scope="module")
def comparisons():
    wmo = _corvane.TableSet.from_bufr4_45(str(WMO_BUFR4))
    masters = {}
    out = []
    for path in sorted((DATA / "bufr").glob("*.bufr")):
        for index, (message, raw) in enumerate(messages_of(path)):
            version = message.master_tables_version_number
            if version not in masters:
                directory = master_dir(version)
                masters[version] = None if directory is None else _corvane.TableSet.from_eccodes(str(directory))
            eccodes = masters[version]
            if eccodes is None or why_not_qualifying(message, eccodes, wmo) is not None:
                continue
            out.append((f"{path.name}#{index}", decoded(raw, eccodes), decoded(raw, wmo)))
    return out


def test_some_messages_qualify(comparisons):
    assert len(comparisons) >= 1


def test_qualifying_messages_decode_alike(comparisons):
    differing = [f"{name}: {first_difference(a, b)}" for name, a, b in comparisons if a != b]
    assert differing == []


def test_differing_tables_disqualify():
    # Master version 13 gives 014002 12 bits where the WMO tables give 17, so the decodes differ.
    wmo = _corvane.TableSet.from_bufr4_45(str(WMO_BUFR4))
    eccodes = _corvane.TableSet.from_eccodes(str(master_dir(13)))
    [(message, raw)] = messages_of(DATA / "bufr" / "synop-longname.bufr")
    assert message.master_tables_version_number == 13
    assert why_not_qualifying(message, eccodes, wmo) == "element 014002 differs"
    assert decoded(raw, eccodes) != decoded(raw, wmo)


def test_unit_spellings_that_differ_in_meaning_stay_apart():
    assert unit_key("CODE TABLE") == unit_key("Common Code table C-1")
    assert unit_key("FLAG TABLE") != unit_key("Code table")
    assert unit_key("CCITT IA5") != unit_key("m")
    assert unit_key("m-3") != unit_key("kg m-2")
