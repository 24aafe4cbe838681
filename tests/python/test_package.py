"""The corvane package: opening sources, error modes, table choice and the values it gives."""
import bz2
import gzip
import io
import json
import lzma
import math
import re
import sys

import _corvane
import pytest

import corvane
from builders import BitWriter, make_message
from conftest import DATA, DEFINITIONS, MASTER_39, WMO_BUFR4, read_bufr, write_table_dir

SYNOP = DATA / "bufr" / "dwd-synop-44msgs.bufr"
EDITION3 = "pdbufr-syn_new.bufr"


def summary(bufr):
    return [(m.index, m.offset, m.length, m.edition, len(m.values())) for m in bufr]


@pytest.mark.parametrize("form", ["path", "str", "bytes", "bytearray", "file", ".gz", ".bz2", ".xz",
                                  "gzip bytes", "bzip2 file", "xz named .bufr", "two gzip members"])
def test_every_source_gives_the_same_messages(form, tmp_path):
    data = read_bufr(EDITION3)
    compressors = {".gz": gzip.compress, ".bz2": bz2.compress, ".xz": lzma.compress}
    if form in compressors:
        source = tmp_path / f"syn{form}"
        source.write_bytes(compressors[form](data))
    elif form == "gzip bytes":
        source = gzip.compress(data)
    elif form == "bzip2 file":
        source = io.BytesIO(bz2.compress(data))
    elif form == "xz named .bufr":
        source = tmp_path / "syn.bufr"
        source.write_bytes(lzma.compress(data))
    elif form == "two gzip members":
        source = gzip.compress(data[:500]) + gzip.compress(data[500:])
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


def test_a_file_lets_go_of_its_bytes_when_its_with_block_ends():
    data = read_bufr(EDITION3)
    held = sys.getrefcount(data)
    with corvane.open(data, errors="skip") as bufr:
        messages = iter(bufr)
        first = next(messages)
    assert bufr.closed and sys.getrefcount(data) == held
    # As a closed Python file: no read gives nothing silently, nor a bad message.
    for read in (lambda: next(messages), lambda: list(bufr), lambda: bufr[1], lambda: first.values(),
                 lambda: first.to_numpy(), lambda: list(bufr.headers())):
        with pytest.raises(ValueError, match="is closed: read it inside its with block") as raised:
            read()
        assert not isinstance(raised.value, corvane.BufrError)


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


def test_a_compressed_stream_cut_short_keeps_the_messages_before_the_cut(tmp_path):
    stored = gzip.compress(read_bufr(EDITION3), compresslevel=0)  # stored blocks: every byte before the cut is there
    path = tmp_path / "cut.bufr"
    path.write_bytes(stored[:-250])
    assert [m.offset for m in corvane.open(path, errors="skip")] == [0, 360]
    *good, cut = corvane.open(path, errors="keep")
    assert [m.error for m in good] == [None, None]
    assert "the gzip stream stops short after" in cut.error
    with pytest.raises(corvane.BufrError, match=f"^{re.escape(str(path))}: message 2 at byte 678: .*gzip stream stops short"):
        list(corvane.open(path))


def test_slices_give_the_messages_a_list_gives():
    bufr = corvane.open(SYNOP)
    every = list(bufr)
    for chosen in (slice(1, 3), slice(-2, None), slice(None, None, 20), slice(5, 2)):
        assert [m.offset for m in bufr[chosen]] == [m.offset for m in every[chosen]]
    assert len(bufr[40:][0].values()) == len(every[40].values())


def test_tables_follow_section_1_and_missing_ones_name_the_choice():
    values = [m.values() for m in corvane.open(DATA / "bufr" / EDITION3)]
    # Master versions 14 and 16 of these messages both name 0-12-101 airTemperature.
    assert {v.key for vs in values for v in vs if v.code == 12101} == {"airTemperature"}
    missing = make_message([1001], BitWriter().put(5, 7).bytes(), master_version=99, local_version=3, centre=7)
    [message] = corvane.open(missing, errors="keep")
    assert message.error == "no BUFR tables for master table 0 version 99 (local version 3, centre 7, subcentre 0)"
    with pytest.raises(corvane.BufrError, match="version 99"):
        list(corvane.open(missing))


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
