"""corvane.encode beside eccodes-python's keys-then-pack, in one run.

    python bench/encode.py [--repeat N] [--peer-python PYTHON]

Files: the 44 SYNOP messages of tests/data/bufr/dwd-synop-44msgs.bufr, and the HIRS file
(hirs-metop-compressed.bufr, its first --hirs-messages N of 61 messages of some 1000 subsets and
300,000 values each), written from their decoded values in the layout of the message, by corvane
and by ecCodes (whose arrays of one key across subsets come out right only so). corvane times
encode of the values in order (lists of lists), and of the same subsets as mappings of
"#n#key"; where every subset of every message holds as many numbers (HIRS), it also times them
as 2-D NumPy arrays, NaN for missing: one row per subset, and the transpose of one row per value
(as columns come). ecCodes (run by --peer-python, whose interpreter has eccodes; default this
one) times what its users write: codes_bufr_new_from_samples, the replication factors and
unexpandedDescriptors, one codes_set or codes_set_array per key, then pack. Keys, values and
arrays come from a decode before the clock starts, on both sides. Each figure is the best of N
runs.
"""

import argparse
import collections
import json
import pathlib
import subprocess
import sys
import time

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "bufr"
FILES = ("dwd-synop-44msgs.bufr", "hirs-metop-compressed.bufr")
# ecCodes' replication factors, read only: their input keys set them.
FACTORS = (
    "delayedDescriptorReplicationFactor",
    "shortDelayedDescriptorReplicationFactor",
    "extendedDelayedDescriptorReplicationFactor",
)
# Keys that ecCodes derives and does not let users set.
READ_ONLY = {*FACTORS, "dataPresentIndicator"}


def best_of(repeat, run):
    best = float("inf")
    for _ in range(repeat):
        started = time.perf_counter()
        run()
        best = min(best, time.perf_counter() - started)
    return best


def corvane_times(path, repeat, limit):
    import numpy

    import corvane

    jobs, records, arrays, by_value = [], [], [], []
    for message in list(corvane.open(path))[:limit]:
        subsets = [[] for _ in range(message.subsets)]
        ranked = [{} for _ in range(message.subsets)]
        seen = [collections.Counter() for _ in range(message.subsets)]
        for value in message.values():
            subsets[value.subset - 1].append(value.value)
            seen[value.subset - 1][value.key] += 1
            ranked[value.subset - 1][f"#{seen[value.subset - 1][value.key]}#{value.key}"] = value.value
        header = dict(
            centre=message.centre,
            subcentre=message.subcentre,
            master_version=message.master_version,
            local_version=message.local_version,
            compressed=message.compressed,
        )
        jobs.append((message.descriptors, subsets, header))
        records.append((message.descriptors, ranked, header))
        if len({len(subset) for subset in subsets}) == 1 and not any(isinstance(v, str) for v in subsets[0]):
            grid = numpy.array([[numpy.nan if v is None else v for v in subset] for subset in subsets])
            arrays.append((message.descriptors, grid, header))
            by_value.append((message.descriptors, numpy.ascontiguousarray(grid.T).T, header))

    def run(which):
        for descriptors, subsets, header in which:
            corvane.encode(descriptors, subsets, **header)

    times = {"lists of values": best_of(repeat, lambda: run(jobs))}
    # Arrays only where every message is numbers alike in every subset.
    if len(arrays) == len(jobs):
        times["2-D arrays, a row per subset"] = best_of(repeat, lambda: run(arrays))
        times["2-D arrays, the .T of a row per value"] = best_of(repeat, lambda: run(by_value))
    times["records"] = best_of(repeat, lambda: run(records))
    return times


def eccodes_times(path, repeat, limit):
    import eccodes

    jobs = []
    with open(path, "rb") as stream:
        while len(jobs) < limit:
            handle = eccodes.codes_bufr_new_from_file(stream)
            if handle is None:
                break
            eccodes.codes_set(handle, "unpack", 1)
            header = {
                key: eccodes.codes_get(handle, key)
                for key in (
                    "edition",
                    "masterTablesVersionNumber",
                    "localTablesVersionNumber",
                    "bufrHeaderCentre",
                    "bufrHeaderSubCentre",
                    "numberOfSubsets",
                    "compressedData",
                )
            }
            factors = {}
            for key in (*FACTORS, "dataPresentIndicator"):
                if eccodes.codes_is_defined(handle, key):
                    factors["input" + key[0].upper() + key[1:]] = list(eccodes.codes_get_array(handle, key))
            descriptors = list(eccodes.codes_get_array(handle, "unexpandedDescriptors"))
            keys = []
            iterator = eccodes.codes_bufr_keys_iterator_new(handle)
            while eccodes.codes_bufr_keys_iterator_next(iterator):
                name = eccodes.codes_bufr_keys_iterator_get_name(iterator)
                if "->" in name or name.split("#")[-1] in READ_ONLY or not name.startswith("#"):
                    continue
                if eccodes.codes_get_native_type(handle, name) is str:
                    keys.append((name, eccodes.codes_get_string(handle, name)))
                else:
                    keys.append((name, eccodes.codes_get_array(handle, name)))
            eccodes.codes_bufr_keys_iterator_delete(iterator)
            eccodes.codes_release(handle)
            jobs.append((header, factors, descriptors, keys))

    def run():
        for header, factors, descriptors, keys in jobs:
            handle = eccodes.codes_bufr_new_from_samples("BUFR4")
            for key, value in header.items():
                if key != "edition":
                    eccodes.codes_set(handle, key, value)
            for key, value in factors.items():
                eccodes.codes_set_array(handle, key, value)
            eccodes.codes_set_array(handle, "unexpandedDescriptors", descriptors)
            for key, value in keys:
                if isinstance(value, str):
                    eccodes.codes_set_string(handle, key, value)
                else:
                    eccodes.codes_set_array(handle, key, value)
            eccodes.codes_set(handle, "pack", 1)
            eccodes.codes_get_message(handle)
            eccodes.codes_release(handle)

    return {"pack": best_of(repeat, run)}


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("--hirs-messages", type=int, default=3, help="the first N of the 61 HIRS messages")
    parser.add_argument("--peer-python", default=sys.executable, help="an interpreter with eccodes")
    parser.add_argument("--eccodes-only", action="store_true", help=argparse.SUPPRESS)
    args = parser.parse_args()
    limits = dict(zip(FILES, (44, args.hirs_messages)))
    if args.eccodes_only:
        print(json.dumps({name: eccodes_times(DATA / name, args.repeat, limits[name]) for name in FILES}))
        return
    ours = {name: corvane_times(DATA / name, args.repeat, limits[name]) for name in FILES}
    peer = subprocess.run(
        [args.peer_python, __file__, "--eccodes-only", "--repeat", str(args.repeat)]
        + ["--hirs-messages", str(args.hirs_messages)],
        check=True,
        capture_output=True,
        text=True,
    )
    theirs = json.loads(peer.stdout.splitlines()[-1])
    for name in FILES:
        pack = theirs[name]["pack"]
        print(f"{name}: ecCodes keys+pack {pack * 1e3:.1f} ms")
        for form, seconds in ours[name].items():
            print(f"  corvane.encode from {form}: {seconds * 1e3:.2f} ms, {pack / seconds:.2g}x ecCodes")


if __name__ == "__main__":
    main()
