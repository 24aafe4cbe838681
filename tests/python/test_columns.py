"""The columnar decode: the same values and errors as Message.values(), to NumPy and Arrow."""

import math
import os
import signal
import threading
import time

import pytest
from conftest import DATA, read_bufr

import corvane
from corvane import _core
from corvane._filedata import arrays as columns_of
from corvane._records import ColumnFilter, MessageEntry, MessageError, MessageMetadata

np = pytest.importorskip("numpy")


def rows_from_values(bufr):
    """{(message, subset): {"#n#key": value}} as Message.values() gives them."""
    rows = {}
    for message in bufr:
        counts = {}
        for value in message.values():
            row = rows.setdefault((message.index, value.subset), {})
            rank = counts[value.subset, value.key] = counts.get((value.subset, value.key), 0) + 1
            row[value.key if rank == 1 else f"#{rank}#{value.key}"] = value.value
        for subset in range(1, message.subsets + 1):
            rows.setdefault((message.index, subset), {})
    return rows


def cell(array, row):
    value = array[row]
    if array.dtype == object or value is np.ma.masked:
        return None if value is np.ma.masked else value
    return None if math.isnan(value) else float(value)


@pytest.mark.parametrize(
    "name",
    [
        "dwd-synop-44msgs.bufr",
        "pdbufr-temp_hires.bufr",
        "hirs-metop-compressed.bufr",
        "atms1.bufr",
        "pybufrkit-g2to_206.bufr",
        "synop-cloudbelow.bufr",
    ],
)
def test_columns_hold_what_the_values_hold(name):
    data = read_bufr(name)
    # Three messages of a large file are enough.
    last = corvane.open(data)[:3][-1]
    bufr = corvane.open(data[: last.offset + last.length])
    expected = rows_from_values(bufr)
    arrays = bufr.to_numpy()
    assert list(arrays)[:2] == ["message", "subset"]
    assert sorted(zip(arrays["message"].tolist(), arrays["subset"].tolist())) == sorted(expected)
    names = set().union(*expected.values())
    assert set(arrays) - {"message", "subset"} == names
    for row, key in enumerate(zip(arrays["message"].tolist(), arrays["subset"].tolist())):
        values = expected[key]
        for column in names:
            assert cell(arrays[column], row) == values.get(column), (key, column)


def mutations(data):
    data = data[:100000]
    yield data
    yield data[: len(data) // 2]
    for k in range(1, 9):
        changed = bytearray(data)
        at = k * len(data) // 9
        changed[at] ^= 0x35 * k & 0xFF
        yield bytes(changed)


def test_columns_fail_as_the_values_fail_for_every_test_file_and_its_mutations():
    for path in sorted((DATA / "bufr").iterdir()):
        for data in mutations(path.read_bytes()):
            bufr = corvane.open(data, errors="keep")
            failed = [(m.index, m.offset, m.error) for m in bufr if m.error is not None]
            assert bufr.table().errors == failed, path.name
            raising = corvane.open(data)
            if failed:
                with pytest.raises(corvane.BufrError) as by_values:
                    list(raising)
                with pytest.raises(corvane.BufrError) as by_columns:
                    raising.to_numpy()
                assert str(by_columns.value) == str(by_values.value)


def test_keys_messages_and_filters_choose_columns_and_rows():
    bufr = corvane.open(DATA / "bufr" / "dwd-synop-44msgs.bufr")
    everything = bufr.to_numpy()
    chosen = bufr.to_numpy(["airTemperature", "#1#stationOrSiteName"])
    assert list(chosen) == ["message", "subset", "#1#stationOrSiteName", "airTemperature", "#2#airTemperature"]
    for name, array in chosen.items():
        np.testing.assert_array_equal(array, everything[name.removeprefix("#1#")])
    # A message takes the keys its file takes.
    one = bufr[5].to_numpy(["airTemperature", "#1#stationOrSiteName"])
    assert list(one) == list(chosen)
    for name, array in one.items():
        np.testing.assert_array_equal(array, chosen[name][chosen["message"] == 5])

    table = bufr.table(
        ["stationNumber"], filters={"airTemperature": slice(284.0, 288.0), "stationType": [0, 2]}, messages=[5, 30, 31]
    )
    temperature, kind = everything["airTemperature"], everything["stationType"]
    kept = (
        np.isin(everything["message"], [5, 30, 31])
        & (temperature >= 284)
        & (temperature <= 288)
        & np.isin(kind, [0, 2])
    )
    assert 0 < kept.sum() < np.isin(everything["message"], [5, 30, 31]).sum()
    np.testing.assert_array_equal(table.array("message"), everything["message"][kept])
    np.testing.assert_array_equal(table.array("stationNumber"), everything["stationNumber"][kept])
    assert table.info("airTemperature") == {
        "key": "airTemperature",
        "rank": 1,
        "code": 12101,
        "unit": "K",
        "name": "TEMPERATURE/AIR TEMPERATURE",
        "scale": 2,
        "type": "float64",
    }
    with pytest.raises(ValueError, match="#0#airTemperature"):
        bufr.to_numpy(["#0#airTemperature"])
    with pytest.raises(KeyError):
        table.array("dewpointTemperature")


def test_a_column_has_the_code_and_unit_of_its_own_occurrence():
    # timePeriod is 004024 in hours for some occurrences, 004025 in minutes for others.
    bufr = corvane.open(DATA / "bufr" / "synop-cloudbelow.bufr")
    table = bufr.table(messages=[0])
    seen = {}
    periods = set()
    for value in bufr[0].values():
        if value.subset == 1:
            seen[value.key] = rank = seen.get(value.key, 0) + 1
            info = table.info(value.key if rank == 1 else f"#{rank}#{value.key}")
            assert (info["code"], info["unit"]) == (value.code, value.unit), value
            if value.key == "timePeriod":
                periods.add((value.code, value.unit))
    assert len(periods) == 2


def test_arrow_holds_the_numpy_values_and_outlives_the_file():
    pa = pytest.importorskip("pyarrow")
    bufr = corvane.open(DATA / "bufr" / "dwd-synop-44msgs.bufr")
    arrays = bufr.to_numpy()
    table = pa.table(bufr.to_arrow())
    array = bufr.to_numpy()["airTemperature"]
    del bufr
    assert table.column_names == list(arrays)
    for name, values in arrays.items():
        column = table.column(name).to_pylist()
        shown = values.tolist() if values.dtype == np.int64 else [cell(values, row) for row in range(len(values))]
        assert column == shown, name
    np.testing.assert_array_equal(array, arrays["airTemperature"])
    nothing = corvane.open(read_bufr("dwd-synop-44msgs.bufr")).table(filters={"day": slice(40.0, None)})
    assert pa.table(nothing).num_rows == 0


def test_code_table_columns_mask_exactly_their_missing_cells_over_the_same_memory():
    bufr = corvane.open(DATA / "bufr" / "dwd-synop-44msgs.bufr")
    expected = rows_from_values(bufr)
    # The arrays of to_numpy, over a table kept at hand to compare memory with.
    table = bufr.table()
    arrays = columns_of(table)
    rows = list(zip(arrays["message"].tolist(), arrays["subset"].tolist()))
    codes = [name for name in table.names if table.info(name)["type"] == "int64" and name not in ("message", "subset")]
    gapped = [name for name in codes if any(expected[row].get(name) is None for row in rows)]
    assert gapped and len(gapped) < len(codes)
    for name in codes:
        array = arrays[name]
        absent = [expected[row].get(name) is None for row in rows]
        if name in gapped:
            assert isinstance(array, np.ma.MaskedArray), name
            assert array.mask.tolist() == absent, name
            assert np.shares_memory(array.data, table.array(name)), name
        else:
            assert type(array) is np.ndarray, name
    message = next(row[0] for row in rows if expected[row].get(gapped[0]) is None)
    assert isinstance(bufr[message].to_numpy()[gapped[0]], np.ma.MaskedArray)


def test_numpy_cannot_write_the_memory_that_arrow_shares():
    pa = pytest.importorskip("pyarrow")
    bufr = corvane.open(DATA / "bufr" / "dwd-synop-44msgs.bufr")
    arrays = bufr.to_numpy(["airTemperature", "stationType"])
    for name in ("message", "airTemperature", "stationType"):
        with pytest.raises(ValueError, match="read-only"):
            arrays[name][0] = 1
    # A table lends its memory for writing or to Arrow, not both.
    exported = bufr.to_arrow()
    pa.table(exported)
    with pytest.raises(ValueError, match="copy the array"):
        exported.array("airTemperature", writeable=True)
    written = bufr.to_arrow()
    written.array("airTemperature", writeable=True)[0] = 1.0
    with pytest.raises(ValueError, match="decode the messages again"):
        pa.table(written)


def test_ctrl_c_stops_a_long_decode_quickly():
    bufr = corvane.open(DATA / "bufr" / "dwd-synop-44msgs.bufr")
    # The same messages again and again, every row filtered out: minutes of work, no memory.
    entries = list(bufr._entries) * 100000
    nothing = [ColumnFilter("latitude", [], [], 1000.0, None, True)]
    timer = threading.Timer(0.2, os.kill, (os.getpid(), signal.SIGINT))
    start = time.monotonic()
    timer.start()
    try:
        with pytest.raises(KeyboardInterrupt):
            _core.decode_columns(bufr._data, entries, bufr.tables._native, None, nothing)
    finally:
        timer.cancel()
    assert time.monotonic() - start < 5


def test_the_native_module_speaks_in_records_and_columns_may_be_called_keys():
    data = read_bufr("dwd-synop-44msgs.bufr")
    entries = _core.scan(data)
    second = entries[1]
    assert isinstance(second, MessageEntry) and second.index == 1 and second.error is None
    assert [entry[:3] for entry in entries] == [(m.index, m.offset, m.length) for m in corvane.open(data)]
    metadata = _core.parse(data, second.offset, second.length)
    assert isinstance(metadata, MessageMetadata)
    assert (metadata.edition, metadata.data_category, metadata.subsets) == (4, 0, corvane.open(data)[1].subsets)
    broken = corvane.open(data[: second.offset + second.length // 2], errors="keep")
    assert broken.table().errors == [MessageError(1, second.offset, broken[1].error)]
    message = broken[0]
    np.testing.assert_array_equal(
        message.to_numpy(keys=["airTemperature"])["airTemperature"],
        message.to_numpy(columns=["airTemperature"])["airTemperature"],
    )
    with pytest.raises(TypeError, match="not both"):
        message.to_numpy(columns=["airTemperature"], keys=["airTemperature"])
    with pytest.raises(TypeError, match="not both"):
        broken.to_arrow(columns=["airTemperature"], keys=["airTemperature"])
