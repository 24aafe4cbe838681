"""The corvane command line: its output and its exit status."""

import csv
import gzip
import io
import json
import pathlib
import subprocess
import sys

import pytest
from builders import BitWriter, make_message
from conftest import DATA, DBALLE, DBALLE_TABLES, read_bufr

import corvane._sources
import corvane.cli

EDITION3 = DATA / "bufr" / "pdbufr-syn_new.bufr"
HOSTILE = DATA / "hostile"


def run(*args):
    return subprocess.run([sys.executable, "-m", "corvane", *map(str, args)], capture_output=True, text=True)


def test_ls_and_dump_succeed_on_a_good_file():
    listed = run("ls", EDITION3)
    assert listed.returncode == 0, listed.stderr
    assert listed.stdout.splitlines()[1].split() == [
        "0",
        "0",
        "3",
        "98",
        "ecmf",
        "0",
        "2020-03-15",
        "00:00:00",
        "1",
        "no",
        "14",
    ]
    dumped = run("dump", EDITION3, "-m", "2", "--json")
    assert dumped.returncode == 0, dumped.stderr
    subset, *values = json.loads(dumped.stdout)["messages"]
    # As ecCodes decodes the same message: 136 elements, the third the station name.
    assert (subset, len(values)) == ({"key": "subsetNumber", "value": 1}, 136)
    assert values[2] == {"key": "stationOrSiteName", "value": "LITANG", "code": "001015", "units": "CCITT IA5"}


def test_get_gives_the_rows_of_read():
    pytest.importorskip("pandas")
    result = run("get", DATA / "bufr" / "dwd-synop-44msgs.bufr", "-k", "WMO_station_id,stationOrSiteName", "--csv")
    assert result.returncode == 0, result.stderr
    rows = list(csv.reader(io.StringIO(result.stdout)))
    assert rows[:3] == [
        ["message", "subset", "WMO_station_id", "stationOrSiteName"],
        ["0", "1", "10033", "GLUECKSBURG-MEIERWIK"],
        ["0", "2", "10037", "SCHLESWIG-JAGEL"],
    ]
    temp = DATA / "bufr" / "pdbufr-temp_hires.bufr"
    levels = run("get", temp, "-k", "pressure,airTemperature", "--csv").stdout.splitlines()[1:]
    assert len(levels) == len(corvane.read(temp, columns=["pressure", "airTemperature"], required_columns=False)) > 1


def test_ls_reads_no_data():
    # 51 bytes that declare 65,535 subsets of 256 markers: decoding them takes 800 MB.
    probe = (
        "import sys, corvane.cli; status = corvane.cli.main(sys.argv[1:]); "
        "sys.stderr.write(next(line for line in open('/proc/self/status') if line.startswith('VmHWM'))); "
        "sys.exit(status)"
    )
    if not pathlib.Path("/proc/self/status").exists():
        pytest.skip("needs /proc")
    result = subprocess.run(
        [sys.executable, "-c", probe, "ls", HOSTILE / "marker-bomb-65535x256.bufr"], capture_output=True, text=True
    )
    assert result.returncode == 0, result.stderr
    assert result.stdout.splitlines()[1].split()[-3:-1] == ["65535", "yes"]
    assert int(result.stderr.split()[1]) < 200 * 1024


def test_data_that_cannot_be_read_fails_in_one_line_each(tmp_path, monkeypatch, capsys):
    cut = run("ls", HOSTILE / "ISND02_LLBD-cut.bufr.gz")
    assert cut.returncode == 1
    assert cut.stderr.splitlines() == [
        "corvane: message 0 at byte 37: section 0 at offset 37 is truncated: the gzip stream stops short after "
        "162 bytes: the data ends before the end of the stream",
        "corvane: 1 of 1 messages failed",
    ]
    # 4 MiB of zeros in 4 KiB, past a floor lowered to 1 MiB.
    monkeypatch.setattr(corvane._sources, "MIN_LIMIT", 1 << 20)
    bomb = tmp_path / "bomb.bufr"
    bomb.write_bytes(gzip.compress(bytes(4 << 20)))
    assert corvane.cli.main(["dump", str(bomb)]) == 1
    refused = capsys.readouterr().err.splitlines()
    assert len(refused) == 1 and "decompression bomb" in refused[0]


def test_failed_messages_exit_1_with_a_summary(tmp_path):
    damaged = tmp_path / "damaged.bufr"
    damaged.write_bytes(read_bufr(EDITION3.name) + b"BUFR\0\0")
    result = run("get", damaged, "-k", "stationNumber")
    assert result.returncode == 1
    assert len(result.stdout.splitlines()) == 4
    assert result.stderr.splitlines()[-1] == "corvane: 1 of 4 messages failed"


def test_tables_list_the_packed_versions_and_extra_tables_and_ls_marks_the_fallback():
    listed = run("tables")
    assert listed.returncode == 0, listed.stderr
    assert "versions 40-46: Table B and D: ecCodes 2.50; code and flag tables: WMO BUFR4" in listed.stdout
    assert listed.stdout.splitlines()[-1] == "a message of a newer master version than 46 is decoded with version 46"
    assert run("ls", DATA / "bufr" / "v50-MODE_12.bufr").stdout.splitlines()[1].split()[-1] == "50->46"
    dumped = run("--extra-tables", DBALLE_TABLES, "dump", DBALLE)
    assert dumped.returncode == 0, dumped.stderr
    assert "001194 reportMnemonic = 'generic'" in dumped.stdout
    assert (
        run("--extra-tables", DBALLE_TABLES, "tables").stdout.splitlines()[-1]
        == f"extra tables, before these (--extra-tables): {DBALLE_TABLES}"
    )


@pytest.mark.parametrize(
    "args",
    [
        ["ls"],
        ["get", EDITION3],
        ["dump", EDITION3, "-m", "3"],
        ["ls", DATA / "absent.bufr"],
        ["--tables", DATA, "ls", EDITION3],
        ["--extra-tables", DATA, "ls", EDITION3],
        ["ls", "-p", "airTemprature", EDITION3],
        ["ls", "-w", "dataCategory", EDITION3],
        ["ls", EDITION3, "--bogus"],
        ["copy", EDITION3, "-o", DATA / "absent" / "out.bufr"],
        ["convert", EDITION3, "-o", "rows.xlsx"],
        ["convert", EDITION3, "-o", "rows.csv", "-k", "airTemprature"],
    ],
)
def test_usage_errors_exit_2(args):
    result = run(*args)
    assert result.returncode == 2
    assert len(result.stderr.splitlines()) == 1 and not result.stdout


def test_options_come_before_or_after_the_verb_and_help_shows_examples():
    dumped = run("dump", DBALLE, "--extra-tables", DBALLE_TABLES)
    assert dumped.returncode == 0, dumped.stderr
    assert "001194 reportMnemonic = 'generic'" in dumped.stdout
    assert run("--version").stdout == f"corvane {corvane.__version__}\n"
    for verb in ("ls", "copy", "dump", "get", "tables"):
        assert f"corvane {verb} " in run(verb, "--help").stdout.split("examples:")[1]


@pytest.fixture
def mixed(tmp_path):
    """44 DWD synops (centre 78), a TEMP and 4 ECMWF synops (centre 98) in one file."""
    path = tmp_path / "mixed.bufr"
    path.write_bytes(b"".join(map(read_bufr, ["dwd-synop-44msgs.bufr", "pdbufr-temp_hires.bufr", EDITION3.name])))
    return path


def test_ls_prints_keys_of_the_messages_that_pass_from_files_and_standard_input(mixed):
    keys = "bufrHeaderCentre,dataCategory,typicalDate,WMO_station_id"
    with open(mixed, "rb") as stdin:
        result = subprocess.run(
            [sys.executable, "-m", "corvane", "ls", "-p", keys, "-w", "bufrHeaderCentre=ecmf/74", "--csv", mixed, "-"],
            stdin=stdin,
            capture_output=True,
            text=True,
        )
    assert result.returncode == 0, result.stderr
    rows = list(csv.DictReader(io.StringIO(result.stdout)))
    first = corvane.read(mixed, columns=["WMO_station_id"]).drop_duplicates("message")
    expected = [
        [
            str(m.centre),
            str(m.data_category),
            m.time.strftime("%Y%m%d"),
            str(first.set_index("message").loc[m.index, "WMO_station_id"]),
        ]
        for m in corvane.open(mixed).headers()
        if m.centre == 98
    ]
    assert [[row[key] for key in keys.split(",")] for row in rows] == expected * 2
    assert {row["file"] for row in rows} == {str(mixed), "-"}
    counts = [run("ls", "-n", "-w", clause, mixed).stdout for clause in ("dataCategory=0", "dataCategory!=0")]
    assert counts == ["47\n", "1\n"]
    listed = json.loads(run("ls", "-j", "-p", "numberOfSubsets", mixed).stdout)
    assert [m["numberOfSubsets"] for m in listed] == [m.subsets for m in corvane.open(mixed).headers()]


def test_copy_keeps_the_bytes_of_the_chosen_messages_and_splits_by_key(mixed, tmp_path):
    data = mixed.read_bytes()
    messages = list(corvane.open(mixed).headers())
    chosen = run("copy", mixed, "-w", "dataCategory=0,bufrHeaderCentre!=78", "-o", tmp_path / "synop.bufr")
    assert chosen.returncode == 0, chosen.stderr
    wanted = [m for m in messages if m.data_category == 0 and m.centre != 78]
    assert (tmp_path / "synop.bufr").read_bytes() == b"".join(data[m.offset : m.offset + m.length] for m in wanted)
    split = run("copy", mixed, "-o", tmp_path / "[bufrHeaderCentre]_[dataCategory].bufr")
    assert split.returncode == 0, split.stderr
    for name, centre, category in [("edzw_0", 78, 0), ("ecmf_2", 98, 2), ("ecmf_0", 98, 0)]:
        wanted = [m for m in messages if (m.centre, m.data_category) == (centre, category)]
        assert (tmp_path / f"{name}.bufr").read_bytes() == b"".join(
            data[m.offset : m.offset + m.length] for m in wanted
        )


def test_convert_streams_the_rows_of_read_from_many_files_to_one(tmp_path):
    pandas = pytest.importorskip("pandas")
    keys = ["latitude", "longitude", "WMO_station_id", "airTemperature"]
    sources = [DATA / "bufr" / "dwd-synop-44msgs.bufr", EDITION3]
    expected = pandas.concat([corvane.read(path, columns=keys) for path in sources], ignore_index=True)
    for suffix in (".csv", ".jsonl", ".geojson"):
        result = run("convert", *sources, "-o", tmp_path / f"rows{suffix}", "-k", ",".join(keys))
        assert result.returncode == 0, result.stderr
    assert pandas.read_csv(tmp_path / "rows.csv").airTemperature.tolist() == pytest.approx(
        expected.airTemperature.tolist(), nan_ok=True
    )
    lines = (tmp_path / "rows.jsonl").read_text().splitlines()
    assert [json.loads(line)["WMO_station_id"] for line in lines] == expected.WMO_station_id.tolist()
    features = json.loads((tmp_path / "rows.geojson").read_text())["features"]
    assert features[1]["geometry"]["coordinates"] == [expected.longitude[1], expected.latitude[1]]
    assert features[1]["properties"]["airTemperature"] == expected.airTemperature[1] and len(features) == len(expected)


def test_keys_lists_each_key_with_its_unit_and_counts():
    rows = list(csv.reader(io.StringIO(run("keys", EDITION3, "--csv").stdout)))
    values = [v for m in corvane.open(EDITION3) for v in m.values() if v.key == "airTemperature"]
    by_key = {row[0]: row[1:] for row in rows[1:]}
    assert rows[0] == ["key", "unit", "present", "most_per_subset"]
    assert by_key["airTemperature"][:2] == ["K", str(sum(v.value is not None for v in values))]


def test_dump_shows_one_subset():
    synop = DATA / "bufr" / "dwd-synop-44msgs.bufr"
    message = corvane.open(synop)[0]
    result = run("dump", synop, "-m", "0", "-S", "2", "--json")
    subset, *values = json.loads(result.stdout)["messages"]
    assert subset["value"] == 2 and [v["value"] for v in values] == [v.value for v in message.values() if v.subset == 2]


def test_dump_reports_a_message_whose_data_fails_and_goes_on(tmp_path):
    good = make_message([1001], BitWriter().put(5, 7).bytes())
    # 012101 takes 16 bits: a section 4 of one octet ends before its value.
    bad = make_message([12101], BitWriter().put(1, 8).bytes())
    path = tmp_path / "mixed.bufr"
    path.write_bytes(good + bad + good)
    result = run("dump", path)
    assert result.returncode == 1
    assert result.stderr.splitlines()[0].startswith(f"corvane: message 1 at byte {len(good)}: ")
    heads = [line for line in result.stdout.splitlines() if line.startswith("message")]
    reason = result.stderr.splitlines()[0].split(": ", 2)[2]
    assert heads[1] == f"message 1 at byte {len(good)}: error: {reason}"
    assert heads[0].startswith("message 0 ") and heads[2].startswith("message 2 ") and len(heads) == 3


def test_check_names_each_problem_and_exits_1(tmp_path):
    assert run("check", DATA / "bufr" / "dwd-synop-44msgs.bufr").stdout == ""
    # 001001 of 7 bits, then 24 bits that no descriptor reads; then a truncated message.
    left = make_message([1001], BitWriter().put(5, 7).put(0, 25).bytes())
    path = tmp_path / "problems.bufr"
    path.write_bytes(left + read_bufr("short3.bufr"))
    result = run("check", path)
    lines = result.stdout.splitlines()
    assert result.returncode == 1 and len(lines) == 2
    assert lines[0].endswith("message 0 at byte 0: 25 bits of section 4 are left after the last value")
    assert f"message 1 at byte {len(left)}: " in lines[1]
