"""Writes the hand-built fuzz seeds: a few tiny messages per operator family, in both data
layouts, and small definitions roots in the input format of fuzz_definitions.

    python3 fuzz/make_seeds.py

Messages use master version 39 of the test tables. Values that only a later reading would take
(bitmap-driven values after a bitmap without 236000, a code table under 201YYY, an element the
tables lack after 206YYY) stand at the end, so each seed decodes whichever reading applies.
"""

import pathlib
import sys

HERE = pathlib.Path(__file__).resolve().parent
sys.path.insert(0, str(HERE.parent / "tests" / "python"))

from builders import BitWriter, make_message  # noqa: E402

CORPUS = HERE / "corpus"
T = 12101  # air temperature: 16 bits, scale 2


class Fields:
    """Section-4 fields of one walk: the values of one subset, or compressed columns of all."""

    def __init__(self, writer, subsets, compressed, subset=0):
        self.w, self.subsets, self.compressed, self.subset = writer, subsets, compressed, subset

    def _per_subset(self, values):
        return list(values) if len(values) > 1 else list(values) * self.subsets

    def num(self, width, *values):
        """One numeric value per subset (one value stands for all); None is missing."""
        values = self._per_subset(values)
        missing = (1 << width) - 1
        if not self.compressed:
            value = values[self.subset]
            self.w.put(missing if value is None else value, width)
            return self
        if None not in values and len(set(values)) == 1:
            self.w.put(values[0], width).put(0, 6)
            return self
        present = [v for v in values if v is not None]
        r0 = min(present)
        # One more than the largest increment, so that no present value reads as all ones.
        nbinc = (max(v - r0 for v in present) + 1).bit_length()
        self.w.put(r0, width).put(nbinc, 6)
        for value in values:
            self.w.put((1 << nbinc) - 1 if value is None else value - r0, nbinc)
        return self

    def text(self, width, *texts):
        texts = self._per_subset(texts)
        if not self.compressed:
            self.w.text(texts[self.subset], width)
        elif len(set(texts)) == 1:
            self.w.text(texts[0], width).put(0, 6)
        else:
            self.w.put(0, width).put(width // 8, 6)
            for text in texts:
                self.w.text(text, width)
        return self

    def bits(self, *bits):
        """A bitmap: one 031031 value for each entry, the same in every subset."""
        for bit in bits:
            self.num(1, bit)
        return self

    def zeros(self, count):
        """Room for a field whose width depends on the reading."""
        self.w.put(0, count)
        return self


# Seeds whose every field is read alike either way also come as two uncompressed subsets.
TWO_SUBSETS = {"op-203", "op-204", "op-205", "op-206"}


def encode(descriptors, fill, compressed, subsets=None, **message):
    subsets = subsets or (2 if compressed else 1)
    writer = BitWriter()
    for subset in range(1 if compressed else subsets):
        fill(Fields(writer, subsets, compressed, subset))
    return make_message(descriptors, writer.bytes(), subsets=subsets, compressed=compressed, **message)


def three_temperatures(f):
    return f.num(16, 27315, 27320).num(16, 28000).num(16, 26000, 26010)


def bitmap_222(f):
    three_temperatures(f).bits(0, 1, 0).num(16, 98).num(8, 1).num(7, 70, 75).num(7, 80)
    f.num(16, 98).num(8, 1).num(7, 71).num(7, 81, 82)


def bitmap_223(f):
    three_temperatures(f).bits(0, 1, 0).num(16, 27300, 27301).num(16, 26100)
    f.num(16, 27302).num(16, 26101, 26102)


def bitmap_224(f):
    three_temperatures(f).num(8, 3).bits(0, 1, 0).num(6, 4).num(16, 100, 120).num(16, 90)


def bitmap_225(f):
    three_temperatures(f).bits(0, 1, 0).num(6, 4).num(17, 65536 + 50, 65536 - 20).num(17, 65536 + 7)


def bitmap_232(f):
    three_temperatures(f).bits(0, 1, 0).num(16, 27400).num(16, 26200, 26300)


def new_reference(f):
    f.num(10, 512 | 100).num(16, 1000, 1010).num(16, 27315)


def associated_field(f):
    f.num(6, 2).num(8, 1, 2).num(16, 27315).num(8, 0).num(7, 10, 11).num(16, 27000)


def character_data(f):
    f.text(32, "ABCD", "WXYZ").num(16, 27315, 27316).text(8, "Z")


def local_width(f):
    f.num(12, 4000, 4001).num(16, 27315)


def unknown_local_element(f):
    f.num(20, 123456, 654321).num(16, 27315)


def width_scale_text(f):
    f.num(18, 200000, 200001).num(20, 273150).text(32, "ABCD").text(160, "STATION", "OTHER")
    f.zeros(24)  # 020011 under 201129: 4 or 5 bits, and NBINC when compressed


MESSAGE_SEEDS = {
    "bitmap-222": (
        [T, T, T, 222000, 236000, 101003, 31031, 1031, 1032, 101002, 33007, 222000, 237000, 1031, 1032, 101002, 33007],
        bitmap_222,
    ),
    "bitmap-223": (
        [T, T, T, 223000, 236000, 101003, 31031, 223255, 223255, 223000, 237000, 223255, 223255, 237255],
        bitmap_223,
    ),
    "bitmap-224": ([T, T, T, 224000, 101000, 31001, 31031, 8023, 224255, 224255], bitmap_224),
    "bitmap-225": ([T, T, T, 225000, 236000, 101003, 31031, 8024, 225255, 225255], bitmap_225),
    "bitmap-232": ([T, T, T, 232000, 101003, 31031, 232255, 232255], bitmap_232),
    "op-203": ([203010, T, 203255, T, 203000, T], new_reference),
    "op-204": ([204008, 31021, T, 1001, 204000, T], associated_field),
    "op-205": ([205004, T, 205001], character_data),
    "op-206": ([206012, T, T], local_width),
    "op-206-unknown": ([206020, 63192, T], unknown_local_element),
    "op-201-202-207-208": (
        [201130, 202129, T, 201000, 202000, 207001, T, 207000, 208004, 1015, 208000, 1015, 201129, 20011],
        width_scale_text,
    ),
}


def element_line(code, name, unit, scale, reference, width):
    return f"{code:06d}|{name}|long|{name.upper()}|{unit}|{scale}|{reference}|{width}|{unit}|0|0\n"


ELEMENTS = "".join(
    [
        element_line(1001, "blockNumber", "Numeric", 0, 0, 7),
        element_line(1002, "stationNumber", "Numeric", 0, 0, 10),
        element_line(1015, "stationName", "CCITT IA5", 0, 0, 32),
        element_line(12101, "airTemperature", "K", 2, 0, 16),
        element_line(20011, "cloudAmount", "CODE TABLE", 0, 0, 4),
        element_line(31001, "delayedReplicationFactor", "Numeric", 0, 0, 8),
    ]
)
SEQUENCES = '"301001" = [ 001001, 001002 ]\n"301002" = [ 301001, 101000, 031001, 012101 ]\n'
LOCAL_ELEMENTS = element_line(12101, "airTemperature", "K", 1, -1000, 12)
LOCAL_SEQUENCES = '"301001" = [ 001001, 001015 ]\n'
CODE_TABLE = "0 0 CLEAR\n8 8 OVERCAST\n"


def definitions_input(header, entries, message=None):
    """An entry runs up to the newline before the next line that starts with "="."""
    text = header.encode()
    for path, content in entries:
        text += b"\n=" + path.encode() + b"\n" + content.encode()
    if message is not None:
        assert b"\n=" not in message
        text += b"\n=message\n" + message
    return text


def message_over(descriptors, fill, compressed, **section1):
    return encode(descriptors, fill, compressed, **{"centre": 98, **section1})


DEFINITIONS_SEEDS = {
    # Master version 38 is an alias of 39; no local tables.
    "alias": definitions_input(
        "0 38 0 98 0",
        [
            ("bufr/tables/0/wmo/38", "39\n"),
            ("bufr/tables/0/wmo/39/element.table", ELEMENTS),
            ("bufr/tables/0/wmo/39/sequence.def", SEQUENCES),
            ("bufr/tables/0/wmo/39/codetables/20011.table", CODE_TABLE),
        ],
        message_over(
            [301002, 20011],
            lambda f: f.num(7, 6).num(10, 123).num(8, 2).num(16, 27315).num(16, 27320, 27330).num(4, 8),
            False,
            master_version=38,
        ),
    ),
    # Master version 19 names its local level "19-1"; the local tables replace master entries.
    "local-19": definitions_input(
        "0 19 1 98 0",
        [
            ("bufr/tables/0/wmo/19/element.table", ELEMENTS),
            ("bufr/tables/0/wmo/19/sequence.def", SEQUENCES),
            ("bufr/tables/0/local/19-1/98/0/element.table", LOCAL_ELEMENTS),
            ("bufr/tables/0/local/19-1/98/0/sequence.def", LOCAL_SEQUENCES),
            ("bufr/tables/0/local/19-1/98/0/codetables/20011.table", CODE_TABLE),
        ],
        message_over(
            [301001, T, 20011],
            lambda f: f.num(7, 6).text(32, "ABCD", "EFGH").num(12, 1300, 1310).num(4, 0, 8),
            True,
            master_version=19,
            local_version=1,
        ),
    ),
    # An alias chain 30 -> 31 -> 32, a local directory with code tables only.
    "alias-chain": definitions_input(
        "0 30 2 7 0",
        [
            ("bufr/tables/0/wmo/30", "31"),
            ("bufr/tables/0/wmo/31", " 32 \n"),
            ("bufr/tables/0/wmo/32/element.table", ELEMENTS),
            ("bufr/tables/0/wmo/32/sequence.def", SEQUENCES),
            ("bufr/tables/0/local/2/7/0/codetables/20011.table", CODE_TABLE),
        ],
        message_over(
            [20011, T], lambda f: f.num(4, 8).num(16, 27315), False, master_version=30, local_version=2, centre=7
        ),
    ),
    # Aliases that go round in a circle, and one that names a path: both refused.
    "alias-loop": definitions_input(
        "0 6 0 0 0",
        [
            ("bufr/tables/0/wmo/6", "7"),
            ("bufr/tables/0/wmo/7", "6"),
            ("bufr/tables/0/wmo/8", "../wmo/6"),
            ("bufr/tables/0/local/", ""),
        ],
    ),
}

# Replications inside sequences, for the table-file target (every file holds the same bytes).
TABLE_SEEDS = {
    "replication": b'"301001" = [ 101002, 001001, 102000, 031001, 001002, 001003 ]\n'
    b'"301002" = [ 301001, 103000, 031002, 201130, 301001, 222000 ]\n',
}


def write(directory, name, data):
    directory.mkdir(parents=True, exist_ok=True)
    (directory / name).write_bytes(data)


def main():
    for name, (descriptors, fill) in MESSAGE_SEEDS.items():
        subsets = 2 if name in TWO_SUBSETS else 1
        write(CORPUS / "messages", f"{name}.bufr", encode(descriptors, fill, compressed=False, subsets=subsets))
        write(CORPUS / "messages", f"{name}-compressed.bufr", encode(descriptors, fill, compressed=True))
    for name, data in DEFINITIONS_SEEDS.items():
        write(CORPUS / "definitions", name, data)
    for name, data in TABLE_SEEDS.items():
        write(CORPUS / "tables", name, data)


if __name__ == "__main__":
    main()
