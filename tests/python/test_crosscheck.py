"""Our element values against another decoder's dump of the same real messages."""
import pytest

from conftest import DATA, DEFINITIONS
from crosscheck import compare_file

REFERENCES = sorted((DATA / "reference").glob("*.bufr.json"))


@pytest.mark.parametrize("reference", REFERENCES, ids=[path.name[:-5] for path in REFERENCES])
def test_values_agree_with_the_reference_dump(reference):
    bufr = DATA / "bufr" / reference.name[:-len(".json")]
    assert compare_file(bufr, reference, str(DEFINITIONS)) == []


def test_the_reference_set_covers_both_layouts():
    import _corvane
    layouts = {_corvane.parse_all_file(str(DATA / "bufr" / path.name[:-5]))[0].compressed_data for path in REFERENCES}
    assert layouts == {False, True}
