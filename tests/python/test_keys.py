import datetime

import numpy as np
import pytest
from builders import make_message
from conftest import read_bufr

import corvane
from corvane import _core
from corvane._keys import (
    HEADER_KEYS,
    check_column_name,
    header_column,
    header_value,
    header_values,
    known_keys,
    typical_datetime,
    unknown_key,
)
from corvane._keys import typical_datetime_column as datetime_column


def built(edition=4, **octets):
    """A parsed message whose section-1 octets (by position in section 1) are set."""
    data = bytearray(make_message(subsets=3, edition=edition))
    for position, value in octets.items():
        data[8 + int(position[1:])] = value
    return bytes(data), _core.parse(bytes(data), 0, len(data))


def test_header_keys_read_their_own_octets_of_section_1():
    data, metadata = built(o8=3, o10=2, o11=7, o12=101)
    expected = {
        "updateSequenceNumber": 3,
        "dataCategory": 2,
        "internationalDataSubCategory": 7,
        "dataSubCategory": 101,
        "bufrHeaderCentre": 98,
        "masterTablesVersionNumber": 39,
        "typicalDate": 20240102,
        "typicalTime": 30405,
        "numberOfSubsets": 3,
        "observedData": 1,
        "compressedData": 0,
    }
    assert {key: header_value(key, metadata) for key in expected} == expected
    # As ecCodes gives it: a two-digit year is one of this century in typicalDate alone.
    _, year_12 = built(o15=0, o16=12)
    assert (header_value("typicalYear", year_12), header_value("typicalDate", year_12)) == (12, 20120102)
    message = corvane.open(data)[0]
    assert (message.update_sequence, message.international_subcategory, message.local_subcategory) == (3, 7, 101)


def test_editions_before_4_have_no_international_sub_category():
    message = corvane.open(read_bufr("edition3-sample.bufr"))[0]
    metadata = _core.parse(read_bufr("edition3-sample.bufr"), message.offset, message.length)
    # What ecCodes gives for this message.
    assert header_value("dataSubCategory", metadata) == message.local_subcategory == 202
    assert header_value("internationalDataSubCategory", metadata) is message.international_subcategory is None
    _, edition4 = built(o11=7)
    column = header_column("internationalDataSubCategory", [metadata, edition4], np.array([1, 0, 1]))
    assert column.dtype == np.int64 and column.mask.tolist() == [False, True, False]
    assert column.data[[0, 2]].tolist() == [7, 7]


def test_typical_datetime_is_nat_for_a_date_that_does_not_exist():
    valid_data, valid = built()
    february_data, february_30 = built(o17=2, o18=30)
    assert typical_datetime(valid) == np.datetime64("2024-01-02T03:04:05")
    assert np.isnat(typical_datetime(february_30))
    data = valid_data + february_data
    found = _core.parse_all(data, _core.scan(data))
    found.pop("errors")
    column = datetime_column({name: memoryview(cells).cast("q") for name, cells in found.items()}, np.array([1, 1, 0]))
    assert column.dtype == np.dtype("datetime64[s]")
    assert np.isnat(column).tolist() == [True, True, False]


def test_known_keys_hold_element_keys_and_labels_once_per_tables():
    tables = corvane.Tables()
    keys = known_keys(tables)
    assert {"airTemperature", "blockNumber", "associatedField", "characterData"} <= keys
    assert "airTemprature" not in keys
    assert known_keys(tables) is keys


def test_unknown_names_suggest_the_nearest_keys_in_full():
    known = frozenset({"airTemperature", "dewpointTemperature", "pressure", "height", "heights", "weight"})
    cases = {
        "#2#presure": "did you mean '#2#pressure'?",
        "airTemprature": "did you mean 'airTemperature' or 'dewpointTemperature'?",
        "airTemperature->percentConfidance": "did you mean 'airTemperature->percentConfidence'?",
        "heigth": "did you mean 'height', 'heights' or 'weight'?",
        "zzz": "list the keys of a file with corvane.open(path).table().names",
        "#0#pressure": "occurrences count from 1, as in '#1#pressure'",
    }
    for name, advice in cases.items():
        with pytest.raises(KeyError) as raised:
            check_column_name(name, known)
        assert str(raised.value) == f"no BUFR key {name!r}; {advice}"
    assert str(unknown_key("presure", known)) == "no BUFR key 'presure'; did you mean 'pressure'?"
    for good in ["pressure", "#3#height", "height->percentConfidence", "#2#pressure->associatedField->height"]:
        check_column_name(good, known)
    check_column_name("012192", known)
    check_column_name("data_datetime", known, extra=["data_datetime"])
    with pytest.raises(KeyError):
        check_column_name("#2#data_datetime", known, extra=["data_datetime"])


def test_gts_headings_are_found_back_to_the_message_before_only():
    headings = [message.gts_heading for message in corvane.open(read_bufr("dwd-synop-44msgs.bufr"))[:2]]
    assert headings == ["ISMD10 EDZW 161200", "ISMD87 AMDN 161200 RRA"]
    assert corvane.open(read_bufr("ISND02_LLBD.bufr"))[0].gts_heading == "ISND02 LLBD 222200 CCD"
    assert corvane.open(read_bufr("IUSK73_AMMC_182300.bufr"))[0].gts_heading is None
    message = make_message()
    # The second message's heading would be the first one's: it lies before the first's end.
    wrapped = b"\x01\r\r\n123\r\r\nIUSK73 AMMC 182300\r\r\n" + message + b"\r\r\n\x03 no heading\r\r\n" + message
    assert [m.gts_heading for m in corvane.open(wrapped)] == ["IUSK73 AMMC 182300", None]
    # Not a heading: a letter short, or a day-hour-minute group of five digits.
    for line in (b"USK73 AMMC 182300", b"IUSK73 AMMC 18230"):
        assert corvane.open(line + b"\r\r\n" + message)[0].gts_heading is None


def test_section_2_typical_time_and_observed_come_from_their_sections():
    with_local, without = (corvane.open(make_message(section2=local))[0] for local in (b"\0local", None))
    assert (with_local.section2, without.section2) == (b"local", None)
    metadata = [_core.parse(data, 0, len(data)) for data in (make_message(section2=b"\0"), make_message())]
    assert [header_value("section2Present", m) for m in metadata] == [1, 0]
    assert metadata[0].section2 == b""
    assert with_local.typical_time == with_local.time == datetime.datetime(2024, 1, 2, 3, 4, 5)
    assert with_local.observed is True
    unobserved = bytearray(make_message())
    unobserved[8 + 22 + 6] &= 0x7F  # the flags octet of section 3
    assert corvane.open(bytes(unobserved))[0].observed is False


def test_parse_all_and_header_values_agree_with_parse_per_message():
    bad = bytearray(make_message(edition=3))
    bad[8:11] = b"\xff\xff\xff"  # section 1 longer than the message
    data = read_bufr("dwd-synop-44msgs.bufr") + read_bufr("edition3-sample.bufr") + built(o16=12)[0] + bytes(bad)
    entries = _core.scan(data)
    found = _core.parse_all(data, entries)
    errors = dict(found.pop("errors"))
    columns = {name: memoryview(cells).cast("q") for name, cells in found.items()}
    assert len(columns["index"]) == len(entries) == 47
    for position, entry in enumerate(entries):
        assert (columns["index"][position], columns["offset"][position]) == (entry.index, entry.offset)
        try:
            metadata = _core.parse(data, entry.offset, entry.length)
        except ValueError as error:
            assert (errors[position], columns["valid"][position]) == (str(error), 0)
            continue
        assert position not in errors and columns["valid"][position] == 1
        for name, value in metadata._asdict().items():
            if name not in ("descriptors", "section2"):
                assert columns[name][position] == value, name
        assert columns["section2_present"][position] == (metadata.section2 is not None)
        for key in HEADER_KEYS:
            assert header_values(key, columns)[position] == header_value(key, metadata), key
    assert list(errors) == [46]
