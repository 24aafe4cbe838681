import _corvane
import pytest
from _corvane import TableSet
from conftest import MASTER_39, WMO_BUFR4, write_table_dir


def test_empty_table_set():
    tables = TableSet()
    assert (tables.element_count, tables.sequence_count) == (0, 0)
    assert repr(tables) == "TableSet(elements=0, sequences=0)"
    assert tables.get_element(1001) is None
    assert tables.get_sequence(301001) is None
    assert tables.get_meaning(1001, 0) is None
    assert TableSet.__text_signature__ == "()"
    with pytest.raises(TypeError, match=r"takes 0 positional arguments but 1 was given"):
        TableSet("x")


def test_query_argument_errors():
    tables = TableSet()
    with pytest.raises(TypeError, match=r"^argument 'code': "):
        tables.get_element("001001")
    with pytest.raises(TypeError, match=r"^argument 'code': "):
        tables.get_sequence(_corvane.Descriptor(0, 1, 1))
    for bad in (-1, 4294967296):
        with pytest.raises(OverflowError, match=r"^argument 'code': "):
            tables.get_element(bad)
    with pytest.raises(OverflowError, match=r"^argument 'raw': "):
        tables.get_meaning(1001, -1)
    assert tables.get_meaning(1001, 2**64 - 1) is None
    with pytest.raises(TypeError, match=r"^argument 'path': 'int' object cannot be cast as 'str'$"):
        TableSet.from_eccodes(3)


def test_loaded_directory_answers_queries(tmp_path):
    directory = write_table_dir(
        tmp_path / "t",
        [(1001, 'WMO "BLOCK" NUMBER', "Numeric", 0, 0, 7), (20003, "PRESENT WEATHER", "CODE TABLE", 0, 0, 9)],
        '"301001" = [ 001001,\n 001002 ]\n"301002" = [ ]\n',
        {"020003": {0: "clear", 7: "dust   or  sand"}},
    )
    tables = TableSet.from_eccodes(path=directory)
    assert repr(tables) == "TableSet(elements=2, sequences=2)"
    element = tables.get_element(1001)
    assert (element.code, element.name, element.unit, element.scale, element.reference, element.width) == (
        1001,
        'WMO "BLOCK" NUMBER',
        "Numeric",
        0,
        0,
        7,
    )
    assert element.abbreviation == "abbr1001" and element.element_type == "long"
    assert repr(element) == 'ElementDefinition(001001, name="WMO \\"BLOCK\\" NUMBER")'
    assert tables.get_element(1001) is not tables.get_element(1001)
    sequence = tables.get_sequence(301001)
    assert repr(sequence) == "SequenceDefinition(301001, members=[1001, 1002])"
    sequence.members.append(5)
    assert sequence.members == [1001, 1002]
    assert repr(tables.get_sequence(301002)) == "SequenceDefinition(301002, members=[])"
    assert tables.get_meaning(20003, 7) == "dust or sand"
    assert tables.get_meaning(20003, 3) is None
    with pytest.raises(TypeError):
        _corvane.ElementDefinition()
    with pytest.raises(AttributeError):
        element.width = 3


def test_loader_errors_are_value_errors(tmp_path):
    with pytest.raises(ValueError, match=r"^csv/table parse error: No such file or directory \(os error 2\)$"):
        TableSet.from_eccodes(str(tmp_path / "missing"))
    (tmp_path / "only_elements").mkdir()
    (tmp_path / "only_elements" / "element.table").write_text("")
    with pytest.raises(ValueError, match=r"^io error: No such file or directory \(os error 2\)$"):
        TableSet.from_eccodes(str(tmp_path / "only_elements"))
    bad = write_table_dir(tmp_path / "bad", [(1001, "X", "m", 0, 0, 7)], '"30100x" = [001001]\n')
    with pytest.raises(ValueError, match=r'^csv/table parse error: bad descriptor code "30100x": invalid digit'):
        TableSet.from_eccodes(bad)


def test_real_master_table():
    tables = TableSet.from_eccodes(str(MASTER_39))
    assert tables.element_count > 1000 and tables.sequence_count > 500
    temperature = tables.get_element(12101)
    assert (temperature.unit, temperature.scale, temperature.reference, temperature.width) == ("K", 2, 0, 16)
    assert tables.get_sequence(301011).members == [4001, 4002, 4003]
    assert tables.get_meaning(20003, 1) == "CLOUDS GENERALLY DISSOLVING OR BECOMING LESS DEVELOPED"


def test_wmo_csv_tables_load():
    tables = TableSet.from_bufr4_45(str(WMO_BUFR4))
    assert tables.element_count > 1000 and tables.sequence_count > 500
    element = tables.get_element(12101)
    assert (element.unit, element.scale, element.width, element.abbreviation) == ("K", 2, 16, "")
    assert element.element_type == "long"
    assert tables.get_element(20003).element_type == "code"
    assert tables.get_element(1015).element_type == "string"
    assert tables.get_sequence(301011).members == [4001, 4002, 4003]
    assert tables.get_meaning(20003, 1) is None


class TestExpand:
    @pytest.fixture
    def tables(self, tmp_path):
        directory = write_table_dir(
            tmp_path / "t", [(1001, "A", "m", 0, 0, 7)], "301001 = [001001, 001002]\n301900 = [301900]\n"
        )
        return TableSet.from_eccodes(directory), directory

    @pytest.mark.parametrize(
        "codes, expected",
        [
            ([], []),
            ([301001], [1001, 1002]),
            ([102002, 1001, 1002], [1001, 1002, 1001, 1002]),
            ([101000, 31001, 1001], [31001, 1001]),
            ([204008, 1001, 31021, 204000, 1002], [999999, 1001, 31021, 1002]),
            ([201130, 202129, 206016, 207001, 208010, 1001], [1001]),
            ([203014, 222000], [203014, 222000]),
            ([25600000], [25600000]),
            ((1001, 1002), [1001, 1002]),
        ],
    )
    def test_expansions(self, tables, codes, expected):
        table_set, directory = tables
        assert table_set.expand(codes) == expected
        assert _corvane.expand_descriptors(directory, codes) == expected

    @pytest.mark.parametrize(
        "codes, text",
        [
            ([102002, 1001], "unsupported replication descriptor 102002"),
            ([100001, 1001], "unsupported replication descriptor 100001"),
            ([101000], "unsupported replication descriptor 101000"),
            (
                [101000, 1001],
                "delayed replication descriptor 101000 is missing its replication factor or replicated descriptors",
            ),
            ([301999], "descriptor 301999 was not found in Table D"),
            ([301900], "csv/table parse error: sequence expansion exceeded recursion depth"),
            ([400000], "csv/table parse error: invalid descriptor 400000"),
            ([1000000], "csv/table parse error: invalid descriptor 1000000"),
        ],
    )
    def test_expansion_errors(self, tables, codes, text):
        with pytest.raises(ValueError) as caught:
            tables[0].expand(codes)
        assert str(caught.value) == text

    def test_nested_replications_are_bounded(self, tables):
        with pytest.raises(
            ValueError, match="^csv/table parse error: descriptor expansion exceeds 16777216 descriptors$"
        ):
            tables[0].expand([104255, 103255, 102255, 101255, 1001])

    def test_descriptor_list_conversion(self, tables):
        table_set, directory = tables
        with pytest.raises(TypeError, match=r"^argument 'descriptors': a str is not a list of descriptor codes"):
            table_set.expand("001001")
        with pytest.raises(TypeError, match=r"^argument 'descriptors': "):
            table_set.expand(1001)
        with pytest.raises(TypeError, match=r"^argument 'descriptors': "):
            table_set.expand([1001, "x"])
        with pytest.raises(OverflowError, match=r"^argument 'descriptors': "):
            table_set.expand([-1])

        class Boastful:  # its length is only a claim; the items decide
            def __len__(self):
                return 2**62

            def __getitem__(self, index):
                if index < 2:
                    return 1001
                raise IndexError

        assert table_set.expand(Boastful()) == [1001, 1001]
        with pytest.raises(TypeError, match=r"^argument 'table_dir': "):
            _corvane.expand_descriptors(b"dir", [])
        with pytest.raises(ValueError, match="No such file"):
            _corvane.expand_descriptors(directory + "/nope", [])


def test_from_definitions_chooses_master_and_local_tables():
    from builders import make_message
    from conftest import DEFINITIONS

    root = str(DEFINITIONS)
    master_only = _corvane.parse_bytes(make_message(master_version=13, centre=98, local_version=0))
    with_local = _corvane.parse_bytes(make_message(master_version=13, centre=98, local_version=101))
    plain = TableSet.from_definitions(root, master_only)
    local = TableSet.from_definitions(path=root, message=with_local)
    assert local.element_count > plain.element_count  # centre 98 adds local elements
    assert repr(plain) == repr(TableSet.from_eccodes(str(DEFINITIONS / "bufr" / "tables" / "0" / "wmo" / "13")))
    # Version 12 is an alias file naming 13.
    alias = _corvane.parse_bytes(make_message(master_version=12))
    assert repr(TableSet.from_definitions(root, alias)) == repr(plain)
    missing = _corvane.parse_bytes(make_message(master_version=77))
    with pytest.raises(ValueError, match=r"^csv/table parse error: ecCodes table directory does not exist: "):
        TableSet.from_definitions(root, missing)
    with pytest.raises(TypeError, match=r"^argument 'message': 'bytes' object cannot be cast as 'BufrMessage'$"):
        TableSet.from_definitions(root, b"BUFR")
    with pytest.raises(TypeError, match=r"^argument 'path': "):
        TableSet.from_definitions(None, master_only)
