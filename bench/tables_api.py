"""Table loading speed through the Python API, best of 20.

    python bench/tables_api.py [--archive PATH ...]

The packed archives (by default the one the package ships; name several to compare them in one
run) are timed opening, and opening then loading one table choice, through corvane._core.
"""

import argparse
import pathlib
import time

import _corvane

from corvane import _core, _tables

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
DEFINITIONS = DATA / "tables" / "definitions"
REPEAT = 20


def best_ms(run):
    best = float("inf")
    for _ in range(REPEAT):
        started = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - started)
    return best * 1e3


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--archive", action="append", help="a packed table archive (repeatable)")
    archives = parser.parse_args().archive or [str(_tables._ARCHIVE)]
    master = DEFINITIONS / "bufr" / "tables" / "0" / "wmo" / "39"
    # Master 13 with the local tables of centre 98 (local version 101).
    sample = DATA / "bufr" / "gsd3_208.bufr"
    # Parsed outside the timing so that only the table choice and load are measured.
    message = _corvane.parse_all_bytes(sample.read_bytes())[0]
    wmo = DATA / "tables" / "wmo-bufr4"
    cases = [
        ("from_eccodes (master 39)", lambda: _corvane.TableSet.from_eccodes(str(master))),
        (f"from_definitions ({sample.name})", lambda: _corvane.TableSet.from_definitions(str(DEFINITIONS), message)),
        ("from_bufr4_45 (wmo-bufr4)", lambda: _corvane.TableSet.from_bufr4_45(str(wmo))),
    ]
    for label, run in cases:
        print(f"{label:34} {best_ms(run):8.2f} ms")

    # (label, master version, centre, local version): a master set alone, one with local tables.
    choices = [("choice 39", 39, 98, 0), ("choice 13, centre 98 local 101", 13, 98, 101), ("choice 46", 46, 98, 0)]
    for path in archives:
        opened = best_ms(lambda: _core.Tables.from_archive(path))
        print(f"{path}: open {opened:.2f} ms")
        for label, version, centre, local in choices:

            def run():
                _core.Tables.from_archive(path).load(0, version, centre, 0, local)

            try:
                run()
            except ValueError:
                print(f"  {label:32} not in this archive")
                continue
            used = _core.Tables.from_archive(path).chosen(0, version, centre, 0, local)[1]
            note = f" (version {used}: the newest in this archive)" if used != version else ""
            print(f"  {label:32} {best_ms(run) - opened:8.2f} ms{note}")


if __name__ == "__main__":
    main()
