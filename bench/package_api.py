"""Decoding speed of the corvane package, beside _corvane and ecCodes in the same run.

    python bench/package_api.py [--repeat N] [FILE ...]

For each file (by default the two workloads in tests/data), every message is decoded three ways,
each the best of N runs, with tables loaded before timing:
- corvane: corvane.open(FILE), then Message.values() for every message;
- _corvane: decode_values_with_tables on each message's bytes (editions 4 only);
- ecCodes, when importable: unpack, then the numericValues and stringValues arrays.
ecCodes is never a dependency of the project.
"""

import argparse
import pathlib

from decode_api import DATA, best_of, corvane_run, eccodes_importable, eccodes_run, tables_for

import corvane

WORKLOADS = [DATA / "bufr" / "dwd-synop-44msgs.bufr", DATA / "bufr" / "hirs-metop-compressed.bufr"]


def package_run(path):
    def run():
        messages = values = 0
        for message in corvane.open(path):
            values += len(message.values())
            messages += 1
        return messages, values

    return run


def message_bytes(path):
    data = path.read_bytes()
    return [data[m.offset : m.offset + m.length] for m in corvane.open(data)]


def module_run(messages):
    """_corvane with a TableSet per table choice from tests/data, or None when a message is not
    edition 4 or its tables are not there."""
    try:
        return corvane_run(messages, tables_for(messages))
    except (ValueError, OSError):
        return None


def report(label, seconds, messages, values):
    print(
        f"  {label:<9}{seconds * 1e3:9.1f} ms  {messages / seconds:12,.0f} msg/s  "
        f"{values / seconds / 1e6:8.2f} M values/s"
    )


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--repeat", type=int, default=5)
    parser.add_argument("files", nargs="*", type=pathlib.Path, default=WORKLOADS)
    args = parser.parse_args()
    have_eccodes = eccodes_importable()

    for path in args.files:
        package_run(path)()  # loads the tables this file needs
        seconds, (messages, values) = best_of(args.repeat, package_run(path))
        print(f"{path.name}: {messages} messages, {values} values")
        report("corvane", seconds, messages, values)
        raw = message_bytes(path)
        module = module_run(raw)
        if module is not None:
            theirs, count = best_of(args.repeat, module)
            report("_corvane", theirs, messages, count)
        if have_eccodes:
            theirs, count = best_of(args.repeat, eccodes_run(raw, True))
            report("ecCodes", theirs, messages, count)
            print(f"  corvane is {theirs / seconds:.1f}x ecCodes per message")


if __name__ == "__main__":
    main()
