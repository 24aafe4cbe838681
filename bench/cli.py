"""The corvane command line beside ecCodes' tools, in the same run.

    python bench/cli.py [FILE...]

FILE defaults to tests/data/bufr/dwd-synop-44msgs.bufr (pdbufr-perf_synop.bufr, 15,824 messages,
is the file the figures in the README come from). Four figures per file, each one run of a fresh
process on each side, wall time including start-up:
- `corvane ls -p KEYS` against `bufr_ls -p KEYS`, with the same header keys;
- `corvane copy -w dataCategory=0` against `bufr_copy -w dataCategory=0`;
- `corvane compare FILE FILE` against `bufr_compare FILE FILE`: equal bytes, no decoding;
- the same against a copy whose messages all have another update sequence number, with
  `-b updateSequenceNumber`: bytes that differ, values that do not, so every message is decoded;
- `corvane dump --json` against `bufr_dump -jf`, and `corvane dump --flat` against `bufr_dump -p`
  (tests/data/bufr/hirs-metop-compressed.bufr: big compressed messages).
Runs only where bufr_ls, bufr_copy, bufr_compare and bufr_dump are on the PATH (Debian: apt-get install
libeccodes-tools); ecCodes is never a dependency of the project.
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
TOOLS = ("bufr_ls", "bufr_copy", "bufr_compare", "bufr_dump")
# Where section 1 holds the update sequence number, by edition.
UPDATE_SEQUENCE_OCTET = {2: 7, 3: 7, 4: 9}


def timed(command: list) -> float:
    start = time.perf_counter()
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - start


def corrected(path: str, out: pathlib.Path) -> str:
    """A copy of the file whose every message has the next update sequence number."""
    import corvane

    data = bytearray(pathlib.Path(path).read_bytes())
    for message in corvane.open(path, errors="keep").headers():
        octet = UPDATE_SEQUENCE_OCTET.get(message.edition or 0)
        if octet is not None:
            # Section 0 is 8 octets long from edition 2 on.
            where = message.offset + 8 + octet - 1
            data[where] = (data[where] + 1) % 256
    out.write_bytes(bytes(data))
    return str(out)


def main() -> int:
    paths = sys.argv[1:] or [str(ROOT / "tests" / "data" / "bufr" / "dwd-synop-44msgs.bufr")]
    if not all(map(shutil.which, TOOLS)):
        print(f"{', '.join(TOOLS)} are not all on the PATH: nothing to compare with")
        return 0
    for path in paths:
        bench(path)
    return 0


def bench(path: str) -> None:
    with tempfile.TemporaryDirectory() as scratch:
        out = pathlib.Path(scratch)
        other = corrected(path, out / "corrected.bufr")
        skip = ["-b", "updateSequenceNumber"]
        pairs = [
            ("ls -p " + KEYS, CORVANE + ["ls", "-p", KEYS, path], ["bufr_ls", "-p", KEYS, path]),
            (
                "copy -w dataCategory=0",
                CORVANE + ["copy", "-w", "dataCategory=0", path, "-o", str(out / "corvane.bufr")],
                ["bufr_copy", "-w", "dataCategory=0", path, str(out / "eccodes.bufr")],
            ),
            ("compare FILE FILE", CORVANE + ["compare", path, path], ["bufr_compare", path, path]),
            (
                "compare -b updateSequenceNumber FILE CORRECTED",
                CORVANE + ["compare", *skip, path, other],
                ["bufr_compare", *skip, path, other],
            ),
            ("dump --json", CORVANE + ["dump", "--json", path], ["bufr_dump", "-jf", path]),
            ("dump --flat", CORVANE + ["dump", "--flat", path], ["bufr_dump", "-p", path]),
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


if __name__ == "__main__":
    sys.exit(main())
