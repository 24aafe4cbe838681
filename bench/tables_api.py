"""Table loading speed through the Python API, best of 5.

    python bench/tables_api.py
"""
import pathlib
import time

import _corvane

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
DEFINITIONS = DATA / "tables" / "definitions"
REPEAT = 5


def best_ms(run):
    best = float("inf")
    for _ in range(REPEAT):
        started = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - started)
    return best * 1e3


def main():
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


if __name__ == "__main__":
    main()
