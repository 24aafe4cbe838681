"""Writing BUFR: messages byte for byte, chosen messages, section 1 rewritten."""

import datetime
import io

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
