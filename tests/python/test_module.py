import pathlib
import subprocess
import sys

import pytest

import _corvane

CLASSES = ["BufrMessage", "DecodedValue", "Descriptor", "ElementDefinition", "SequenceDefinition", "TableSet"]
FUNCTIONS = [
    "parse_bytes", "parse_file", "parse_all_bytes", "parse_all_file", "expand_descriptors",
    "decode_values", "decode_values_with_tables", "decode_values_with_definitions",
]


def public_names():
    return [name for name in vars(_corvane) if not name.startswith("__")]


def test_registration_order_is_fixed():
    names = public_names()
    classes = [name for name in names if isinstance(getattr(_corvane, name), type)]
    functions = [name for name in names if name not in classes]
    assert classes == [name for name in CLASSES if name in classes]
    assert functions == [name for name in FUNCTIONS if name in functions]
    assert _corvane.__doc__ == ""


def test_functions_document_their_signatures():
    for name in public_names():
        obj = getattr(_corvane, name)
        if not isinstance(obj, type):
            assert obj.__text_signature__ is not None
            assert obj.__doc__ is None  # the docstring is the signature alone


@pytest.mark.parametrize("name", ["BufrMessage", "Descriptor"])
def test_classes_are_closed_builtins(name):
    cls = getattr(_corvane, name)
    assert cls.__module__ == "builtins"
    assert cls.__name__ == name
    with pytest.raises(TypeError):
        type("Sub", (cls,), {})
    instance = _corvane.Descriptor(0, 1, 1) if name == "Descriptor" else _corvane.parse_bytes(
        pathlib.Path(__file__).parent.parent.joinpath("data", "bufr", "contrived.bufr").read_bytes())
    assert not hasattr(instance, "__dict__")
    with pytest.raises(TypeError):
        import weakref
        weakref.ref(instance)


def test_only_some_classes_can_be_constructed():
    with pytest.raises(TypeError):
        _corvane.BufrMessage()
    assert _corvane.Descriptor(0, 1, 1).fxy == 1001


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


def test_second_interpreter_is_refused():
    code = (
        "import _corvane, _xxsubinterpreters as s\n"
        "i = s.create()\n"
        "try:\n"
        "    s.run_string(i, 'import _corvane')\n"
        "except Exception as e:\n"
        "    print(type(e).__name__, e)\n"
    )
    result = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True)
    if "No module named '_xxsubinterpreters'" in result.stderr:
        pytest.skip("this interpreter has no sub-interpreter module")
    assert "ImportError" in result.stdout or "one interpreter" in result.stdout, result.stdout + result.stderr
