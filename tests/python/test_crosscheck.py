"""Our element values against another decoder's dump of the same real messages."""

import json

import pytest
from conftest import DATA, DEFINITIONS
from crosscheck import compare_file, compare_package_file

import corvane

REFERENCES = sorted((DATA / "reference").glob("*.bufr.json"))
# Editions 2 and 3 and local tables of several centres, which only the package reads.
WIDE_REFERENCES = sorted((DATA / "reference-wide").glob("*.bufr.json"))
# Master versions 40 to 46, against ecCodes 2.50.
CURRENT_REFERENCES = sorted((DATA / "reference-current").glob("*.bufr.json"))


def bufr_of(reference):
    return DATA / "bufr" / reference.name[: -len(".json")]


@pytest.mark.parametrize("reference", REFERENCES, ids=[path.name[:-5] for path in REFERENCES])
def test_values_agree_with_the_reference_dump(reference):
    assert compare_file(bufr_of(reference), reference, str(DEFINITIONS)) == []


def test_the_reference_set_covers_both_layouts():
    import _corvane

    layouts = {_corvane.parse_all_file(str(bufr_of(path)))[0].compressed_data for path in REFERENCES}
    assert layouts == {False, True}


@pytest.mark.parametrize(
    "reference",
    REFERENCES + WIDE_REFERENCES + CURRENT_REFERENCES,
    ids=[path.name[:-5] for path in REFERENCES + WIDE_REFERENCES + CURRENT_REFERENCES],
)
def test_package_values_agree_with_the_reference_dump_with_the_shipped_tables(reference):
    bufr = corvane.open(bufr_of(reference), errors="keep")
    assert compare_package_file(bufr, json.loads(reference.read_text())) == []


def test_the_package_sample_covers_every_edition_in_both_layouts():
    kinds = {
        (message.edition, message.compressed)
        for path in REFERENCES + WIDE_REFERENCES
        for message in corvane.open(bufr_of(path), errors="keep")
    }
    assert {(3, False), (3, True), (4, False), (4, True), (2, False)} <= kinds


def test_an_edition_2_message_has_the_sections_that_the_reference_decoder_reads():
    # The other decoder cannot decode its data either: its local descriptors are in no shipped table.
    [message] = corvane.open(DATA / "bufr" / "dballe-ed2radar.bufr", errors="keep")
    assert (
        message.edition,
        message.centre,
        message.subcentre,
        message.master_version,
        message.local_version,
        message.data_category,
        message.subsets,
        message.compressed,
    ) == (2, 65535, 0, 11, 4, 6, 1, False)
    assert message.time.isoformat() == "2007-08-13T18:30:00"
    assert message.descriptors[16] == 321193
    assert message.error.startswith(
        "descriptor 321193 was not found in Table D: a local descriptor, which the local "
        "tables of centre 65535 subcentre 0 (local version 4) would define"
    )
