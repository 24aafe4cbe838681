"""Writing BUFR: messages byte for byte, chosen messages, section 1 rewritten."""

import datetime
import io

import numpy
import pytest
from conftest import DATA

import corvane

SYNOP = DATA / "bufr" / "dwd-synop-44msgs.bufr"
EDITION3 = DATA / "bufr" / "pdbufr-syn_new.bufr"


def test_selected_messages_write_back_byte_for_byte(tmp_path):
    bufr = corvane.open(SYNOP)
    data = SYNOP.read_bytes()
    chosen = bufr.select(lambda m: m.subsets > 1, messages=[5, 2, 0])
    assert [m.index for m in chosen] == [0, 5]
    out = tmp_path / "out.bufr"
    assert corvane.write(out, [*chosen, bufr[0].to_bytes()]) == 3
    expected = b"".join(data[m.offset : m.offset + m.length] for m in [*chosen, bufr[0]])
    assert out.read_bytes() == expected
    with pytest.raises(IndexError):
        bufr.select(messages=[44])
    with pytest.raises(ValueError, match="no whole BUFR message"):
        corvane.write(io.BytesIO(), [b"BUFR"])
    with pytest.raises(TypeError, match="binary"):
        corvane.write(io.StringIO(), [])


def after_section_1(data):
    return data[8 + int.from_bytes(data[8:11], "big") :]


@pytest.mark.parametrize("path", [SYNOP, EDITION3], ids=["edition 4", "edition 3"])
def test_replace_rewrites_section_1_and_keeps_the_data(path):
    message = corvane.open(path)[0]
    time = datetime.datetime(2024, 2, 29, 23, 58, 7)
    edited = corvane.open(message.replace(centre=300, subcentre=7, update_sequence=2, data_category=5, time=time))[0]
    assert (edited.edition, edited.centre, edited.subcentre, edited.update_sequence, edited.data_category) == (
        4,
        300,
        7,
        2,
        5,
    )
    assert (edited.time, edited.master_version, edited.local_subcategory) == (
        time,
        message.master_version,
        message.local_subcategory,
    )
    assert [(v.key, v.value) for v in edited.values()] == [(v.key, v.value) for v in message.values()]
    original = message.to_bytes()
    assert after_section_1(edited.to_bytes()) == after_section_1(original)
    if message.edition == 4:
        assert message.replace() == original
    with pytest.raises(ValueError, match="centre=70000: give an int from 0 to 65535"):
        message.replace(centre=70000)


@pytest.mark.parametrize("name", ["hirs-metop-compressed.bufr", "issue59.bufr"], ids=["compressed", "invalid time"])
def test_extract_subsets_keeps_the_chosen_subsets_and_section_1(name):
    message = corvane.open(DATA / "bufr" / name)[0]
    last = message.subsets - 1
    part = corvane.open(message.extract_subsets([last, 0, last]))[0]
    by_subset = [[v.value for v in message.values() if v.subset == s] for s in (last + 1, 1, last + 1)]
    assert [[v.value for v in part.values() if v.subset == s] for s in (1, 2, 3)] == by_subset
    assert part.compressed == message.compressed
    assert part.to_bytes()[8 : 8 + 22] == message.replace()[8 : 8 + 22]
    assert message.extract_subsets(range(message.subsets)) == message.replace()
    with pytest.raises(IndexError, match=f"subset index {last + 1} is outside"):
        message.extract_subsets([last + 1])


def test_encode_writes_what_the_reader_reads_and_names_what_does_not_fit():
    time = datetime.datetime(2024, 5, 6, 7, 8, 9)
    subsets = [[1, "AB", 287.15, 5, 10], [0, None, 3, None]]
    # Two characters replicated by 101000 031001, then 012101, then 001001 with 4 associated bits.
    descriptors = [101000, 31001, 205002, 12101, 204004, 1001, 204000]
    data = corvane.encode(descriptors, subsets, centre=98, data_category=2, time=time, section2=b"local")
    message = corvane.open(data)[0]
    assert (message.edition, message.centre, message.data_category, message.time, message.section2) == (
        4,
        98,
        2,
        time,
        b"local",
    )
    assert message.master_version == corvane.Tables().newest_master_version()
    values = [[v.value for v in message.values() if v.subset == s] for s in (1, 2)]
    assert values == [[1.0, "AB", 287.15, 5.0, 10.0], [0.0, None, 3.0, None]]
    with pytest.raises(
        corvane.BufrError,
        match=r"the value 700\.0 of airTemperature \(012101\) of subset 2 does not fit its 16-bit field: "
        r"it takes 0\.0 to 655\.34 in steps of 0\.01",
    ):
        corvane.encode([12101], [[280.0], [700.0]])


def test_encode_errors_belong_to_no_message_of_a_file():
    # A value that does not fit, and a record that names an occurrence the descriptors lack.
    for subsets in ([[700.0]], [{"#2#airTemperature": 280.0}]):
        with pytest.raises(corvane.BufrError) as caught:
            corvane.encode([12101], subsets)
        assert (str(caught.value), caught.value.index, caught.value.offset) == (caught.value.reason, None, None)


def test_encode_compressed_reads_back_column_by_column():
    # 001015 text that differs, 012101 with a missing subset, 001001 alike, 010004 all missing, and
    # 012101 twice by a delayed replication alike in every subset.
    descriptors = [1015, 12101, 1001, 10004, 101000, 31001, 12101]
    subsets = [
        ["ALPHA", 287.15, 10.0, None, 2.0, 1.0, 2.0],
        ["BETA", None, 10.0, None, 2.0, 3.0, None],
        ["ALPHA", 250.0, 10.0, None, 2.0, 4.5, 5.0],
    ]
    message = corvane.open(corvane.encode(descriptors, subsets, compressed=True))[0]
    assert message.compressed
    assert [[v.value for v in message.values() if v.subset == s] for s in (1, 2, 3)] == subsets
    # Two values that differ by one must not take the one-bit increment that is all ones.
    two = corvane.open(corvane.encode([2001], [[1], [2]], compressed=True))[0]
    assert [v.value for v in two.values()] == [1.0, 2.0]
    with pytest.raises(corvane.BufrError, match=r"031001\) is 1 in subset 1 but 2 in subset 2: a compressed message"):
        corvane.encode([101000, 31001, 12101], [[1, 280.0], [2, 280.0, 281.0]], compressed=True)
    # One new reference value stands for every subset: the reader would give all the first's.
    with pytest.raises(corvane.BufrError, match=r"001001\) is 5 in subset 1 but -6 in subset 2: .* encode uncomp"):
        corvane.encode([203004, 1001, 203255, 1001], [[5, 1], [-6, 1]], compressed=True)


@pytest.mark.parametrize("compressed", [False, True], ids=["uncompressed", "compressed"])
def test_encode_from_a_2d_array_writes_what_lists_write(compressed):
    descriptors = [12101, 1001, 101000, 31001, 2001]
    rows = [[287.15, 10, 2, 1, 0], [None, 11, 2, 1, None], [250.0, 10, 2, None, 2]]
    when = datetime.datetime(2024, 1, 1)
    expected = corvane.encode(descriptors, rows, compressed=compressed, time=when)
    # One row per value, as columns come: its transpose is read in place, strides and all.
    by_value = numpy.array([[numpy.nan if v is None else v for v in row] for row in rows]).T.copy()
    assert not by_value.T.flags.c_contiguous
    # A row per subset, and values a row holds apart, take other ways through.
    spaced = numpy.zeros((len(rows), 2 * len(descriptors)))
    spaced[:, ::2] = by_value.T
    for grid in (by_value.T, numpy.ascontiguousarray(by_value.T), spaced[:, ::2]):
        assert corvane.encode(descriptors, grid, compressed=compressed, time=when) == expected
    whole = numpy.array([[1, 2], [3, 4]], dtype=numpy.int16)
    assert corvane.open(corvane.encode([1001, 1002], whole, compressed=compressed))[0].values()[3].value == 4.0
    with pytest.raises(corvane.BufrError, match="the value 700.0 of airTemperature .* of subset 2"):
        corvane.encode([12101], numpy.array([[280.0], [700.0]]), compressed=compressed)
    with pytest.raises(TypeError, match="2-D"):
        corvane.encode([12101], numpy.array([280.0]), compressed=compressed)


def section_4(data):
    """The data of section 4, after its four header octets."""
    at = 8 + int.from_bytes(data[8:11], "big")
    if data[8 + (9 if data[7] == 4 else 7)] & 0x80:
        at += int.from_bytes(data[at : at + 3], "big")
    at += int.from_bytes(data[at : at + 3], "big")
    return data[at + 4 : at + int.from_bytes(data[at : at + 3], "big")]


# Messages whose values alone cannot rebuild them: values() leaves out the new reference values
# of a 203YYY definition, which encode needs; MODE_12 is compressed and has values whose raw bits
# are all ones (a compressed column tells missing by its increments), which an uncompressed
# message cannot hold but as missing.
NOT_FROM_VALUES = {"ISND02_LLBD.bufr", "MODE_12.bufr", "v46-MODE_12.bufr", "v50-MODE_12.bufr"}


def test_every_corpus_message_encodes_from_its_values_and_decodes_back_to_them():
    unwritable = set()
    written = 0
    compressed = alike = arrays = 0
    for path in sorted((DATA / "bufr").glob("*.bufr")):
        for position, message in enumerate(corvane.open(path, errors="skip")):
            try:
                values = message.values()
            except corvane.BufrError:
                continue
            # The large messages of a file are alike: the first one stands for the others.
            if len(values) > 50_000 and position > 0:
                continue
            subsets = [[] for _ in range(message.subsets)]
            for value in values:
                subsets[value.subset - 1].append(value.value)
            # Section 1 as the message has it, which chooses the same tables.
            header = dict(
                centre=message.centre,
                subcentre=message.subcentre,
                master_version=message.master_version,
                local_version=message.local_version,
            )
            expected = [(v.subset, v.key, v.value) for v in values]
            if message.compressed:
                data = corvane.encode(message.descriptors, subsets, compressed=True, **header)
                again = corvane.open(data)[0].values()
                assert [(v.subset, v.key, v.value) for v in again] == expected, (path.name, message.index)
                compressed += 1
                mine, theirs = section_4(data), section_4(message.to_bytes())
                alike += mine == theirs[: len(mine)] and not any(theirs[len(mine) :])
                # Numbers alike in every subset also go as an array, which takes its own way through.
                if len({len(s) for s in subsets}) == 1 and not any(isinstance(v, str) for s in subsets for v in s):
                    grid = numpy.array([[numpy.nan if v is None else v for v in s] for s in subsets])
                    rebuilt = corvane.encode(message.descriptors, grid, compressed=True, **header)
                    assert section_4(rebuilt) == mine, (path.name, message.index)
                    arrays += 1
            try:
                data = corvane.encode(message.descriptors, subsets, **header)
            except corvane.BufrError:
                unwritable.add(path.name)
                continue
            again = corvane.open(data)[0].values()
            assert [(v.subset, v.key, v.value) for v in again] == expected, (path.name, message.index)
            written += 1
    assert unwritable == NOT_FROM_VALUES
    assert written > 100
    # Every compressed message is rebuilt in its own layout, and most with the very bits their
    # writers chose for R0, NBINC and the increments.
    assert compressed > 20 and alike > compressed // 2 and arrays > 10
