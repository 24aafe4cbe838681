"""The corvane package: opening sources, error modes, table choice and the values it gives."""
import bz2
import gzip
import io
import json
import lzma
import math
import os
import pickle

import _corvane
import pytest

import corvane
from builders import BitWriter, make_message
from conftest import DATA, DBALLE, DBALLE_ELEMENTS, DEFINITIONS, MASTER_39, WMO_BUFR4, read_bufr, write_table_dir

SYNOP = DATA / "bufr" / "dwd-synop-44msgs.bufr"
EDITION3 = "pdbufr-syn_new.bufr"


def summary(bufr):
    return [(m.index, m.offset, m.length, m.edition, len(m.values())) for m in bufr]


@pytest.mark.parametrize("form", ["path", "str", "bytes", "bytearray", "file", ".gz", ".bz2", ".xz"])
def test_every_source_gives_the_same_messages(form, tmp_path):
    data = read_bufr(EDITION3)
    compressors = {".gz": gzip.compress, ".bz2": bz2.compress, ".xz": lzma.compress}
    if form in compressors:
        source = tmp_path / f"syn{form}"
        source.write_bytes(compressors[form](data))
    else:
        source = {"path": DATA / "bufr" / EDITION3, "str": str(DATA / "bufr" / EDITION3), "bytes": data,
                  "bytearray": bytearray(data), "file": io.BytesIO(data)}[form]
    bufr = corvane.open(source)
    assert len(bufr) == 3
    # Offsets, lengths and element counts as ecCodes reports them.
    assert summary(bufr) == [(0, 0, 360, 3, 177), (1, 360, 318, 3, 138), (2, 678, 316, 3, 136)]


def test_sources_and_arguments_that_cannot_work_say_what_to_do():
    with pytest.raises(TypeError, match="binary mode"):
        corvane.open(io.StringIO("BUFR"))
    with pytest.raises(TypeError, match="path, a bytes-like object or a binary file object"):
        corvane.open(42)
    with pytest.raises(ValueError, match="use 'raise', 'skip' or 'keep'"):
        corvane.open(b"", errors="ignore")


def damaged():
    """Garbage with a false marker, three good messages with bytes between them, a truncated tail."""
    good = read_bufr(EDITION3)
    return b"xxBUFRjunk" + good[:360] + b"between" + good[360:] + good[:100]


def test_errors_raise_after_the_good_messages_before_it():
    bufr = corvane.open(damaged()[10:], errors="raise")
    seen = []
    with pytest.raises(corvane.BufrError) as raised:
        for message in bufr:
            seen.append(message.index)
    assert seen == [0, 1, 2]
    error = raised.value
    assert isinstance(error, ValueError)
    assert (error.index, error.offset) == (3, 1001)
    assert str(error).startswith("message 3 at byte 1001: ") and "errors='skip'" in str(error)


def test_errors_skip_and_keep_never_cost_the_good_messages():
    data = damaged()
    skipped = corvane.open(data, errors="skip")
    assert len(skipped) == 3
    assert [m.offset for m in skipped] == [10, 377, 695]
    assert skipped[2].offset == 695
    assert [len(m.values()) for m in skipped] == [177, 138, 136]

    kept = list(corvane.open(data, errors="keep"))
    assert [(m.index, m.error is None) for m in kept] == [(0, False), (1, True), (2, True), (3, True), (4, False)]
    assert kept[0].edition is None and "truncated" in kept[0].error
    with pytest.raises(corvane.BufrError, match="message 4 at byte 1011"):
        kept[4].values()
    # A message dropped by iteration decodes again when asked.
    assert len(kept[1].values()) == 177


def test_tables_follow_section_1_and_missing_ones_name_the_choice():
    values = [m.values() for m in corvane.open(DATA / "bufr" / EDITION3)]
    # Master versions 14 and 16 of these messages both name 0-12-101 airTemperature.
    assert {v.key for vs in values for v in vs if v.code == 12101} == {"airTemperature"}
    # Versions 3 to 5 were never published.
    missing = make_message([1001], BitWriter().put(5, 7).bytes(), master_version=4, local_version=3, centre=7)
    [message] = corvane.open(missing, errors="keep")
    assert message.error == "no BUFR tables for master table 0 version 4 (local version 3, centre 7, subcentre 0)"
    assert (message.tables, message.tables_fallback) == ("WMO 4 not packed", False)
    with pytest.raises(corvane.BufrError, match="version 4"):
        list(corvane.open(missing))


def test_newer_master_versions_decode_with_the_newest_and_say_so():
    [newest] = corvane.open(DATA / "bufr" / "v46-MODE_12.bufr")
    [newer] = corvane.open(DATA / "bufr" / "v50-MODE_12.bufr")
    assert [(v.code, v.value, v.meaning) for v in newer.values()] == [(v.code, v.value, v.meaning) for v in newest.values()]
    assert (newest.tables, newest.tables_fallback) == ("WMO 46", False)
    assert (newer.tables, newer.tables_fallback) == ("WMO 46 (message says 50)", True)
    # Versions 40 to 46 have the WMO's own code and flag table texts.
    assert {v.meaning for v in newest.values() if v.code == 8009 and v.value == 3} == {
        "Level flight, routine observation (LVR)"}
    local = make_message([1001], BitWriter().put(5, 7).bytes(), master_version=99, local_version=2, centre=98)
    [message] = corvane.open(local)
    assert message.values()[0].value == 5
    assert message.tables == "WMO 46 (message says 99), local centre 98 subcentre 0 version 2"
    unpacked = make_message([1001], BitWriter().put(5, 7).bytes(), master_version=39, local_version=3, centre=7)
    [message] = corvane.open(unpacked)
    assert (message.tables, message.tables_fallback) == ("WMO 39, local centre 7 subcentre 0 version 3 not packed", False)


def test_local_elements_that_no_table_defines_fail_until_extra_tables_define_them(tmp_path, monkeypatch):
    [message] = corvane.open(DBALLE, errors="keep")
    assert message.error.startswith(
        "descriptor 001194 was not found in Table B: a local descriptor, which the local tables of centre 200 "
        "subcentre 0 (local version 1) would define, and none are packed; ")
    assert "corvane.Tables(extra=[directory])" in message.error and "CORVANE_TABLES" in message.error
    (tmp_path / "element.table").write_text(DBALLE_ELEMENTS)
    tables = corvane.Tables(extra=[tmp_path])
    expected = [("reportMnemonic", "generic"), ("firstLevelType", 257.0), ("longStationName", "My beautifull station")]
    [message] = corvane.open(DBALLE, tables=tables)
    assert [(v.key, v.value) for v in message.values()][:3] == expected
    assert message.tables == f"WMO 14, local centre 200 subcentre 0 version 1 not packed, extra tables first: {tmp_path}"
    assert corvane.read(DBALLE, tables=pickle.loads(pickle.dumps(tables)))["firstLevelType"].tolist() == [257]
    # The environment adds them wherever no tables are named.
    monkeypatch.setenv("CORVANE_TABLES", os.pathsep.join(["", str(tmp_path)]))
    [message] = corvane.open(DBALLE, tables=corvane.Tables())
    assert [(v.key, v.value) for v in message.values()][:3] == expected
    assert corvane.Tables(DEFINITIONS).extra == [] and corvane.Tables(extra=[]).extra == []
    with pytest.raises(ValueError, match="CORVANE_TABLES .* holds no BUFR tables"):
        monkeypatch.setenv("CORVANE_TABLES", str(DATA))
        corvane.Tables()


@pytest.mark.parametrize("tables", [DEFINITIONS, MASTER_39, WMO_BUFR4, "table set", "shared"])
def test_tables_argument_variants_decode_alike(tables):
    expected = [(v.code, v.value) for v in corvane.open(SYNOP)[0].values()]
    if tables == "table set":
        tables = _corvane.TableSet.from_eccodes(str(MASTER_39))
    elif tables == "shared":
        tables = corvane.Tables(str(DEFINITIONS))
    values = corvane.open(SYNOP, tables=tables)[0].values()
    assert [(v.code, v.value) for v in values] == expected
    # The WMO's tables have no key names: the code stands in.
    assert values[9].key == ("005001" if tables == WMO_BUFR4 else "latitude")


def test_tables_argument_that_holds_no_tables_names_the_layouts(tmp_path):
    with pytest.raises(ValueError, match="definitions root .* table directory .* WMO BUFR4"):
        corvane.open(SYNOP, tables=tmp_path)
    with pytest.raises(FileNotFoundError):
        corvane.open(SYNOP, tables=tmp_path / "absent")


def test_values_match_the_reference_decoder():
    reference = json.loads((DATA / "reference" / "dwd-synop-44msgs.bufr.json").read_text())["messages"][0]
    message = corvane.open(SYNOP)[0]
    values = message.values()
    assert [v.code for v in values] == [int(code) for code, _ in reference["elements"]]
    for value, (_, expected) in zip(values, reference["elements"]):
        if isinstance(expected, float):
            assert math.isclose(value.value, expected, rel_tol=6e-6), value
        else:
            assert value.value == expected, value
    latitude = values[9]
    assert (latitude.subset, latitude.code, latitude.key, latitude.name, latitude.unit, latitude.meaning) == (
        1, 5001, "latitude", "LATITUDE (HIGH ACCURACY)", "deg", None)
    assert (values[3].key, values[3].value, values[3].meaning) == ("stationType", 0.0, "AUTOMATIC")
    # Subsets count from 1 and each starts with its block number.
    firsts = [v for v in values if v.code == 1001]
    assert [v.subset for v in firsts] == list(range(1, message.subsets + 1))
    assert all(values[i - 1].subset == v.subset - 1 for i, v in enumerate(values) if v.code == 1001 and i)


def test_texts_drop_trailing_nuls_and_blanks_and_empty_texts_are_missing(tmp_path):
    tables = write_table_dir(tmp_path / "t", [(1015, "NAME", "CCITT IA5", 0, 0, 32)])
    texts = [b"AB\0\0", b"A B ", b"\0\0\0\0", b"\xff\xff\xff\xff", b" \0 \0", b"\xff\0\0\0"]
    data = b"".join(texts)
    [message] = corvane.open(make_message([1015] * len(texts), data), tables=tables)
    assert [v.value for v in message.values()] == ["AB", "A B", None, None, "", None]


def test_local_widths_unlike_the_table_width_give_plain_bits_keyed_by_code(tmp_path):
    tables = write_table_dir(tmp_path / "t", [(1002, "B", "K", 1, 0, 10)])
    data = BitWriter().put(59, 8).put(2, 8).put(200, 10).bytes()
    [message] = corvane.open(make_message([206008, 1002, 206008, 48002, 206010, 1002], data), tables=tables)
    assert [(v.key, v.name, v.unit, v.value) for v in message.values()] == [
        ("001002", "unknown local element", None, 59.0), ("048002", "unknown local element", None, 2.0),
        ("abbr1002", "B", "K", 20.0)]


def test_operators_and_new_reference_values_are_left_out():
    for name in ("ISND02_LLBD.bufr", "MODE_12.bufr"):
        codes = {v.code for m in corvane.open(DATA / "bufr" / name) for v in m.values()}
        assert not {code for code in codes if 200000 <= code < 300000}, name
    associated = [v for v in corvane.open(DATA / "bufr" / "MODE_12.bufr")[0].values() if v.code == 999999]
    assert associated and {v.key for v in associated} == {"associatedField"}


def test_time_is_none_for_an_invalid_date():
    data = bytearray(make_message([1001], BitWriter().put(5, 7).bytes()))
    [message] = corvane.open(bytes(data))
    assert message.time.isoformat() == "2024-01-02T03:04:05"
    data[8 + 17] = 13  # month
    [message] = corvane.open(bytes(data))
    assert message.time is None and message.values()[0].value == 5.0
