"""corvane.read and corvane.dask.read: rows, computed columns, filters, sources and workers."""

import math
import sys

import numpy as np
import pytest
from builders import BitWriter, make_message
from conftest import DATA, read_bufr

import corvane

pandas = pytest.importorskip("pandas")

SYNOP = DATA / "bufr" / "dwd-synop-44msgs.bufr"
TEMP = DATA / "bufr" / "pdbufr-temp_hires.bufr"
WIGOS = DATA / "bufr" / "pdbufr-synop_wigos.bufr"
EDITION3 = DATA / "bufr" / "pdbufr-syn_new.bufr"


def occurrences(source, key):
    """Every (message, subset, value) of a key as the object path gives it."""
    return [(m.index, v.subset, v.value) for m in corvane.open(source) for v in m.values() if v.key == key]


def test_keys_once_per_subset_give_a_row_per_subset_with_the_object_paths_values():
    frame = corvane.read(
        SYNOP, columns=["stationNumber", "stationOrSiteName", "pressureReducedToMeanSeaLevel"], required_columns=False
    )
    assert list(frame.columns) == [
        "message",
        "subset",
        "stationNumber",
        "stationOrSiteName",
        "pressureReducedToMeanSeaLevel",
    ]
    assert frame.dtypes.tolist()[:3] == [np.int64, np.int64, np.float64]
    names = occurrences(SYNOP, "stationOrSiteName")
    assert list(zip(frame.message, frame.subset, frame.stationOrSiteName)) == names
    pressures = {(m, s): p for m, s, p in occurrences(SYNOP, "pressureReducedToMeanSeaLevel")}
    shown = [None if math.isnan(p) else p for p in frame.pressureReducedToMeanSeaLevel]
    assert shown == [pressures.get(row) for row in zip(frame.message, frame.subset)]
    assert len(frame) == sum(m.subsets for m in corvane.open(SYNOP)) and any(shown)


def test_a_repeated_group_gives_a_row_per_occurrence_and_flat_a_column():
    rows = corvane.read(TEMP, columns=["stationNumber", "pressure", "airTemperature"])
    pressures = [p for _, _, p in occurrences(TEMP, "pressure")]
    temperatures = [t for _, _, t in occurrences(TEMP, "airTemperature")]
    # Every level is a row, the station repeated on each (all levels of this profile have a pressure).
    assert rows.pressure.tolist() == pressures and len(set(rows.stationNumber)) == 1
    assert rows.airTemperature.tolist() == pytest.approx(
        [np.nan if t is None else t for t in temperatures], nan_ok=True
    )
    flat = corvane.read(TEMP, columns=["stationNumber", "pressure"], flat=True)
    assert len(flat) == 1
    assert flat[f"#{len(pressures)}#pressure"][0] == pressures[-1] and flat["pressure"][0] == pressures[0]


def test_a_key_again_completes_the_row_and_rows_need_every_chosen_key():
    columns = ["stationNumber", "airTemperature", "dewpointTemperature"]
    every = corvane.read(SYNOP, columns=columns, required_columns=False)
    # Station 15 reports a temperature at 2 m, then one at 5 cm, then the dew point: the second
    # temperature completes a row of the first. Station 55 reports only one.
    station = every[every.stationNumber == 15]
    assert station[columns[1:]].fillna(0).values.tolist() == [[285.65, 0], [293.85, 283.0]]
    assert every[every.stationNumber == 55][columns[1:]].values.tolist() == [[287.55, 283.07]]
    required = corvane.read(SYNOP, columns=columns)
    assert required[required.stationNumber == 15][columns[1:]].values.tolist() == [[293.85, 283.0]]
    # A missing value is a value: only rows that lack a key are dropped.
    assert required.airTemperature.isna().any()
    named = corvane.read(SYNOP, columns=columns, required_columns=["dewpointTemperature"])
    assert len(required) < len(named) < len(every)


def test_cloud_layers_pair_each_type_with_its_own_height():
    frame = corvane.read(SYNOP, columns=["stationNumber", "cloudAmount", "cloudType", "heightOfBaseOfCloud"])
    assert str(frame.cloudType.dtype) == "Int64"
    station = frame[(frame.message == 0) & (frame.subset == 3)]
    # The three cloud types of the general group share its amount and height; then a row per layer.
    assert station.cloudAmount.tolist() == [5, 5, 5, 2, 3, 5]
    assert station.cloudType.tolist() == [38, 23, 10, 8, 8, 3]
    assert station.heightOfBaseOfCloud.tolist() == [450, 450, 450, 450, 750, 2700]
    # A subset whose cloud values are all missing still gives its rows.
    assert frame[(frame.message == 0) & (frame.subset == 1)].cloudType.isna().all()


def test_computed_columns():
    frame = corvane.read(SYNOP, columns=["blockNumber", "stationNumber", "WMO_station_id", "minute", "data_datetime"])
    assert (frame.WMO_station_id == frame.blockNumber * 1000 + frame.stationNumber).all()
    first = corvane.open(SYNOP)[0]
    # The SYNOP has no second key: it counts as 0.
    assert frame.data_datetime[0] == pandas.Timestamp(2021, 5, 16, 12, 0, 0) == pandas.Timestamp(first.time)
    assert (frame.data_datetime.dt.minute == frame.minute).all()
    # Year, month, day and hour, no minute; the second subset's hour is missing.
    dates = BitWriter().put(2024, 12).put(5, 4).put(6, 6).put(7, 5).put(2024, 12).put(5, 4).put(6, 6).put(31, 5)
    frame = corvane.read(make_message([4001, 4002, 4003, 4004], dates.bytes(), subsets=2), columns=["data_datetime"])
    assert frame.data_datetime.tolist() == [pandas.Timestamp(2024, 5, 6, 7), pandas.Timestamp(2024, 5, 6)]
    wigos = corvane.read(WIGOS, columns=["WIGOS_station_id"], filters={"WIGOS_station_id": "0-705-0-1932"})
    assert wigos[["message", "WIGOS_station_id"]].values.tolist() == [[1, "0-705-0-1932"]]


@pytest.mark.parametrize(
    "test, select",
    [
        (10015, lambda f: f.stationNumber == 10015),
        ([15, 20, 35], lambda f: f.stationNumber.isin([15, 20, 35])),
        (slice(290, 295), lambda f: f.airTemperature.between(290, 295)),
        (lambda t: t > 290, lambda f: f.airTemperature > 290),
    ],
    ids=["value", "list", "range", "callable"],
)
def test_filters_keep_the_rows_that_pass(test, select):
    columns = ["stationNumber", "airTemperature"]
    key = "stationNumber" if isinstance(test, (int, list)) else "airTemperature"
    everything = corvane.read(SYNOP, columns=columns)
    filtered = corvane.read(SYNOP, columns=columns, filters={key: test})
    expected = everything[select(everything).fillna(False).astype(bool)].reset_index(drop=True)
    pandas.testing.assert_frame_equal(filtered, expected)
    assert len(filtered) > 0 or key == "stationNumber"


def test_filters_on_repeated_and_computed_keys_test_each_row():
    columns = ["stationNumber", "pressure", "airTemperature"]
    everything = corvane.read(TEMP, columns=columns)
    levels = corvane.read(TEMP, columns=columns, filters={"pressure": slice(50000, 85000)})
    expected = everything[everything.pressure.between(50000, 85000)].reset_index(drop=True)
    pandas.testing.assert_frame_equal(levels, expected)
    assert 0 < len(levels) < len(everything)
    moment = corvane.read(
        SYNOP,
        columns=["stationNumber"],
        filters={"data_datetime": slice("2021-05-16 11:50", "2021-05-16 11:55"), "WMO_station_id": [10015, 10020]},
    )
    assert moment.stationNumber.tolist() == [15, 20]


def test_header_keys_and_unknown_keys():
    frame = corvane.read(
        SYNOP, columns=["bufrHeaderCentre", "typicalDate", "stationNumber"], filters={"dataCategory": 0}
    )
    first = corvane.open(SYNOP)[0]
    assert frame.loc[0, ["bufrHeaderCentre", "typicalDate"]].tolist() == [
        first.centre,
        int(first.time.strftime("%Y%m%d")),
    ]
    assert str(frame.bufrHeaderCentre.dtype) == "Int64" and len(frame) > 0
    assert corvane.read(SYNOP, columns=["stationNumber"], filters={"dataCategory": 2}).empty
    with pytest.raises(KeyError, match="no BUFR key 'airTemprature'; did you mean 'airTemperature'"):
        corvane.read(SYNOP, columns=["stationNumber", "airTemprature"])
    with pytest.raises(KeyError, match="dataCategry"):
        corvane.read(SYNOP, filters={"dataCategry": 0})
    # A key the tables know but the file lacks is an absent column: no rows when required.
    assert corvane.read(SYNOP, columns=["stationNumber", "brightnessTemperature"]).empty


def test_a_frame_takes_edits_in_place_whatever_pandas_does_on_write():
    frame = corvane.read(SYNOP, columns=["stationNumber", "stationType", "cloudType"], flat=True)
    edited = ["message", "stationNumber", "stationType", "cloudType"]
    frame.loc[0, edited] = [7, 1.0, 2, 3]
    assert frame.loc[0, edited].tolist() == [7, 1.0, 2, 3]


def test_error_modes_and_lists_of_sources(tmp_path):
    damaged = tmp_path / "damaged.bufr"
    damaged.write_bytes(read_bufr(EDITION3.name) + b"BUFR\0\0")
    with pytest.raises(corvane.BufrError, match="message 3 at byte 994"):
        corvane.read(damaged, columns=["stationNumber"])
    for errors in ("skip", "keep"):
        assert corvane.read(damaged, columns=["stationNumber"], errors=errors).stationNumber.tolist() == [948, 766, 257]
    both = corvane.read([EDITION3, SYNOP], columns=["stationNumber", "cloudType"])
    apart = [corvane.read(source, columns=["stationNumber", "cloudType"]) for source in (EDITION3, SYNOP)]
    pandas.testing.assert_frame_equal(both, pandas.concat(apart, ignore_index=True))
    assert both.message[len(apart[0]) - 1] == 2 and both.message[len(apart[0])] == 0


def test_a_changed_byte_and_absent_repeated_keys_give_rows():
    data = bytearray(SYNOP.read_bytes())
    data[92296] = 0xA5  # in the data of message 26
    changed, original = corvane.read(bytes(data)), corvane.read(SYNOP)
    others = [frame[frame.message != 26].reset_index(drop=True) for frame in (changed, original)]
    pandas.testing.assert_frame_equal(others[0][others[1].columns], others[1])
    # Sensor heights that some stations leave out between their measurements.
    heights = corvane.read(
        SYNOP,
        columns=["airTemperature", "heightOfSensorAboveLocalGroundOrDeckOfMarinePlatform"],
        required_columns=False,
    )
    assert heights.message.nunique() == 44


def test_workers_give_the_rows_of_one_thread(monkeypatch):
    sources = [SYNOP, TEMP, EDITION3, SYNOP]
    columns = ["stationNumber", "pressure", "cloudType", "airTemperature"]
    pandas.testing.assert_frame_equal(
        corvane.read(sources, columns=columns, workers=2), corvane.read(sources, columns=columns)
    )
    # One file in blocks of messages over the threads.
    monkeypatch.setattr(corvane._read, "MIN_BLOCK", 5)
    pandas.testing.assert_frame_equal(
        corvane.read(SYNOP, columns=columns, workers=3), corvane.read(SYNOP, columns=columns)
    )
    # No sources: no rows, whether or not threads are asked for.
    assert [list(corvane.read([], workers=n).columns) for n in (1, 2)] == [["message", "subset"]] * 2


def test_without_pandas_the_error_says_how_to_get_it(monkeypatch):
    monkeypatch.setitem(sys.modules, "pandas", None)
    with pytest.raises(ImportError, match=r"pip install 'corvane\[pandas\]'"):
        corvane.read(SYNOP)


def test_dask_equals_pandas_concat_of_each_file(tmp_path):
    dask = pytest.importorskip("dask")
    import corvane.dask

    paths = []
    for index, name in enumerate([SYNOP, EDITION3, SYNOP]):
        path = tmp_path / f"{index}.bufr"
        path.write_bytes(name.read_bytes())
        paths.append(path)
    columns = ["stationNumber", "cloudType", "stationOrSiteName", "airTemperature"]
    expected = pandas.concat([corvane.read(path, columns=columns) for path in paths], ignore_index=True)
    for per_partition, partitions in ((None, 3), (20, 7)):
        # Dask would turn the texts into Arrow strings: keep them as the pandas read gives them.
        with dask.config.set({"scheduler": "sync", "dataframe.convert-string": False}):
            frame = corvane.dask.read(str(tmp_path / "*.bufr"), columns=columns, messages_per_partition=per_partition)
            assert frame.npartitions == partitions
            computed = frame.compute().reset_index(drop=True)
        pandas.testing.assert_frame_equal(computed, expected)
    damaged = tmp_path / "damaged.bufr"
    damaged.write_bytes(read_bufr(EDITION3.name) + b"BUFR\0\0")
    with dask.config.set({"scheduler": "sync"}):
        kept = corvane.dask.read(damaged, columns=["stationNumber"], errors="skip").compute()
        loose = corvane.dask.read(paths[1], columns=columns, required_columns=False).compute()
    assert kept.stationNumber.tolist() == [948, 766, 257]
    loose_rows = len(corvane.read(paths[1], columns=columns, required_columns=False))
    assert len(loose) == loose_rows > len(corvane.read(paths[1], columns=columns))
