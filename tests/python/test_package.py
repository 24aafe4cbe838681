"""The corvane package: opening sources, error modes, table choice and the values it gives."""

import builtins
import bz2
import gzip
import io
import json
import lzma
import math
import os
import pickle
import re
import sys

import _corvane
import numpy as np
import pytest
from builders import BitWriter, make_message
from conftest import DATA, DBALLE, DBALLE_TABLES, DEFINITIONS, MASTER_39, WMO_BUFR4, read_bufr, write_table_dir

import corvane
from corvane import _core

SYNOP = DATA / "bufr" / "dwd-synop-44msgs.bufr"
EDITION3 = "pdbufr-syn_new.bufr"


def summary(bufr):
    return [(m.index, m.offset, m.length, m.edition, len(m.values())) for m in bufr]


@pytest.mark.parametrize(
    "form",
    [
        "path",
        "str",
        "bytes",
        "bytearray",
        "file",
        ".gz",
        ".bz2",
        ".xz",
        "gzip bytes",
        "bzip2 file",
        "xz named .bufr",
        "two gzip members",
    ],
)
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
        source = {
            "path": DATA / "bufr" / EDITION3,
            "str": str(DATA / "bufr" / EDITION3),
            "bytes": data,
            "bytearray": bytearray(data),
            "file": io.BytesIO(data),
        }[form]
    bufr = corvane.open(source)
    assert len(bufr) == 3
    # A regular file is mapped, unless it must be decompressed.
    assert isinstance(bufr._data, _core.MappedFile) == (form in ("path", "str"))
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
    for read in (
        lambda: next(messages),
        lambda: list(bufr),
        lambda: bufr[1],
        lambda: first.values(),
        lambda: first.to_numpy(),
        lambda: list(bufr.headers()),
    ):
        with pytest.raises(ValueError, match="is closed: read it inside its with block") as raised:
            read()
        assert not isinstance(raised.value, corvane.BufrError)


def test_closing_a_mapped_file_unmaps_it_and_leaves_its_arrays_whole(tmp_path):
    path = tmp_path / "mapped.bufr"
    path.write_bytes(read_bufr(EDITION3))

    def mapped():
        with builtins.open("/proc/self/maps") as maps:
            return str(path) in maps.read()

    with corvane.open(path) as bufr:
        first = bufr[0]
        arrays = bufr.to_numpy(["airTemperature"])
        assert mapped()
    assert not mapped()
    with pytest.raises(ValueError, match="mapped.bufr is closed: read it inside its with block"):
        first.values()
    with pytest.raises(ValueError, match="is closed"):
        first.gts_heading
    # The arrays hold their own copy of the values.
    assert np.isfinite(arrays["airTemperature"]).any()


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


def test_a_truncated_section_4_reads_as_data_truncated_while_corvane_module_keeps_its_text():
    data = make_message([12101], BitWriter().put(1, 8).bytes())
    reason = "not enough bits while reading section 4 at bit 0 for width 16 (8 bits available)"
    with pytest.raises(corvane.BufrError) as raised:
        list(corvane.open(data))
    assert raised.value.reason == f"data truncated: {reason}"
    with pytest.raises(ValueError) as fixed:
        _corvane.decode_values_with_tables(data, _corvane.TableSet.from_eccodes(str(MASTER_39)))
    assert str(fixed.value) == f"csv/table parse error: {reason}"


def test_a_compressed_stream_cut_short_keeps_the_messages_before_the_cut(tmp_path):
    stored = gzip.compress(read_bufr(EDITION3), compresslevel=0)  # stored blocks: every byte before the cut is there
    path = tmp_path / "cut.bufr"
    path.write_bytes(stored[:-250])
    assert [m.offset for m in corvane.open(path, errors="skip")] == [0, 360]
    *good, cut = corvane.open(path, errors="keep")
    assert [m.error for m in good] == [None, None]
    assert "the gzip stream stops short after" in cut.error
    with pytest.raises(
        corvane.BufrError, match=f"^{re.escape(str(path))}: message 2 at byte 678: .*gzip stream stops short"
    ):
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
    assert [(v.code, v.value, v.meaning) for v in newer.values()] == [
        (v.code, v.value, v.meaning) for v in newest.values()
    ]
    assert (newest.tables, newest.tables_fallback) == ("WMO 46", False)
    assert (newer.tables, newer.tables_fallback) == ("WMO 46 (message says 50)", True)
    # Versions 40 to 46 have the WMO's own code and flag table texts.
    assert {v.meaning for v in newest.values() if v.code == 8009 and v.value == 3} == {
        "Level flight, routine observation (LVR)"
    }
    local = make_message([1001], BitWriter().put(5, 7).bytes(), master_version=99, local_version=2, centre=98)
    [message] = corvane.open(local)
    assert message.values()[0].value == 5
    assert message.tables == "WMO 46 (message says 99), local centre 98 subcentre 0 version 2"
    unpacked = make_message([1001], BitWriter().put(5, 7).bytes(), master_version=39, local_version=3, centre=7)
    [message] = corvane.open(unpacked)
    assert (message.tables, message.tables_fallback) == (
        "WMO 39, local centre 7 subcentre 0 version 3 not packed",
        False,
    )


def test_local_elements_that_no_table_defines_fail_until_extra_tables_define_them(monkeypatch):
    [message] = corvane.open(DBALLE, errors="keep")
    assert message.error.startswith(
        "descriptor 001194 was not found in Table B: a local descriptor, which the local tables of centre 200 "
        "subcentre 0 (local version 1) would define, and none are packed; "
    )
    assert "corvane.Tables(extra=[directory])" in message.error and "CORVANE_TABLES" in message.error
    tables = corvane.Tables(extra=[DBALLE_TABLES])
    expected = [("reportMnemonic", "generic"), ("firstLevelType", 257.0), ("longStationName", "My beautifull station")]
    [message] = corvane.open(DBALLE, tables=tables)
    assert [(v.key, v.value) for v in message.values()][:3] == expected
    assert (
        message.tables
        == f"WMO 14, local centre 200 subcentre 0 version 1 not packed, extra tables first: {DBALLE_TABLES}"
    )
    assert corvane.read(DBALLE, tables=pickle.loads(pickle.dumps(tables)))["firstLevelType"].tolist() == [257]
    # The environment adds them wherever no tables are named.
    monkeypatch.setenv("CORVANE_TABLES", os.pathsep.join(["", str(DBALLE_TABLES)]))
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
        1,
        5001,
        "latitude",
        "LATITUDE (HIGH ACCURACY)",
        "deg",
        None,
    )
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
        ("001002", "unknown local element", None, 59.0),
        ("048002", "unknown local element", None, 2.0),
        ("abbr1002", "B", "K", 20.0),
    ]


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


@pytest.mark.parametrize("layout, statistics", [("compressed", [0.0053, 0.0049]), ("uncompressed", [0.0049, 0.0049])])
def test_bitmap_attached_values_take_the_width_their_element_was_read_with(layout, statistics):
    # 015020 is read under 201131 (24 bits), its 224255 statistic after 201000: at 24 bits too.
    # The values are those ecCodes reads.
    data = read_bufr(f"fos_201131_{layout}.bufr")
    expected = [[(1007, 4.0), (1031, 98.0), (15020, statistic)] for statistic in statistics]
    kept = {1007, 1031}
    [message] = corvane.open(data)
    by_subset = [[(v.code, v.value) for v in message.values() if v.subset == s] for s in (1, 2)]
    assert [[pair for pair in subset if pair[0] in kept] + subset[-1:] for subset in by_subset] == expected
    arrays = message.to_numpy()
    assert arrays["satelliteIdentifier"].tolist() == [4, 4] and arrays["centre"].tolist() == [98, 98]
    assert arrays["#2#integratedOzoneDensity"].tolist() == statistics
    values = _corvane.decode_values_with_tables(data, _corvane.TableSet.from_eccodes(str(MASTER_39)))
    subsets = [values[:10], values[10:]]
    assert [
        [(v.descriptor, v.raw_value) for v in subset if v.descriptor in kept]
        + [(subset[-1].descriptor, subset[-1].raw_value)]
        for subset in subsets
    ] == expected


def test_text_bytes_above_0x7f_are_latin1_where_the_module_keeps_question_marks(tmp_path):
    pa = pytest.importorskip("pyarrow")
    tables = write_table_dir(tmp_path / "t", [(1015, "NAME", "CCITT IA5", 0, 0, 160)])
    name, other = "Henrik Kr\xf8yer Holme", "\x01\xc6\xd8\xc5 \xff"
    plain = make_message([1015], BitWriter().text(name + "\0", 160).bytes())
    compressed = make_message(
        [1015], BitWriter().put(0, 160).put(20, 6).text(name, 160).text(other, 160).bytes(), subsets=2, compressed=True
    )
    for data, texts in ((plain, [name]), (compressed, [name, other])):
        bufr = corvane.open(data, tables=tables)
        assert [v.value for v in bufr[0].values()] == texts
        assert bufr.to_numpy()["abbr1015"].tolist() == texts
        assert pa.table(bufr.to_arrow()).column("abbr1015").to_pylist() == texts
    assert (
        _corvane.decode_values_with_tables(plain, _corvane.TableSet.from_eccodes(tables))[0].raw_text
        == "Henrik Kr?yer Holme\0"
    )
    # Fill bytes then blank padding hold no text.
    filled = make_message([1015], BitWriter().text("\xff" * 10 + " " * 10, 160).bytes())
    assert [v.value for v in corvane.open(filled, tables=tables)[0].values()] == [None]


def test_class_31_elements_are_missing_when_all_ones_unless_they_replicate():
    # A lone 031001 of all ones, as ecCodes writes it; the module keeps 255.
    data = read_bufr("standalone_031001_all_ones.bufr")
    [message] = corvane.open(data)
    assert [v.value for v in message.values()] == [6.0, None, 180.0]
    assert math.isnan(message.to_numpy()["delayedDescriptorReplicationFactor"][0])
    values = _corvane.decode_values_with_tables(data, _corvane.TableSet.from_eccodes(str(MASTER_39)))
    assert [v.raw_value for v in values] == [6.0, 255.0, 180.0]
    # A 031000 of all ones as a factor still repeats once, in both layouts.
    descriptors = [31000, 101000, 31000, 1001]
    uncompressed = make_message(descriptors, BitWriter().put(1, 1).put(1, 1).put(5, 7).bytes())
    compressed = make_message(
        descriptors,
        BitWriter().put(1, 1).put(0, 6).put(1, 1).put(0, 6).put(5, 7).put(0, 6).bytes(),
        subsets=2,
        compressed=True,
    )
    for data in (uncompressed, compressed):
        bufr = corvane.open(data)
        assert {(v.code, v.value) for v in bufr[0].values()} == {(31000, None), (31000, 1.0), (1001, 5.0)}
        assert bufr.to_numpy()["blockNumber"].tolist() == [5.0] * bufr[0].subsets
