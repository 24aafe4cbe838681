#!/usr/bin/env python3
"""Compares the corvane package with reference dumps of whole folders of BUFR files.

    python tools/crosscheck.py BUFR_DIR REFERENCE_DIR [--tables PATH] [--twins OLD NEW]

For every REFERENCE_DIR/<file>.json (the form of tests/data/reference: another decoder's dump of
the items with a descriptor code) decodes BUFR_DIR/<file> with corvane.open and compares by the
rules of tests/python/crosscheck.py. With --twins v46- v50-, each file named v50-<name> must also
decode to the values of v46-<name> (or fail as it fails) and say tables_fallback. Prints the counts and each
difference; exits 1 when any. For example, on tests/data:

    python tools/crosscheck.py tests/data/bufr tests/data/reference-current --twins v46- v50-
"""

import argparse
import json
import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent.parent / "tests" / "python"))

from crosscheck import compare_package_file  # noqa: E402

import corvane  # noqa: E402


def check_references(bufr_dir, reference_dir, tables):
    """(messages compared, [(file, index, problems)]) over every reference of the folder."""
    compared, differences = 0, []
    for reference_path in sorted(reference_dir.glob("*.json")):
        reference = json.loads(reference_path.read_text())
        compared += sum(entry["ok"] for entry in reference["messages"])
        name = reference_path.name[: -len(".json")]
        bufr = corvane.open(bufr_dir / name, tables=tables, errors="keep")
        differences += [(name, index, problems) for index, problems in compare_package_file(bufr, reference)]
    return compared, differences


def outcome(message):
    """The values of a message, or its error: a twin that fails must fail alike."""
    return message.error if message.error else [(value.code, value.value) for value in message.values()]


def check_twins(bufr_dir, tables, old, new):
    """(copies compared, [(file, problem)]): each `new` copy against its `old` twin."""
    copies, differences = 0, []
    for path in sorted(bufr_dir.glob(f"{new}*")):
        twin = bufr_dir / (old + path.name[len(new) :])
        copies += 1
        mine = list(corvane.open(path, tables=tables, errors="keep"))
        theirs = list(corvane.open(twin, tables=tables, errors="keep"))
        if not all(message.tables_fallback for message in mine):
            differences.append((path.name, f"tables_fallback is not True: {[m.tables for m in mine]}"))
        elif [outcome(m) for m in mine] != [outcome(m) for m in theirs]:
            differences.append((path.name, f"decodes otherwise than {twin.name}"))
    return copies, differences


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("bufr_dir", type=pathlib.Path)
    parser.add_argument("reference_dir", type=pathlib.Path)
    parser.add_argument("--tables", help="tables= for corvane.open (default: the packed tables)")
    parser.add_argument("--twins", nargs=2, metavar=("OLD", "NEW"), help="file name prefixes of twin copies")
    args = parser.parse_args()
    tables = corvane.Tables(args.tables)
    print(tables.describe())
    compared, differences = check_references(args.bufr_dir, args.reference_dir, tables)
    for name, index, problems in differences:
        print(f"{name} message {index}: {'; '.join(problems)}")
    print(f"{compared - len(differences)} of {compared} reference messages agree")
    if args.twins:
        copies, twin_differences = check_twins(args.bufr_dir, tables, *args.twins)
        for name, problem in twin_differences:
            print(f"{name}: {problem}")
        print(
            f"{copies - len(twin_differences)} of {copies} {args.twins[1]} copies decode as their "
            f"{args.twins[0]} twins, with tables_fallback True"
        )
        differences += twin_differences
    return 1 if differences else 0


if __name__ == "__main__":
    sys.exit(main())
