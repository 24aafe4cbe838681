import os
import pathlib
import subprocess
import sys
import weakref

import _corvane
import pytest

CLASSES = ["BufrMessage", "DecodedValue", "Descriptor", "ElementDefinition", "SequenceDefinition", "TableSet"]
FUNCTIONS = [
    "parse_bytes",
    "parse_file",
    "parse_all_bytes",
    "parse_all_file",
    "expand_descriptors",
    "decode_values",
    "decode_values_with_tables",
    "decode_values_with_definitions",
]


def public_names():
    return [name for name in vars(_corvane) if not name.startswith("__")]


def test_exactly_six_classes_then_eight_functions():
    assert public_names() == CLASSES + FUNCTIONS
    assert _corvane.__doc__ == ""
    assert {name for name in vars(_corvane) if name.startswith("__")} <= {
        "__name__",
        "__doc__",
        "__package__",
        "__loader__",
        "__spec__",
        "__file__",
    }


def test_functions_document_their_signatures():
    for name in public_names():
        obj = getattr(_corvane, name)
        if not isinstance(obj, type):
            assert obj.__text_signature__ is not None
            assert obj.__doc__ is None  # the docstring is the signature alone


def instances():
    from conftest import MASTER_39, read_bufr

    data = read_bufr("contrived.bufr")
    tables = _corvane.TableSet.from_eccodes(str(MASTER_39))
    return {
        "BufrMessage": _corvane.parse_bytes(data),
        "DecodedValue": _corvane.decode_values_with_tables(data, tables)[0],
        "Descriptor": _corvane.Descriptor(0, 1, 1),
        "ElementDefinition": tables.get_element(1001),
        "SequenceDefinition": tables.get_sequence(301011),
        "TableSet": tables,
    }


def test_classes_are_closed_builtins():
    for name, instance in instances().items():
        cls = getattr(_corvane, name)
        assert type(instance) is cls
        assert cls.__module__ == "builtins" and cls.__name__ == name and cls.__qualname__ == name
        with pytest.raises(TypeError):
            type("Sub", (cls,), {})
        assert not hasattr(instance, "__dict__")
        with pytest.raises(TypeError):
            weakref.ref(instance)
        with pytest.raises(TypeError):
            cls.extra = 1
        assert instance != instances()[name]  # identity, no value equality


def test_only_descriptor_and_table_set_can_be_constructed():
    for name in ["BufrMessage", "DecodedValue", "ElementDefinition", "SequenceDefinition"]:
        with pytest.raises(TypeError):
            getattr(_corvane, name)()
    assert _corvane.Descriptor(0, 1, 1).fxy == 1001
    assert _corvane.TableSet().element_count == 0


def test_method_docstrings_are_signatures():
    assert _corvane.TableSet.get_element.__text_signature__ == "($self, code)"
    assert _corvane.TableSet.get_meaning.__text_signature__ == "($self, code, raw)"
    assert _corvane.TableSet.expand.__text_signature__ == "($self, descriptors)"
    assert _corvane.TableSet.from_definitions.__text_signature__ == "(path, message)"
    assert _corvane.TableSet.from_bufr4_45.__text_signature__ == "(path)"
    assert _corvane.decode_values_with_definitions.__text_signature__ == "(data, definitions_root)"


def test_keyword_and_positional_argument_errors():
    with pytest.raises(TypeError, match=r"^parse_bytes\(\) missing 1 required positional argument: 'data'$"):
        _corvane.parse_bytes()
    with pytest.raises(TypeError, match=r"^parse_bytes\(\) takes 1 positional arguments but 2 were given$"):
        _corvane.parse_bytes(b"", b"")
    with pytest.raises(TypeError, match=r"^parse_bytes\(\) got an unexpected keyword argument 'path'$"):
        _corvane.parse_bytes(path="x")
    with pytest.raises(TypeError, match=r"^parse_bytes\(\) got multiple values for argument 'data'$"):
        _corvane.parse_bytes(b"", data=b"")
    with pytest.raises(TypeError, match=r"missing 3 required positional arguments: 'f', 'x', and 'y'$"):
        _corvane.Descriptor()
    with pytest.raises(TypeError, match=r"missing 2 required positional arguments: 'x' and 'y'$"):
        _corvane.Descriptor(1)


def test_argument_type_errors_name_the_argument():
    with pytest.raises(TypeError, match=r"^argument 'data': 'bytearray' object cannot be cast as 'bytes'$"):
        _corvane.parse_bytes(bytearray(b"BUFR"))
    with pytest.raises(TypeError, match=r"^argument 'data': 'memoryview' object cannot be cast as 'bytes'$"):
        _corvane.parse_all_bytes(memoryview(b"BUFR"))
    with pytest.raises(TypeError, match=r"^argument 'path': 'PosixPath' object cannot be cast as 'str'$"):
        _corvane.parse_file(pathlib.Path("x.bufr"))
    with pytest.raises(TypeError, match=r"^argument 'path': 'bytes' object cannot be cast as 'str'$"):
        _corvane.parse_all_file(b"x.bufr")


def test_bytes_and_str_subclasses_are_accepted(tmp_path):
    class Raw(bytes):
        pass

    class Text(str):
        pass

    assert _corvane.parse_all_bytes(Raw(b"nothing here")) == []
    empty = tmp_path / "empty.bin"
    empty.write_bytes(b"")
    assert _corvane.parse_all_file(Text(str(empty))) == []


def run_isolated(code, *args):
    """Runs `code` in a fresh interpreter: a hang or a crash there fails the test, not the run."""
    result = subprocess.run([sys.executable, "-c", code, *map(str, args)], capture_output=True, text=True, timeout=60)
    assert result.returncode == 0, result.stderr
    return result.stdout.splitlines()


def test_only_regular_files_are_read(tmp_path):
    from conftest import write_table_dir

    fifo = tmp_path / "pipe"
    os.mkfifo(fifo)
    tables = {
        name: pathlib.Path(
            write_table_dir(tmp_path / name, [(1001, "A", "m", 0, 0, 7)], code_tables={"001001": {0: "x"}})
        )
        for name in ("element", "sequence", "code")
    }
    (tables["element"] / "element.table").unlink()
    os.mkfifo(tables["element"] / "element.table")
    (tables["sequence"] / "sequence.def").unlink()
    (tables["sequence"] / "sequence.def").symlink_to("/dev/zero")
    code_table = tables["code"] / "codetables" / "001001.table"
    code_table.unlink()
    code_table.symlink_to(fifo)
    (tmp_path / "wmo").mkdir()
    os.mkfifo(tmp_path / "wmo" / "BUFRCREX_TableB_en_00.csv")
    # Nothing writes to the FIFOs: an open() that waited for a writer would never return.
    refused = {
        f"_corvane.parse_file({str(fifo)!r})": fifo,
        "_corvane.parse_all_file('/dev/zero')": "/dev/zero",
        f"_corvane.TableSet.from_eccodes({str(tables['element'])!r})": tables["element"] / "element.table",
        f"_corvane.expand_descriptors({str(tables['sequence'])!r}, [])": tables["sequence"] / "sequence.def",
        f"_corvane.TableSet.from_eccodes({str(tables['code'])!r})": code_table,
        f"_corvane.TableSet.from_bufr4_45({str(tmp_path / 'wmo')!r})": tmp_path / "wmo" / "BUFRCREX_TableB_en_00.csv",
    }
    code = (
        "import sys, _corvane\n"
        "for call in sys.argv[1:]:\n"
        "    try:\n"
        "        eval(call)\n"
        "    except OSError as error:\n"
        "        print(error.args)\n"
    )
    assert run_isolated(code, *refused) == [repr((f"not a regular file: {path}",)) for path in refused.values()]


@pytest.mark.skipif(
    "asan" in os.environ.get("LD_PRELOAD", ""),
    reason="AddressSanitizer maps terabytes of shadow memory, so no address-space limit fits",
)
def test_allocation_failure_is_memory_error(tmp_path):
    from conftest import write_table_dir

    huge = tmp_path / "huge.bufr"
    tables = pathlib.Path(write_table_dir(tmp_path / "tables", [(1001, "A", "m", 0, 0, 7)]))
    for path in (huge, tables / "sequence.def"):
        with open(path, "wb") as file:
            file.truncate(1 << 34)  # sparse: costs no disk
    code = (
        "import resource, sys, _corvane\n"
        "with open('/proc/self/status') as status:\n"
        "    size = next(int(line.split()[1]) for line in status if line.startswith('VmSize:')) * 1024\n"
        "resource.setrlimit(resource.RLIMIT_AS, (size + (256 << 20),) * 2)\n"
        "for call in (lambda: _corvane.parse_file(sys.argv[1]), lambda: _corvane.TableSet.from_eccodes(sys.argv[2])):\n"
        "    try:\n"
        "        call()\n"
        "    except MemoryError as error:\n"
        "        print(repr(error))\n"
        "print(_corvane.TableSet())\n"
    )
    assert run_isolated(code, huge, tables) == ["MemoryError()", "MemoryError()", "TableSet(elements=0, sequences=0)"]


def test_second_interpreter_is_refused():
    # The sub-interpreter module is private and changed name in 3.13.
    code = (
        "import _corvane\n"
        "try:\n"
        "    import _xxsubinterpreters as s\n"
        "    i = s.create()\n"
        "    try:\n"
        "        s.run_string(i, 'import _corvane')\n"
        "    except Exception as e:\n"
        "        print(e)\n"
        "except ImportError:\n"
        "    import _interpreters as s\n"
        "    failure = s.exec(s.create(), 'import _corvane')\n"
        "    print(failure.formatted if failure else 'imported')\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    assert result.returncode == 0, result.stderr
    assert "ImportError" in result.stdout or "one interpreter" in result.stdout, result.stdout
