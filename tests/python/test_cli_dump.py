"""corvane dump in the shapes of ecCodes' bufr_dump -jf and -p, and as CSV."""

import csv
import io
import json
import subprocess
import sys

import pytest
from conftest import DATA

import corvane

# Edition 3, one subset a message: cloud layers repeat cloudType, and some elements are missing.
SYNOP = DATA / "bufr" / "pdbufr-syn_new.bufr"
# 44 messages of up to 82 uncompressed subsets.
DWD = DATA / "bufr" / "dwd-synop-44msgs.bufr"


def dump(*args):
    return subprocess.run([sys.executable, "-m", "corvane", "dump", *map(str, args)], capture_output=True, text=True)


def test_json_reads_as_bufr_dump_flat_json():
    result = dump(SYNOP, "-m", "0", "--json")
    assert result.returncode == 0, result.stderr
    document = json.loads(result.stdout)
    assert list(document) == ["messages"]
    first, *items = document["messages"]
    assert first == {"key": "subsetNumber", "value": 1}
    assert all(list(item) == ["key", "value", "code", "units"] for item in items)
    by_key = {item["key"]: item for item in items}
    # As bufr_dump -jf writes them: a code table value as an int, missing as null.
    assert by_key["stationType"] == {"key": "stationType", "value": 0, "code": "002001", "units": "CODE TABLE"}
    assert type(by_key["stationType"]["value"]) is int
    assert by_key["surfaceQualifierForTemperatureData"]["value"] is None
    # A repeated key keeps its name, item after item.
    assert [item["value"] for item in items if item["key"] == "cloudType"] == [32, 20, 10, 8]
    # Compressed: one item per element, its subsets' values in a list, or one when all agree.
    compressed = json.loads(dump(DATA / "bufr" / "synop-cloudbelow.bufr", "--json").stdout)["messages"]
    assert compressed[0]["value"] == 11 and compressed[1]["value"][:3] == [406, 414, 438]


def test_flat_writes_key_value_lines_as_bufr_dump_p():
    result = dump(SYNOP, "-m", "0", "--flat")
    assert result.returncode == 0, result.stderr
    lines = result.stdout.split("\n")
    # The factors first, each key's together, as bufr_dump -p lists them.
    assert lines[:3] == [
        "delayedDescriptorReplicationFactor={1, 0}",
        "shortDelayedDescriptorReplicationFactor={0, 0, 1, 1, 1, 1, 0, 1, 0, 0, 0, 1, 0, 1, 1, 0, 1}",
        "edition=3",
    ]
    assert lines[-2:] == ["", ""] and all("=" in line for line in lines[:-2])
    for line in [
        "typicalYearOfCentury=20",
        "unexpandedDescriptors={307096, 005001, 006001, 007001}",
        'stationOrSiteName="MANGAREVA"',
        "surfaceQualifierForTemperatureData=MISSING",
        "#2#cloudType=20",
        "#2#latitude=-23.13",
    ]:
        assert line in lines


def test_csv_of_one_subset():
    result = dump(DWD, "-m", "0", "-S", "2", "--csv")
    assert result.returncode == 0, result.stderr
    header, *rows = list(csv.reader(io.StringIO(result.stdout)))
    assert header == ["message", "subset", "key", "value", "units", "code"]
    values = [value for value in corvane.open(DWD)[0].values() if value.subset == 2]
    assert len(rows) == len(values) and {(row[0], row[1]) for row in rows} == {("0", "2")}
    assert rows[1] == ["0", "2", "stationNumber", "37", "Numeric", "001002"]
    # Keys as corvane.read names its columns: a second occurrence in the subset is "#2#key".
    keys = [row[2] for row in rows]
    assert "#2#timePeriod" in keys and keys.count("timePeriod") == 1


@pytest.mark.parametrize("chosen", [["-m", "44"], ["-m", "1", "-S", "2"]])
def test_a_message_or_subset_past_the_end_is_a_usage_error(chosen):
    result = dump(DWD, *chosen, "--json")
    assert result.returncode == 2 and not result.stdout
    assert len(result.stderr.splitlines()) == 1
