import pathlib

import pytest

DATA = pathlib.Path(__file__).resolve().parent.parent / "data"


@pytest.fixture
def data_dir():
    return DATA


def read_bufr(name):
    return (DATA / "bufr" / name).read_bytes()
