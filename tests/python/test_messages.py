import _corvane
import pytest
from builders import make_message
from conftest import DATA, read_bufr

ATTRIBUTES = [
    "total_length",
    "edition",
    "section1_length",
    "master_table_number",
    "originating_centre",
    "originating_subcentre",
    "update_sequence_number",
    "local_section_present",
    "data_category",
    "international_data_subcategory",
    "local_data_subcategory",
    "master_tables_version_number",
    "local_tables_version_number",
    "typical_year",
    "typical_month",
    "typical_day",
    "typical_hour",
    "typical_minute",
    "typical_second",
    "section2_length",
    "section3_length",
    "number_of_subsets",
    "observed_data",
    "compressed_data",
    "unexpanded_descriptors",
    "section4_length",
    "section4_data_offset",
    "section4_data_length",
]


def test_attributes_in_declaration_order():
    declared = [name for name in vars(_corvane.BufrMessage) if not name.startswith("__")]
    assert declared == ATTRIBUTES


def test_parse_bytes_reads_metadata_and_descriptors():
    data = make_message([1001, 301011], data=b"\xaa\xbb", subsets=3, section2=b"xyz", local_version=2)
    message = _corvane.parse_bytes(data)
    assert message.total_length == len(data)
    assert message.edition == 4
    assert message.originating_centre == 98
    assert message.local_section_present is True
    assert message.section2_length == 6
    assert message.local_tables_version_number == 2
    assert (message.typical_year, message.typical_month, message.typical_second) == (2024, 1, 5)
    assert message.number_of_subsets == 3
    assert message.observed_data is True and message.compressed_data is False
    assert message.unexpanded_descriptors == [1001, 301011]
    assert data[message.section4_data_offset :][: message.section4_data_length] == b"\xaa\xbb"
    assert repr(message) == f"BufrMessage(edition=4, length={len(data)}, subsets=3, descriptors=[1001, 301011])"


def test_smallest_message_and_empty_descriptor_list():
    message = _corvane.parse_bytes(make_message())
    assert message.total_length == 45
    assert message.section4_data_offset == 41 and message.section4_data_length == 0
    assert repr(message) == "BufrMessage(edition=4, length=45, subsets=1, descriptors=[])"


def test_attributes_are_read_only_copies():
    message = _corvane.parse_bytes(make_message([1001]))
    with pytest.raises(AttributeError):
        message.edition = 3
    message.unexpanded_descriptors.append(0)
    assert message.unexpanded_descriptors == [1001]


@pytest.mark.parametrize(
    "data, text",
    [
        (b"BUFR\0\0", "message is too short to be BUFR"),
        (b"BUFR\0\0\x08\x04", "section 1 at offset 8 is truncated"),
        (b"XUFR" + make_message()[4:], "missing BUFR marker"),
        (make_message(edition=3), "unsupported BUFR edition 3; only edition 4 is implemented"),
        (make_message() + make_message(), "declared length 45 does not match buffer length 90"),
        (make_message()[:-1] + b"8", "section 5 terminator is not 7777"),
        (b"  " + make_message(), "missing BUFR marker"),
    ],
)
def test_framing_errors_are_value_errors(data, text):
    with pytest.raises(ValueError) as caught:
        _corvane.parse_bytes(data)
    assert str(caught.value) == text
    assert caught.value.args == (text,)


def test_parse_all_bytes_splits_and_skips_noise():
    one, two = make_message([1001]), make_message([1002, 1003], subsets=2)
    messages = _corvane.parse_all_bytes(b"noise" + one + b"BU" + two + b"tail")
    assert [m.unexpanded_descriptors for m in messages] == [[1001], [1002, 1003]]
    assert _corvane.parse_all_bytes(b"no marker at all") == []


def test_parse_all_bytes_stops_at_the_first_failure():
    with pytest.raises(ValueError, match="^unsupported BUFR edition 3; only edition 4 is implemented$"):
        _corvane.parse_all_bytes(make_message() + make_message(edition=3))
    with pytest.raises(ValueError, match="^message is too short to be BUFR$"):
        _corvane.parse_all_bytes(make_message() + b"BUFR\0")
    with pytest.raises(ValueError, match="^section 0 at offset 45 is truncated$"):
        _corvane.parse_all_bytes(make_message() + b"BUFR\0\1\0\4")


def test_zero_declared_length_cannot_stall_the_scan():
    with pytest.raises(ValueError, match="^message is too short to be BUFR$"):
        _corvane.parse_all_bytes(b"BUFR\0\0\0\x04" * 1000)


def test_parse_file_and_keyword_form(tmp_path):
    path = tmp_path / "one.bufr"
    path.write_bytes(make_message([1001]))
    assert _corvane.parse_file(path=str(path)).unexpanded_descriptors == [1001]
    assert len(_corvane.parse_all_file(str(path))) == 1
    (tmp_path / "link").symlink_to(path)
    assert _corvane.parse_file(str(tmp_path / "link")).unexpanded_descriptors == [1001]


def test_unreadable_file_is_os_error_without_prefix(tmp_path):
    with pytest.raises(OSError) as caught:
        _corvane.parse_file(str(tmp_path / "missing.bufr"))
    assert caught.value.args == ("No such file or directory (os error 2)",)
    assert caught.value.errno is None
    with pytest.raises(OSError, match=r"^Is a directory \(os error 21\)$"):
        _corvane.parse_all_file(str(tmp_path))


def test_paths_with_nul_are_refused(tmp_path):
    path = tmp_path / "one.bufr"
    path.write_bytes(make_message([1001]))
    with pytest.raises(ValueError, match="^embedded null byte$"):
        _corvane.parse_file(str(path) + "\0ignored")
    with pytest.raises(ValueError, match="^embedded null byte$"):
        _corvane.TableSet.from_eccodes(str(tmp_path) + "\0")


def test_real_synop_file_has_44_messages():
    messages = _corvane.parse_all_file(str(DATA / "bufr" / "dwd-synop-44msgs.bufr"))
    assert len(messages) == 44
    assert all(m.edition == 4 and m.originating_centre == 78 for m in messages)
    assert sum(m.total_length for m in messages) <= len(read_bufr("dwd-synop-44msgs.bufr"))


@pytest.mark.parametrize(
    "name, outcome",
    [
        ("contrived.bufr", 1),
        ("edition3-sample.bufr", "unsupported BUFR edition 3; only edition 4 is implemented"),
        ("short3.bufr", "section 0 at offset 0 is truncated"),
        ("truncated-unicode.bufr", [[1019]]),  # a padding octet ends section 3
        ("afl-src01flip1-pos10.bufr", "section 3 at offset 14 is truncated"),
        ("ed4-empty.bufr", 1),
    ],
)
def test_real_files_parse_as_their_bytes_say(name, outcome):
    data = read_bufr(name)
    if isinstance(outcome, str):
        with pytest.raises(ValueError, match=f"^{outcome}$"):
            _corvane.parse_all_bytes(data)
    else:
        messages = _corvane.parse_all_bytes(data)
        assert (len(messages) if isinstance(outcome, int) else [m.unexpanded_descriptors for m in messages]) == outcome
        for message in messages:
            start = data.index(b"BUFR")
            assert data[start + message.total_length - 4 : start + message.total_length] == b"7777"


def test_every_shipped_file_parses_or_fails_cleanly():
    for path in sorted((DATA / "bufr").glob("*.bufr")):
        try:
            messages = _corvane.parse_all_file(str(path))
        except ValueError as error:
            assert str(error), path
        else:
            assert all(m.edition == 4 for m in messages), path
