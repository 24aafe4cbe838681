"""The corvane command line: its output and its exit status."""
import csv
import io
import json
import subprocess
import sys

import pytest

from conftest import DATA, DBALLE, DBALLE_ELEMENTS, read_bufr

EDITION3 = DATA / "bufr" / "pdbufr-syn_new.bufr"


def run(*args):
    return subprocess.run([sys.executable, "-m", "corvane", *map(str, args)], capture_output=True, text=True)


def test_ls_and_dump_succeed_on_a_good_file():
    listed = run("ls", EDITION3)
    assert listed.returncode == 0, listed.stderr
    assert listed.stdout.splitlines()[1].split() == ["0", "0", "3", "98", "0", "2020-03-15", "00:00:00", "1", "no", "14"]
    dumped = run("dump", EDITION3, "-m", "2", "--json")
    assert dumped.returncode == 0, dumped.stderr
    [message] = json.loads(dumped.stdout)
    # As ecCodes decodes the same message: 136 elements, the third the station name.
    assert (message["index"], message["offset"], len(message["values"][0])) == (2, 678, 136)
    assert message["values"][0][2] == {"code": "001015", "key": "stationOrSiteName", "value": "LITANG",
                                       "unit": "CCITT IA5", "meaning": None}


def test_get_gives_one_row_per_subset():
    result = run("get", DATA / "bufr" / "dwd-synop-44msgs.bufr", "-k", "stationNumber,stationOrSiteName", "--csv")
    assert result.returncode == 0, result.stderr
    rows = list(csv.reader(io.StringIO(result.stdout)))
    assert rows[:3] == [["message", "subset", "stationNumber", "stationOrSiteName"],
                        ["0", "1", "33", "GLUECKSBURG-MEIERWIK"], ["0", "2", "37", "SCHLESWIG-JAGEL"]]


def test_failed_messages_exit_1_with_a_summary(tmp_path):
    damaged = tmp_path / "damaged.bufr"
    damaged.write_bytes(read_bufr(EDITION3.name) + b"BUFR\0\0")
    result = run("get", damaged, "-k", "stationNumber")
    assert result.returncode == 1
    assert len(result.stdout.splitlines()) == 4
    assert result.stderr.splitlines()[-1] == "corvane: 1 of 4 messages failed"


def test_tables_list_the_packed_versions_and_extra_tables_and_ls_marks_the_fallback(tmp_path):
    listed = run("tables")
    assert listed.returncode == 0, listed.stderr
    assert "versions 40-46: Table B and D: ecCodes 2.50; code and flag tables: WMO BUFR4" in listed.stdout
    assert listed.stdout.splitlines()[-1] == "a message of a newer master version than 46 is decoded with version 46"
    assert run("ls", DATA / "bufr" / "v50-MODE_12.bufr").stdout.splitlines()[1].split()[-1] == "50->46"
    (tmp_path / "element.table").write_text(DBALLE_ELEMENTS)
    dumped = run("--extra-tables", tmp_path, "dump", DBALLE)
    assert dumped.returncode == 0, dumped.stderr
    assert "001194 reportMnemonic = 'generic'" in dumped.stdout
    assert run("--extra-tables", tmp_path, "tables").stdout.splitlines()[-1] == \
        f"extra tables, before these (--extra-tables): {tmp_path}"


@pytest.mark.parametrize("args", [["ls"], ["get", EDITION3], ["dump", EDITION3, "-m", "3"],
                                  ["ls", DATA / "absent.bufr"], ["--tables", DATA, "ls", EDITION3],
                                  ["--extra-tables", DATA, "ls", EDITION3]])
def test_usage_errors_exit_2(args):
    result = run(*args)
    assert result.returncode == 2
    assert result.stderr.strip() and not result.stdout
