"""A large file: time and memory of corvane.open(path) and len(), then of the command line's verbs
that pass over every message, each in a fresh process.

    python bench/open_large.py [--size-mb N] [FILE]

FILE (default tests/data/bufr/dwd-synop-44msgs.bufr) is repeated into a temporary file of about N
MiB (default 1024), deleted afterwards. The file is mapped, so its pages count as the process's
file-backed memory (RssFile), which the kernel takes back at will; the figure that must stay
constant is the process's own memory (RssAnon) and its peak (VmHWM less the file pages). The
verbs read the file a window at a time, without a mapping: their peak resident memory, file pages
and all, is what they cost.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import tempfile
import time

DEFAULT = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "bufr" / "dwd-synop-44msgs.bufr"

PROBE = """
import sys, time
import corvane
def memory():
    with open("/proc/self/status") as status:
        fields = dict(line.split(":", 1) for line in status)
    return {name: int(fields[name].split()[0]) // 1024 for name in ("VmHWM", "RssAnon", "RssFile")}
def show(step, seconds):
    print(f"{step:<22} {seconds * 1000:9.1f} ms  " + "  ".join(f"{k} {v} MiB" for k, v in memory().items()))
show("before", 0.0)
start = time.perf_counter()
bufr = corvane.open(sys.argv[1])
show("corvane.open(path)", time.perf_counter() - start)
start = time.perf_counter()
count = len(bufr)
show(f"len() = {count:,}", time.perf_counter() - start)
start = time.perf_counter()
heading = bufr[count - 1].gts_heading
show("last message", time.perf_counter() - start)
bufr.close()
show("close()", 0.0)
"""


def main() -> None:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("file", nargs="?", type=pathlib.Path, default=DEFAULT)
    parser.add_argument("--size-mb", type=int, default=1024)
    arguments = parser.parse_args()
    piece = arguments.file.read_bytes()
    with tempfile.TemporaryDirectory() as directory:
        path = pathlib.Path(directory) / "large.bufr"
        with path.open("wb") as out:
            for _ in range(max(1, (arguments.size_mb << 20) // len(piece))):
                out.write(piece)
        print(f"{path.stat().st_size / 2**20:,.0f} MiB of {arguments.file.name}")
        # Out of the page cache, as an archive not read lately is.
        descriptor = os.open(path, os.O_RDONLY)
        os.posix_fadvise(descriptor, 0, 0, os.POSIX_FADV_DONTNEED)
        os.close(descriptor)
        subprocess.run([sys.executable, "-c", PROBE, str(path)], check=True)
        output = pathlib.Path(directory) / "out"
        for verb in (
            ["ls", "-n"],
            ["ls", "-p", "bufrHeaderCentre,dataCategory,typicalDate"],
            ["copy", "-w", "dataCategory=0", "-o", f"{output}.bufr"],
            ["convert", "-k", "latitude,longitude,airTemperature", "-o", f"{output}.csv"],
        ):
            peak, seconds = peak_memory([sys.executable, "-m", "corvane", *verb, str(path)])
            print(f"corvane {' '.join(verb[:2]):<22} {seconds:7.2f} s  peak {peak / 2**20:6.0f} MiB")


def peak_memory(command: list) -> tuple:
    """The peak resident memory in bytes of a command run to its end, and its seconds."""
    start = time.perf_counter()
    with open(os.devnull, "wb") as devnull:
        child = subprocess.Popen(command, stdout=devnull)
        _, status, usage = os.wait4(child.pid, 0)
    child.returncode = os.waitstatus_to_exitcode(status)
    if child.returncode not in (0, 1):
        raise SystemExit(f"{command} exited with {child.returncode}")
    return usage.ru_maxrss * 1024, time.perf_counter() - start


if __name__ == "__main__":
    main()
