"""Decodes a BUFR file: message metadata, then every message's values.

    python examples/decode_sample.py [FILE [DEFINITIONS_ROOT]]

Without arguments it decodes the shipped SYNOP sample with the shipped ecCodes tables.
"""
import pathlib
import sys

import _corvane

HERE = pathlib.Path(__file__).resolve().parent.parent
DEFAULT_FILE = HERE / "tests" / "data" / "bufr" / "dwd-synop-44msgs.bufr"
DEFAULT_ROOT = HERE / "tests" / "data" / "tables" / "definitions"


def split(data):
    """Each message's own bytes, so that every one of them can be decoded."""
    start = 0
    for message in _corvane.parse_all_bytes(data):
        start = data.index(b"BUFR", start)
        yield message, data[start:start + message.total_length]
        start += message.total_length


def main():
    path = pathlib.Path(sys.argv[1]) if len(sys.argv) > 1 else DEFAULT_FILE
    root = sys.argv[2] if len(sys.argv) > 2 else str(DEFAULT_ROOT)
    data = path.read_bytes()
    total = 0
    for index, (message, raw) in enumerate(split(data)):
        values = _corvane.decode_values_with_definitions(raw, root)
        total += len(values)
        print(f"#{index} {message!r}")
        print(f"   centre {message.originating_centre}, master tables v{message.master_tables_version_number}, "
              f"{message.typical_year:04d}-{message.typical_month:02d}-{message.typical_day:02d} "
              f"{message.typical_hour:02d}:{message.typical_minute:02d}, {len(values)} values")
        for value in values[:8]:
            print(f"   {value.descriptor:06d} {value.name}: {value.data!r}")
    print(f"{path.name}: {index + 1} messages, {total} values")


if __name__ == "__main__":
    main()
