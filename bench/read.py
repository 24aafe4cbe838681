"""corvane.read into pandas beside pdbufr, on threads and on a Dask cluster, in one run.

    python bench/read.py [--repeat N] [--copies N] [--synop FILE] [--perf FILE] [--temp FILE] [--no-dask]

Files: --synop (default tests/data/bufr/dwd-synop-44msgs.bufr), --perf and --temp, by default
pdbufr-perf_synop.bufr and pdbufr-temp.bufr in the folder named by $CORVANE_BENCH_DATA (left out
when absent). Each figure is the best of N runs; pdbufr (optional, never a dependency) runs once
per file, being slow.
1. corvane.read with workers=2 against workers=1, on each file and on N copies of the SYNOP files.
2. corvane.dask.read over N copies of the SYNOP files (in a temporary folder) on a distributed
   LocalCluster of two single-threaded workers against one.
3. corvane.read and pdbufr.read_bufr with the same columns, and pdbufr's time over corvane's in
   this run; the rows both give must hold the same values (every pdbufr row is looked up among
   corvane's).
"""

import argparse
import collections
import os
import pathlib
import shutil
import tempfile
import time

# OpenBLAS keeps spinning threads after NumPy or pandas work (pdbufr's): on 2 cores they take the
# second core from the thread and cluster timings that follow.
os.environ.setdefault("OPENBLAS_NUM_THREADS", "1")

import numpy as np  # noqa: E402
from decode_api import best_of  # noqa: E402

import corvane  # noqa: E402

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "bufr"
COLUMNS = {
    "dwd-synop-44msgs.bufr": ["stationNumber", "latitude", "longitude", "airTemperature", "dewpointTemperature"],
    "pdbufr-perf_synop.bufr": [
        "blockNumber",
        "stationNumber",
        "latitude",
        "longitude",
        "pressureReducedToMeanSeaLevel",
    ],
    "pdbufr-temp.bufr": ["stationNumber", "pressure", "airTemperature", "windSpeed"],
}
# The copies and the cluster read the SYNOP files alone: a profile file would shrink the columns
# all files share to the station number.
SYNOP = ("dwd-synop-44msgs.bufr", "pdbufr-perf_synop.bufr")


def once(run):
    started = time.perf_counter()
    result = run()
    return time.perf_counter() - started, result


def agreement(ours, theirs, columns):
    """How many of pdbufr's rows appear among corvane's, each used once, values equal to the 6
    significant digits both sides carry."""
    mine = ours[columns].astype(float).to_numpy()
    unused = np.ones(len(mine), dtype=bool)
    by_first = collections.defaultdict(list)
    for index, first in enumerate(mine[:, 0]):
        by_first[None if np.isnan(first) else float(first)].append(index)
    groups = {first: np.array(indices) for first, indices in by_first.items()}
    found = 0
    for row in theirs[columns].astype(float).to_numpy():
        candidates = groups.get(None if np.isnan(row[0]) else float(row[0]), np.zeros(0, dtype=int))
        equal = np.isclose(mine[candidates], row, rtol=1e-6, atol=0, equal_nan=True).all(axis=1)
        hits = candidates[equal & unused[candidates]]
        if len(hits):
            unused[hits[0]] = False
            found += 1
    return found


def versus_pdbufr(path, columns, repeat):
    seconds, frame = best_of(repeat, lambda: corvane.read(path, columns=columns))
    line = f"{path.name:28} corvane.read {seconds * 1e3:9.1f} ms  {len(frame):6} rows"
    try:
        import pdbufr
    except ImportError:
        print(line + "   (pdbufr not installed)")
        return
    theirs_seconds, theirs = once(lambda: pdbufr.read_bufr(str(path), columns=columns))
    found = agreement(frame, theirs, columns)
    print(
        f"{line}   pdbufr {theirs_seconds * 1e3:9.1f} ms {len(theirs):6} rows   "
        f"pdbufr/corvane {theirs_seconds / seconds:6.1f}x   "
        f"pdbufr rows with equal values in corvane's: {found}/{len(theirs)}"
    )
    return path.name, theirs_seconds / seconds


def threads(label, sources, columns, repeat):
    one, frame = best_of(repeat, lambda: corvane.read(sources, columns=columns, workers=1))
    two, other = best_of(repeat, lambda: corvane.read(sources, columns=columns, workers=2))
    assert frame.equals(other), "workers=2 gave other rows"
    print(
        f"{label:40} workers=1 {one * 1e3:8.1f} ms  workers=2 {two * 1e3:8.1f} ms  {one / two:4.2f}x  "
        f"({len(frame)} rows)"
    )


def on_cluster(paths, columns, workers, repeat):
    from distributed import Client, LocalCluster

    import corvane.dask

    with (
        LocalCluster(n_workers=workers, threads_per_worker=1, processes=True, dashboard_address=None) as cluster,
        Client(cluster),
    ):
        return best_of(repeat, lambda: corvane.dask.read(paths, columns=columns).compute())


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=3)
    parser.add_argument("--copies", type=int, default=8)
    parser.add_argument("--synop", type=pathlib.Path, default=DATA / "dwd-synop-44msgs.bufr")
    folder = os.environ.get("CORVANE_BENCH_DATA")
    parser.add_argument(
        "--perf", type=pathlib.Path, default=pathlib.Path(folder) / "pdbufr-perf_synop.bufr" if folder else None
    )
    parser.add_argument(
        "--temp", type=pathlib.Path, default=pathlib.Path(folder) / "pdbufr-temp.bufr" if folder else None
    )
    parser.add_argument("--no-dask", action="store_true")
    args = parser.parse_args()
    files = [path for path in (args.synop, args.perf, args.temp) if path is not None and path.exists()]
    columns = {path: COLUMNS.get(path.name, COLUMNS["dwd-synop-44msgs.bufr"]) for path in files}

    # Threads first: once pdbufr has run in this process, two threads gain less (its background
    # work shares the cores).
    print(f"== threads ({os.cpu_count()} cores)")
    for path in files:
        threads(path.name, [path], columns[path], args.repeat)
    synop = [path for path in files if path.name in SYNOP or path == args.synop]
    shared = sorted(set.intersection(*(set(columns[path]) for path in synop)), key=columns[synop[0]].index)
    copies = [path for path in synop for _ in range(args.copies)]
    threads(f"{args.copies} copies of {len(synop)} files", copies, shared, args.repeat)
    if not args.no_dask:
        on_copies(synop, shared, args)

    print("== corvane.read against pdbufr.read_bufr, same columns")
    ratios = [versus_pdbufr(path, columns[path], args.repeat) for path in files]
    if all(ratios):
        print("pdbufr time / corvane time: " + ", ".join(f"{name} {ratio:.1f}x" for name, ratio in ratios))


def on_copies(files, shared, args):
    """corvane.dask.read over copies of the files on one worker, then two."""
    try:
        import distributed  # noqa: F401
    except ImportError:
        print("== Dask: distributed not installed")
        return
    with tempfile.TemporaryDirectory() as folder:
        paths = []
        for copy in range(args.copies):
            for path in files:
                target = pathlib.Path(folder) / f"{copy}-{path.name}"
                shutil.copyfile(path, target)
                paths.append(str(target))
        one, frame = on_cluster(paths, shared, 1, args.repeat)
        two, other = on_cluster(paths, shared, 2, args.repeat)
        assert frame.reset_index(drop=True).equals(other.reset_index(drop=True)), "two workers gave other rows"
        print(
            f"== Dask LocalCluster over {len(paths)} files ({len(frame)} rows): 1 worker {one * 1e3:.1f} ms, "
            f"2 workers {two * 1e3:.1f} ms, {one / two:.2f}x"
        )


if __name__ == "__main__":
    main()
