"""The corvane command line beside ecCodes' tools, in the same run.

    python bench/cli.py [FILE]

FILE defaults to tests/data/bufr/dwd-synop-44msgs.bufr (pdbufr-perf_synop.bufr, 15,824 messages,
is the file the figures in the README come from). Two figures, each one run of a fresh process on
each side, wall time including start-up:
- `corvane ls -p KEYS` against `bufr_ls -p KEYS`, with the same header keys;
- `corvane copy -w dataCategory=0` against `bufr_copy -w dataCategory=0`.
Runs only where bufr_ls and bufr_copy are on the PATH (Debian: apt-get install libeccodes-tools);
ecCodes is never a dependency of the project.
"""

import pathlib
import shutil
import subprocess
import sys
import tempfile
import time

ROOT = pathlib.Path(__file__).resolve().parent.parent
KEYS = "bufrHeaderCentre,dataCategory,typicalDate"
CORVANE = [sys.executable, "-m", "corvane"]


def timed(command: list) -> float:
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def main() -> int:
    path = sys.argv[1] if len(sys.argv) > 1 else str(ROOT / "tests" / "data" / "bufr" / "dwd-synop-44msgs.bufr")
    if not (shutil.which("bufr_ls") and shutil.which("bufr_copy")):
        print("bufr_ls and bufr_copy are not on the PATH: nothing to compare with")
        return 0
    with tempfile.TemporaryDirectory() as scratch:
        out = pathlib.Path(scratch)
        pairs = [
            ("ls -p " + KEYS, CORVANE + ["ls", "-p", KEYS, path], ["bufr_ls", "-p", KEYS, path]),
            (
                "copy -w dataCategory=0",
                CORVANE + ["copy", "-w", "dataCategory=0", path, "-o", str(out / "corvane.bufr")],
                ["bufr_copy", "-w", "dataCategory=0", path, str(out / "eccodes.bufr")],
            ),
        ]
        print(f"{path}")
        for name, ours, theirs in pairs:
            corvane, eccodes = timed(ours), timed(theirs)
            print(f"{name:<50} corvane {corvane:7.3f} s  ecCodes {eccodes:7.3f} s  {eccodes / corvane:6.1f}x")
        # Neither tool writes a file when no message passes.
        copies = [out / name for name in ("corvane.bufr", "eccodes.bufr")]
        same = [path.read_bytes() if path.exists() else None for path in copies]
        same = same[0] == same[1]
        print(f"copies identical: {same}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
