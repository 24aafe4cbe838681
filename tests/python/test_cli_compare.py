"""corvane compare: which differences it lists, and its exit status."""

import subprocess
import sys

import pytest
from builders import BitWriter, make_message
from conftest import DATA

SYNOP = DATA / "bufr" / "dwd-synop-44msgs.bufr"
# 012101 airTemperature: 16 bits, scale 2, in kelvin.
TEMPERATURE = 12101


def run(*args):
    return subprocess.run([sys.executable, "-m", "corvane", "compare", *map(str, args)], capture_output=True, text=True)


def temperature(hundredths):
    return make_message([TEMPERATURE], BitWriter().put(hundredths, 16).bytes())


@pytest.fixture
def pair(tmp_path):
    """Two files of two messages that differ in the second message's temperature only."""
    first, second = tmp_path / "a.bufr", tmp_path / "b.bufr"
    first.write_bytes(temperature(27315) + temperature(27315))
    second.write_bytes(temperature(27315) + temperature(27415))
    return first, second


def test_a_file_equals_itself_and_an_update_sequence_number_is_a_header_difference(tmp_path):
    same = run(SYNOP, SYNOP)
    assert (same.returncode, same.stdout) == (0, ""), same.stderr
    # Message 5 alone marked as a correction: its bytes differ, its data does not.
    data = bytearray(SYNOP.read_bytes())
    starts = [i for i in range(len(data)) if data[i : i + 4] == b"BUFR"]
    data[starts[5] + 8 + 8] += 1  # octet 9 of section 1 in edition 4
    changed = tmp_path / "changed.bufr"
    changed.write_bytes(bytes(data))
    found = run(SYNOP, changed)
    assert found.returncode == 1, found.stderr
    assert found.stdout == "message 5 updateSequenceNumber: 0 != 1\n"
    assert run(SYNOP, changed, "-b", "updateSequenceNumber").returncode == 0


def test_a_changed_value_is_listed_with_both_values_and_how_far_apart(pair, tmp_path):
    found = run(*pair)
    assert found.returncode == 1, found.stderr
    assert found.stdout.splitlines() == [
        "message 1 subset 1 #1#airTemperature: 273.15 != 274.15 (absolute 1, relative 0.00364764)"
    ]
    missing = tmp_path / "missing.bufr"
    missing.write_bytes(temperature(27315) + temperature(0xFFFF))
    assert run(pair[0], missing).stdout == "message 1 subset 1 #1#airTemperature: 273.15 != MISSING\n"


@pytest.mark.parametrize(
    "options, status",
    [
        (["-A", "1.5"], 0),
        (["-A", "0.5"], 1),
        (["-R", "0.004"], 0),
        (["-R", "all=0.004,airTemperature=0.001"], 1),
        (["-R", "#1#airTemperature=0.004"], 0),
        (["-b", "airTemperature"], 0),
        (["-k", "airTemperature"], 1),
        (["--headers"], 0),
    ],
)
def test_tolerances_and_chosen_keys_decide_what_differs(pair, options, status):
    assert run(*pair, *options).returncode == status


def test_a_different_number_of_messages_is_a_difference(pair, tmp_path):
    shorter = tmp_path / "one.bufr"
    shorter.write_bytes(temperature(27315))
    found = run(pair[0], shorter)
    assert (found.returncode, found.stdout) == (1, "message count: 2 != 1\n")


@pytest.mark.parametrize(
    "options",
    [["-A", "1", "-R", "0.1"], ["-R", "x=y"], ["-k", "airTemprature"], ["-A", "-1"]],
)
def test_usage_errors_exit_2_with_one_line(pair, options):
    found = run(*pair, *options)
    assert found.returncode == 2
    assert len(found.stderr.splitlines()) == 1 and not found.stdout


def test_a_path_that_cannot_be_read_is_a_usage_error(pair, tmp_path):
    assert run(pair[0], tmp_path / "absent.bufr").returncode == 2
