"""Inputs read a window at a time give what reading them whole gives."""

import gzip
import importlib.util

import pytest
from conftest import read_bufr

import corvane
import corvane.cli
from corvane import _core, _sources, _stream


@pytest.fixture
def awkward(tmp_path):
    """Good messages between junk, a marker with nothing after it, one whose length runs into the
    next message, and a truncated tail."""
    synop, amda = read_bufr("dwd-synop-44msgs.bufr"), read_bufr("pybufrkit-amda_144.bufr")
    overlong = bytearray(amda[:172])
    overlong[4:7] = (172 + 40).to_bytes(3, "big")
    data = b"junk" + synop[:20000] + b"BUFR\0\0" + bytes(300) + bytes(overlong) + amda + synop[:3000]
    path = tmp_path / "awkward.bufr"
    path.write_bytes(data)
    return path


@pytest.mark.parametrize("compress", [False, True])
def test_windows_find_what_one_scan_finds(awkward, tmp_path, compress):
    data = awkward.read_bytes()
    path = awkward
    if compress:
        path = tmp_path / "awkward.bufr.gz"
        path.write_bytes(gzip.compress(data[:9000]) + gzip.compress(data[9000:]))
    whole = [tuple(entry) for entry in _core.scan(data)]
    assert any(entry[3] for entry in whole) and sum(entry[3] is None for entry in whole) > 5
    for size in (64, 1000, 1 << 20):
        found = [
            (entry.index + window.first_index, entry.offset + window.first_offset, entry.length, entry.error)
            for window in _stream.windows(str(path), corvane.Tables(), size)
            for entry in window.bufr._entries
        ]
        assert found == whole, size


def test_verbs_give_the_same_output_in_small_windows(awkward, tmp_path, monkeypatch, capsys):
    def outputs():
        shown = []
        for args in (["ls", "--json"], ["ls", "-p", "bufrHeaderCentre,airTemperature"], ["check"]):
            status = corvane.cli.main([*args, str(awkward)])
            shown.append((status, *capsys.readouterr()))
        copied, rows = tmp_path / "copied.bufr", tmp_path / "rows.csv"
        corvane.cli.main(["copy", str(awkward), "-o", str(copied), "-w", "dataCategory=0"])
        if importlib.util.find_spec("pandas"):
            corvane.cli.main(["convert", str(awkward), "-o", str(rows), "-k", "WMO_station_id,airTemperature"])
        capsys.readouterr()
        return shown, copied.read_bytes(), rows.read_text() if rows.exists() else None

    whole = outputs()
    monkeypatch.setattr(_sources, "PIECE", 4096)
    assert outputs() == whole
    assert whole[0][0][0] == 1 and len(whole[1]) > 10000
