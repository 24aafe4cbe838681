"""Columns of the corvane package beside ecCodes, in the same run.

    python bench/columns_api.py [--repeat N] [FILE]

FILE defaults to tests/data/bufr/hirs-metop-compressed.bufr. Three figures:
- speed: every value of the file into NumPy arrays with BufrFile.to_numpy(), against ecCodes
  (when importable) unpacking each message and fetching numericValues, concatenated into one
  array. Both sides run once before timing, so tables are loaded once on each; best of N runs.
- memory: the peak resident memory that to_numpy() adds, in a fresh process (Linux), against the
  bytes of the arrays it returns (tracemalloc cannot see the column memory, which is mapped
  directly).
- threads: two threads each decoding the file at once, against one thread decoding it twice.
ecCodes is never a dependency of the project.
"""

import argparse
import os
import pathlib
import subprocess
import sys
import threading

# OpenBLAS keeps spinning threads after NumPy work: on 2 cores they take a core from the threads timed.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy  # noqa: E402
from decode_api import best_of  # noqa: E402

import corvane  # noqa: E402

DEFAULT = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "bufr" / "hirs-metop-compressed.bufr"

# The high-water mark of the process's own memory (VmHWM, Linux): getrusage's maxrss would start
# from the parent's at the fork.
MEMORY_PROBE = """
import sys
import numpy, corvane
def peak():
    with open("/proc/self/status") as status:
        return next(int(line.split()[1]) * 1024 for line in status if line.startswith("VmHWM:"))
bufr = corvane.open(sys.argv[1])
bufr.to_numpy(["#1#latitude"])  # tables and modules loaded before the baseline
before = peak()
arrays = bufr.to_numpy()
print(peak() - before, sum(a.nbytes for a in arrays.values() if a.dtype != object))
"""


def corvane_run(bufr):
    def run():
        arrays = bufr.to_numpy()
        return sum(a.size for name, a in arrays.items() if name not in ("message", "subset") and a.dtype != object)

    return run


def eccodes_run(data, bufr):
    import eccodes

    messages = [data[entry.offset : entry.offset + entry.length] for entry in bufr._entries if entry.error is None]

    def run():
        arrays = []
        for raw in messages:
            handle = eccodes.codes_new_from_message(raw)
            try:
                eccodes.codes_set(handle, "unpack", 1)
                arrays.append(eccodes.codes_get_array(handle, "numericValues"))
            finally:
                eccodes.codes_release(handle)
        return numpy.concatenate(arrays).size

    return run


def threads_run(paths):
    files = [corvane.open(path) for path in paths]

    def run():
        workers = [threading.Thread(target=bufr.to_numpy) for bufr in files]
        for worker in workers:
            worker.start()
        for worker in workers:
            worker.join()

    return run


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("file", nargs="?", type=pathlib.Path, default=DEFAULT)
    args = parser.parse_args()
    data = args.file.read_bytes()
    bufr = corvane.open(data)
    print(f"{args.file.name}: {len(bufr._entries)} messages")

    ours, values = best_of(args.repeat, corvane_run(bufr))
    print(f"  corvane to_numpy()        {ours * 1e3:8.1f} ms  {values:,} values  {values / ours / 1e6:8.1f} M values/s")
    try:
        theirs, count = best_of(args.repeat, eccodes_run(data, bufr))
        print(
            f"  ecCodes numericValues     {theirs * 1e3:8.1f} ms  {count:,} values  "
            f"{count / theirs / 1e6:8.1f} M values/s"
        )
        print(f"  corvane is {theirs / ours:.1f}x ecCodes")
    except ImportError:
        print("  ecCodes is not importable: corvane alone")

    peak, output = map(
        int,
        subprocess.run(
            [sys.executable, "-c", MEMORY_PROBE, str(args.file)], check=True, capture_output=True, text=True
        ).stdout.split(),
    )
    print(
        f"  peak memory of a decode   {peak / 2**20:8.1f} MiB for {output / 2**20:.1f} MiB of arrays: "
        f"{peak / output:.2f}x"
    )

    one, _ = best_of(args.repeat, threads_run([args.file]))
    two, _ = best_of(args.repeat, threads_run([args.file, args.file]))
    print(f"  one thread, one file      {one * 1e3:8.1f} ms")
    print(f"  two threads, a file each  {two * 1e3:8.1f} ms: {2 * one / two:.2f}x the work per second of one")


if __name__ == "__main__":
    main()
