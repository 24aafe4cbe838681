import _corvane
import pytest
from _corvane import Descriptor


def test_construction_and_code():
    d = Descriptor(0, 1, 1)
    assert (d.f, d.x, d.y, d.fxy) == (0, 1, 1, 1001)
    assert repr(d) == "Descriptor(001001)"
    assert repr(Descriptor(3, 1, 11)) == "Descriptor(301011)"
    assert Descriptor(f=3, x=1, y=11).fxy == 301011
    big = Descriptor(255, 255, 255)
    assert big.fxy == 25755255 and repr(big) == "Descriptor(25755255)"


def test_from_fxy_wraps_without_validation():
    d = Descriptor.from_fxy(1001)
    assert (d.f, d.x, d.y) == (0, 1, 1)
    wrapped = Descriptor.from_fxy(1300)
    assert (wrapped.f, wrapped.x, wrapped.y) == (0, 1, 44)
    assert repr(wrapped) == "Descriptor(001044)"
    assert Descriptor.from_fxy(code=4294967295).f == 42949 % 256
    assert Descriptor.from_fxy.__text_signature__ == "(code)"
    assert Descriptor.__text_signature__ == "(f, x, y)"


@pytest.mark.parametrize(
    "args, error",
    [((0, 1, 256), OverflowError), ((0, -1, 1), OverflowError), ((0, "1", 1), TypeError), ((0, 1.0, 1), TypeError)],
)
def test_part_conversion_errors(args, error):
    with pytest.raises(error, match=r"^argument '[fxy]': "):
        Descriptor(*args)


def test_code_conversion_errors():
    with pytest.raises(OverflowError, match=r"^argument 'code': "):
        Descriptor.from_fxy(-1)
    with pytest.raises(OverflowError, match=r"^argument 'code': "):
        Descriptor.from_fxy(4294967296)
    with pytest.raises(TypeError, match=r"^argument 'code': "):
        Descriptor.from_fxy("1001")


def test_identity_semantics_and_read_only():
    a, b = Descriptor(0, 1, 1), Descriptor(0, 1, 1)
    assert a != b and a == a
    assert len({a, b}) == 2 and hash(a) == object.__hash__(a)
    with pytest.raises(AttributeError):
        a.f = 1
    assert isinstance(_corvane.Descriptor.from_fxy(1), Descriptor)
