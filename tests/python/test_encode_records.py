"""Writing BUFR from records: subsets as mappings of keys, and corvane encode."""

import collections
import json
import subprocess
import sys

import pytest
from conftest import DATA

import corvane

# A station, then a delayed replication of cloud layers (amount, height of base), then a temperature.
CLOUDS = [1001, 1002, 102000, 31001, 20011, 20013, 12101]


def decoded(data):
    message = corvane.open(data)[0]
    return [[(v.key, v.value) for v in message.values() if v.subset == s] for s in range(1, message.subsets + 1)]


def test_records_give_their_values_and_the_counts_of_their_lists():
    records = [
        {"blockNumber": 10, "stationNumber": 384, "cloudAmount": [3, 5], "heightOfBaseOfCloud": [300, 1200]},
        # No list: "#n#key" reaches the second layer; what the record lacks is missing.
        {"#2#cloudAmount": 4, "airTemperature": 273.2},
        {"blockNumber": 6},
    ]
    layer = [("cloudAmount", None), ("heightOfBaseOfCloud", None)]
    assert decoded(corvane.encode(CLOUDS, records)) == [
        [
            ("blockNumber", 10.0),
            ("stationNumber", 384.0),
            ("delayedDescriptorReplicationFactor", 2.0),
            ("cloudAmount", 3.0),
            ("heightOfBaseOfCloud", 300.0),
            ("cloudAmount", 5.0),
            ("heightOfBaseOfCloud", 1200.0),
            ("airTemperature", None),
        ],
        [
            ("blockNumber", None),
            ("stationNumber", None),
            ("delayedDescriptorReplicationFactor", 2.0),
            *layer,
            ("cloudAmount", 4.0),
            ("heightOfBaseOfCloud", None),
            ("airTemperature", 273.2),
        ],
        [
            ("blockNumber", 6.0),
            ("stationNumber", None),
            ("delayedDescriptorReplicationFactor", 0.0),
            ("airTemperature", None),
        ],
    ]


def test_records_that_name_no_value_of_the_message_fail_naming_the_key():
    with pytest.raises(KeyError, match="no BUFR key 'airTemprature'; did you mean 'airTemperature'"):
        corvane.encode(CLOUDS, [{"airTemprature": 280.0}])
    with pytest.raises(corvane.BufrError, match="'cloudAmount' gives 2 repetitions .* 'heightOfBaseOfCloud' gives 1"):
        corvane.encode(CLOUDS, [{"cloudAmount": [1, 2], "heightOfBaseOfCloud": [300]}])
    with pytest.raises(corvane.BufrError, match="'#2#blockNumber' asks for more occurrences than the 1"):
        corvane.encode(CLOUDS, [{"#2#blockNumber": 1}])
    # 300 layers do not fit the 8 bits of 031001: the error names the record's own subset.
    with pytest.raises(corvane.BufrError, match=r"\(031001\) of subset 2 does not fit its 8-bit field"):
        corvane.encode(CLOUDS, [{"blockNumber": 1}, {"cloudAmount": [0] * 300}])


def test_synop_records_with_their_replication_factors_rebuild_the_messages():
    for message in list(corvane.open(DATA / "bufr" / "dwd-synop-44msgs.bufr"))[:3]:
        values = message.values()
        records = [{} for _ in range(message.subsets)]
        seen = collections.Counter()
        for value in values:
            seen[value.subset, value.key] += 1
            records[value.subset - 1][f"#{seen[value.subset, value.key]}#{value.key}"] = value.value
        data = corvane.encode(
            message.descriptors,
            records,
            centre=message.centre,
            subcentre=message.subcentre,
            master_version=message.master_version,
            local_version=message.local_version,
        )
        assert [(v.subset, v.key, v.value) for v in corvane.open(data)[0].values()] == [
            (v.subset, v.key, v.value) for v in values
        ]


def test_cli_encodes_csv_and_json_lines_records(tmp_path):
    (tmp_path / "a.csv").write_text("blockNumber,stationNumber,#1#cloudAmount\n10,384,3\n6,,\n")
    (tmp_path / "b.jsonl").write_text(
        json.dumps({"blockNumber": 1, "cloudAmount": [1, 2], "heightOfBaseOfCloud": [900, 800]}) + "\n"
    )
    out = tmp_path / "out.bufr"
    codes = ",".join(map(str, CLOUDS))
    args = ["encode", "--descriptors", codes, "--centre", "98", tmp_path / "a.csv", tmp_path / "b.jsonl", "-o", out]
    done = subprocess.run([sys.executable, "-m", "corvane", *map(str, args)], capture_output=True, text=True)
    assert done.returncode == 0, done.stderr
    bufr = corvane.open(out)
    assert [(m.centre, m.subsets) for m in bufr] == [(98, 2), (98, 1)]
    assert decoded(bufr[0].to_bytes())[1][:3] == [
        ("blockNumber", 6.0),
        ("stationNumber", None),
        ("delayedDescriptorReplicationFactor", 0.0),
    ]
    assert [v for _, v in decoded(bufr[1].to_bytes())[0][3:7]] == [1.0, 900.0, 2.0, 800.0]
    split = subprocess.run(
        [sys.executable, "-m", "corvane", *map(str, args), "--subsets-per-message", "1"], capture_output=True, text=True
    )
    assert split.returncode == 0, split.stderr
    assert [m.subsets for m in corvane.open(out)] == [1, 1, 1]
