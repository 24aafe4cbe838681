"""Decodes a BUFR file with the tables that ship in corvane: metadata, then a few values.

    python examples/decode_sample.py [FILE]

Without an argument it decodes the shipped 44-message SYNOP sample of the DWD.
"""

import pathlib
import sys

import corvane

SAMPLE = pathlib.Path(__file__).resolve().parent.parent / "tests" / "data" / "bufr" / "dwd-synop-44msgs.bufr"
SHOWN = ("stationOrSiteName", "latitude", "longitude", "airTemperature", "pressureReducedToMeanSeaLevel")


def main():
    path = sys.argv[1] if len(sys.argv) > 1 else SAMPLE
    messages = values = 0
    for message in corvane.open(path):
        decoded = message.values()
        messages += 1
        values += len(decoded)
        print(
            f"#{message.index} edition {message.edition}, centre {message.centre}, {message.time}, "
            f"{message.subsets} subsets, {len(decoded)} values"
        )
        first = [v for v in decoded if v.subset == 1 and v.key in SHOWN]
        for value in first:
            unit = f" {value.unit}" if value.unit not in (None, "CCITT IA5") else ""
            print(f"   {value.key}: " + ("missing" if value.value is None else f"{value.value!r}{unit}"))
    print(f"{pathlib.Path(path).name}: {messages} messages, {values} values")


if __name__ == "__main__":
    main()
