import math
import sys

import _corvane
import pytest
from _corvane import TableSet
from builders import BitWriter, make_message
from conftest import DEFINITIONS, MASTER_39, read_bufr, write_table_dir

ELEMENTS = [
    (1001, "BLOCK NUMBER", "Numeric", 0, 0, 7),
    (1015, "STATION NAME", "CCITT IA5", 0, 0, 40),
    (12101, "TEMPERATURE", "K", 2, 0, 16),
    (20003, "PRESENT WEATHER", "CODE TABLE", 0, 0, 9),
    (31001, "DELAYED REPLICATION FACTOR", "Numeric", 0, 0, 8),
    (31031, "DATA PRESENT INDICATOR", "Numeric", 0, 0, 1),
    (33007, "PER CENT CONFIDENCE", "%", 0, 0, 7),
    (11001, "WIND DIRECTION", "deg", 0, -100, 12),
]


@pytest.fixture
def tables(tmp_path):
    directory = write_table_dir(
        tmp_path / "tables",
        ELEMENTS,
        "301001 = [001001, 012101]\n301002 = [400000]\n",
        {"020003": {0: "clear", 511: "missing value"}},
    )
    return TableSet.from_eccodes(directory), directory


def decode(tables, descriptors, bits, **message):
    return _corvane.decode_values_with_tables(make_message(descriptors, bits.bytes(), **message), tables[0])


def test_numbers_text_and_code_tables(tables):
    bits = BitWriter().put(10, 7).text("ABC", 40).put(27315, 16).put(0, 9)
    values = decode(tables, [1001, 1015, 12101, 20003], bits)
    assert [v.descriptor for v in values] == [1001, 1015, 12101, 20003]
    block, name, temperature, weather = values
    assert (block.raw_value, block.raw, block.data, block.name) == (10.0, 10, 10.0, "BLOCK NUMBER")
    assert (name.raw_text, name.raw, name.raw_value, name.data) == ("ABC", None, 1005.0, "ABC")
    assert temperature.raw_value == 273.15 and repr(temperature) == "DecodedValue(012101, Some(273.15))"
    assert (weather.raw_meaning, weather.data, weather.raw_text) == ("clear", "clear", None)
    assert name.raw_meaning is None
    assert repr(weather) == 'DecodedValue(020003, "clear")'
    assert repr(name) == 'DecodedValue(001015, "ABC")'
    with pytest.raises(TypeError):
        _corvane.DecodedValue()
    with pytest.raises(AttributeError):
        block.raw = 3


def test_missing_values(tables):
    bits = BitWriter().put(127, 7).put(255, 8).text("\xff" * 5, 40).put(511, 9)
    block, factor, name, weather = decode(tables, [1001, 31001, 1015, 20003], bits)
    assert (block.raw_value, block.raw, block.data) == (None, 127, None)
    assert repr(block) == "DecodedValue(001001, None)"
    assert (factor.raw_value, factor.raw) == (255.0, 255)  # class 31 is never missing
    assert name.raw_text is None and name.raw_value == 1005.0
    assert name.data is None and repr(name) == "DecodedValue(001015, None)"
    assert (weather.raw_value, weather.data) == (None, "missing value")


def test_none_results_are_new_references(tables):
    # Headers of CPython 3.12+ return None without a reference; a wheel built with them made each
    # such result free one of None's references under 3.10 and 3.11, until None itself was freed.
    block, name = decode(tables, [1001, 1015], BitWriter().put(127, 7).text("\xff" * 5, 40))
    table_set = tables[0]
    getters = [
        lambda: block.raw_value,
        lambda: block.data,
        lambda: block.raw_text,
        lambda: block.raw_meaning,
        lambda: name.raw,
        lambda: name.raw_text,
        lambda: name.data,
        lambda: table_set.get_element(2001),
        lambda: table_set.get_sequence(399999),
        lambda: table_set.get_meaning(1001, 0),
    ]
    before = sys.getrefcount(None)
    for _ in range(1000):
        for get in getters:
            assert get() is None
    assert abs(sys.getrefcount(None) - before) < 100


def test_blank_text_is_present_but_empty(tables):
    (name,) = decode(tables, [1015], BitWriter().text("     ", 40))
    assert name.raw_text == "" and name.data == ""
    (other,) = decode(tables, [1015], BitWriter().text("A\xe9\x00B", 40))
    assert other.raw_text == "A?\x00B" and repr(other) == 'DecodedValue(001015, "A?\\0B")'


def test_subsets_follow_each_other_and_text_numbering_carries_over(tables):
    bits = BitWriter().text("ONE", 40).put(1, 7).text("TWO", 40).put(2, 7)
    values = decode(tables, [1015, 1001], bits, subsets=2)
    assert [v.data for v in values] == ["ONE", 1.0, "TWO", 2.0]
    assert [values[0].raw_value, values[2].raw_value] == [1005.0, 2005.0]


def test_sequences_and_delayed_replication(tables):
    bits = BitWriter().put(2, 8).put(1, 7).put(100, 16).put(2, 7).put(200, 16)
    values = decode(tables, [101000, 31001, 301001], bits)
    assert [(v.descriptor, v.raw) for v in values] == [(31001, 2), (1001, 1), (12101, 100), (1001, 2), (12101, 200)]
    (factor,) = decode(tables, [101000, 31001, 1001], BitWriter().put(0, 8))
    assert factor.raw_value == 0.0


def test_operators_markers_and_associated_fields(tables):
    bits = BitWriter().put(5, 8).put(1, 7).put(3, 8).put(127, 7).put(65, 8)
    values = decode(tables, [204008, 1001, 31001, 204000, 1001, 222000, 205001], bits)
    shown = [repr(v) for v in values]
    assert shown == [
        "DecodedValue(999999, Some(5.0))",
        "DecodedValue(001001, Some(1.0))",
        "DecodedValue(031001, Some(3.0))",
        "DecodedValue(001001, None)",
        "DecodedValue(222000, Some(0.0))",
        'DecodedValue(205001, "A")',
    ]
    assert values[0].name == "associatedField" and values[4].name == "operator"
    assert values[5].name == "characterData" and values[5].raw is None and values[5].raw_value is None


def test_long_lists_keep_every_value_in_order(tables):
    # 12,750 markers then one element: the core hands its values over in several blocks.
    values = decode(tables, [102255, 101050, 222000, 1001], BitWriter().put(9, 7))
    assert len(values) == 12751
    assert all(v.descriptor == 222000 and v.raw == 0 for v in values[:-1])
    assert values[-1].raw == 9


def test_change_of_width_scale_and_reference(tables):
    # 207001: width 12 + 4, scale 0 + 1, reference -100 x 10; then 201130 widens 7 bits to 9.
    values = decode(tables, [207001, 11001, 207000, 201130, 1001], BitWriter().put(1234, 16).put(5, 9))
    assert values[0].raw == 1234 and values[0].raw_value == pytest.approx((1234 - 1000) / 10)
    assert values[1].raw == 5


def test_bitmap_driven_values(tables):
    bits = BitWriter().put(10, 7).put(20, 7).put(30, 7)
    for bit in (0, 1, 0):
        bits.put(bit, 1)
    bits.put(50, 7).put(60, 7)
    values = decode(tables, [1001, 1001, 1001, 222000, 236000, 101003, 31031, 223000, 223255, 223255, 223255], bits)
    substituted = [v for v in values[-2:]]
    assert [(v.descriptor, v.raw) for v in substituted] == [(1001, 50), (1001, 60)]
    assert [v.descriptor for v in values].count(31031) == 3


def test_attributes_in_declaration_order():
    declared = [name for name in vars(_corvane.DecodedValue) if not name.startswith("__")]
    assert declared == ["descriptor", "name", "raw_value", "raw", "raw_text", "raw_meaning", "data"]


def test_compressed_missing_text_and_all_missing_column(tables):
    # Text column: R0 all ones, NBINC 0 -> every subset missing. Numeric: R0 all ones -> missing.
    bits = BitWriter().text("\xff" * 5, 40).put(0, 6).put(0xFFFF, 16).put(2, 6).put(1, 2).put(0, 2)
    values = decode(tables, [1015, 12101], bits, subsets=2, compressed=True)
    name, temperature = values[0], values[1]
    assert (name.raw_text, name.data, name.raw_value) == (None, None, 1005.0)
    assert repr(name) == "DecodedValue(001015, None)"
    assert (temperature.raw, temperature.raw_value, temperature.data) == (0xFFFF, None, None)
    assert [v.raw_value for v in values[2:]] == [2005.0, None]


def test_compressed_message(tables):
    bits = BitWriter().put(200, 16).put(4, 6).put(5, 4).put(7, 4)
    bits.text("AB", 40).put(0, 6)
    values = decode(tables, [12101, 1015], bits, subsets=2, compressed=True)
    assert [v.data for v in values] == [2.05, "AB", 2.07, "AB"]
    assert [values[1].raw_value, values[3].raw_value] == [1005.0, 2005.0]


@pytest.mark.parametrize(
    "descriptors, bits, text",
    [
        ([1002], BitWriter(), "descriptor 001002 was not found in Table B"),
        ([301099], BitWriter(), "descriptor 301099 was not found in Table D"),
        (
            [101000, 31001],
            BitWriter(),
            "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors",
        ),
        ([102003, 1001], BitWriter(), "unsupported replication descriptor 102003"),
        ([301002], BitWriter(), "csv/table parse error: invalid descriptor 400000"),
        (
            [12101],
            BitWriter().put(1, 8),
            "csv/table parse error: not enough bits while reading section 4 at bit 0 for width 16 (8 bits available)",
        ),
    ],
)
def test_decode_errors(tables, descriptors, bits, text):
    with pytest.raises(ValueError) as caught:
        decode(tables, descriptors, bits)
    assert str(caught.value) == text


def test_hostile_replication_is_bounded(tables, tmp_path):
    zero_width = write_table_dir(tmp_path / "zero", [(1001, "NOTHING", "Numeric", 0, 0, 0)])
    data = make_message([104255, 103255, 102255, 101255, 1001])
    with pytest.raises(ValueError, match="^csv/table parse error: decoded value count exceeds 16777216$"):
        _corvane.decode_values(data, zero_width)


def test_argument_conversion(tables):
    with pytest.raises(TypeError, match=r"^argument 'data': 'str' object cannot be cast as 'bytes'$"):
        _corvane.decode_values("x", 3)
    with pytest.raises(TypeError, match=r"^argument 'table_dir': "):
        _corvane.decode_values(b"", 3)
    with pytest.raises(TypeError, match=r"^argument 'tables': 'str' object cannot be cast as 'TableSet'$"):
        _corvane.decode_values_with_tables(b"", "tables")
    with pytest.raises(TypeError, match=r"^argument 'definitions_root': "):
        _corvane.decode_values_with_definitions(b"", None)
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        _corvane.decode_values_with_tables(b"no message", tables[0])
    with pytest.raises(ValueError, match="^missing BUFR marker$"):
        _corvane.decode_values_with_definitions(b"no message", str(DEFINITIONS))


def test_only_the_first_message_is_decoded(tables):
    first = make_message([1001], BitWriter().put(1, 7).bytes())
    second = make_message([1001], BitWriter().put(2, 7).bytes())
    assert [v.raw for v in _corvane.decode_values(first + second, tables[1])] == [1]


def test_real_synop_decodes_with_every_table_source():
    data = read_bufr("dwd-synop-44msgs.bufr")
    by_dir = _corvane.decode_values(data, str(MASTER_39))
    by_definitions = _corvane.decode_values_with_definitions(data, str(DEFINITIONS))
    # The definitions root adds centre 78's local tables: same values, other code-table texts.
    assert [(v.descriptor, v.raw, v.raw_value, v.raw_text) for v in by_dir] == [
        (v.descriptor, v.raw, v.raw_value, v.raw_text) for v in by_definitions
    ]
    station = next(v for v in by_dir if v.descriptor == 1015)
    assert station.data == "GLUECKSBURG-MEIERWIK"
    assert all(math.isfinite(v.raw_value) for v in by_dir if v.raw_value is not None)
