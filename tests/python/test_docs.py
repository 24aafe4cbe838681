"""The examples of the public docstrings run as they read, on the sample that ships in the wheel."""

import doctest
import importlib.util
import inspect

import pytest

import corvane
import corvane.dask


def public_objects():
    """The package, its dask module, and every public name with its public members."""
    yield "corvane", corvane
    yield "corvane.dask", corvane.dask
    yield "corvane.dask.read", corvane.dask.read
    for name in corvane.__all__:
        found = getattr(corvane, name)
        yield f"corvane.{name}", found
        if inspect.isclass(found):
            # BufrFile takes some of its methods from a base class of the package.
            for klass in reversed(found.__mro__):
                if klass.__module__.startswith("corvane"):
                    for member, value in vars(klass).items():
                        if not member.startswith("_"):
                            yield f"corvane.{name}.{member}", value


def examples():
    finder = doctest.DocTestFinder(recurse=False)
    for name, found in public_objects():
        for test in finder.find(found, name, globs={"corvane": corvane}):
            if test.examples:
                yield pytest.param(test, id=name)


# An example that needs an optional library runs where it is installed.
NEEDS = {"corvane.read(": "pandas", "pyarrow": "pyarrow", "corvane.dask.": "dask"}


@pytest.mark.parametrize("test", list(examples()))
def test_docstring_examples_run(test):
    source = "".join(example.source for example in test.examples)
    for mark, module in NEEDS.items():
        if mark in source and importlib.util.find_spec(module) is None:
            pytest.skip(f"needs {module}")
    runner = doctest.DocTestRunner(optionflags=doctest.ELLIPSIS | doctest.NORMALIZE_WHITESPACE)
    report = []
    runner.run(test, out=report.append)
    assert runner.failures == 0, "".join(report)
