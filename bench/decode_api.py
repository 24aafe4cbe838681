"""Decoding speed through the Python API, side by side with ecCodes when it is importable.

    python bench/decode_api.py [--repeat N]

Tables are loaded once; every message of each file is decoded with decode_values_with_tables.
ecCodes (the `eccodes` package) is timed on the same messages in the same run, two ways: unpack,
then the numericValues and stringValues arrays (every value, as the object list holds), and
unpack, then numericValues alone as one NumPy array. Each side decodes every message once before
timing starts, so tables are loaded once on both. ecCodes is never a dependency of the project.
"""

import argparse
import pathlib
import resource
import time

import _corvane

DATA = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data"
ROOT = DATA / "tables" / "definitions"
WORKLOADS = ["dwd-synop-44msgs.bufr", "hirs-metop-compressed.bufr"]


def messages_of(path):
    data = path.read_bytes()
    out, start = [], 0
    for message in _corvane.parse_all_bytes(data):
        start = data.index(b"BUFR", start)
        out.append(data[start : start + message.total_length])
        start += message.total_length
    return out


def best_of(repeat, run):
    result = run()  # warm-up: tables and caches are loaded here, outside the timing
    best = float("inf")
    for _ in range(repeat):
        started = time.perf_counter()
        result = run()
        best = min(best, time.perf_counter() - started)
    return best, result


def tables_for(messages):
    """One TableSet per distinct table choice, loaded before timing starts."""
    cache, chosen = {}, []
    for raw in messages:
        m = _corvane.parse_bytes(raw)
        key = (
            m.master_table_number,
            m.master_tables_version_number,
            m.local_tables_version_number,
            m.originating_centre,
            m.originating_subcentre,
        )
        if key not in cache:
            cache[key] = _corvane.TableSet.from_definitions(str(ROOT), m)
        chosen.append(cache[key])
    return chosen


def corvane_run(messages, tables):
    def run():
        decode = _corvane.decode_values_with_tables
        return sum(len(decode(raw, table_set)) for raw, table_set in zip(messages, tables))

    return run


def eccodes_run(messages, with_strings):
    import eccodes

    def run():
        count = 0
        for raw in messages:
            handle = eccodes.codes_new_from_message(raw)
            try:
                eccodes.codes_set(handle, "unpack", 1)
                count += len(eccodes.codes_get_array(handle, "numericValues"))
                if with_strings:
                    try:
                        count += len(eccodes.codes_get_array(handle, "stringValues"))
                    except eccodes.CodesInternalError:
                        pass
            finally:
                eccodes.codes_release(handle)
        return count

    return run


ECCODES_WAYS = [("ecCodes numericValues + stringValues", True), ("ecCodes numericValues only", False)]


def eccodes_importable():
    """Whether the ecCodes peer can be timed; says so when it cannot."""
    try:
        import eccodes  # noqa: F401
    except (ImportError, RuntimeError):
        print("ecCodes is not importable: timing corvane alone")
        return False
    return True


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=3)
    args = parser.parse_args()
    have_eccodes = eccodes_importable()

    for name in WORKLOADS:
        path = DATA / "bufr" / name
        messages = messages_of(path)
        tables = tables_for(messages)
        seconds, values = best_of(args.repeat, corvane_run(messages, tables))
        print(f"{name}: {len(messages)} messages, {values:,} values")
        print(
            f"  {'corvane decode_values_with_tables':38} {seconds * 1e3:9.1f} ms"
            f"  {len(messages) / seconds:10,.0f} msg/s  {values / seconds / 1e6:7.2f} M values/s"
        )
        if have_eccodes:
            for label, with_strings in ECCODES_WAYS:
                theirs, their_values = best_of(args.repeat, eccodes_run(messages, with_strings))
                verdict = (
                    f"corvane {theirs / seconds:.1f}x faster"
                    if theirs >= seconds
                    else f"corvane {seconds / theirs:.1f}x slower"
                )
                print(
                    f"  {label:38} {theirs * 1e3:9.1f} ms  {len(messages) / theirs:10,.0f} msg/s"
                    f"  {their_values / theirs / 1e6:7.2f} M values/s  ({verdict})"
                )
    peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss / 1024
    print(f"peak resident memory of this process: {peak:.0f} MiB")


if __name__ == "__main__":
    main()
