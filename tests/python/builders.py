"""Builds small BUFR messages for tests, byte by byte."""


def _u24(value):
    return value.to_bytes(3, "big")


def make_message(
    descriptors=(),
    data=b"",
    subsets=1,
    compressed=False,
    section2=None,
    master_version=39,
    local_version=0,
    centre=98,
    subcentre=0,
    edition=4,
):
    section1 = bytearray(22)
    section1[0:3] = _u24(22)
    section1[4:6] = centre.to_bytes(2, "big")
    section1[6:8] = subcentre.to_bytes(2, "big")
    section1[9] = 0x80 if section2 is not None else 0
    section1[13] = master_version
    section1[14] = local_version
    section1[15:17] = (2024).to_bytes(2, "big")
    section1[17:22] = bytes([1, 2, 3, 4, 5])
    body = bytes(section1)
    if section2 is not None:
        body += _u24(3 + len(section2)) + section2
    codes = b"".join(bytes([(code // 100000) << 6 | (code % 100000) // 1000, code % 1000]) for code in descriptors)
    flags = 0x80 | (0x40 if compressed else 0)
    body += _u24(7 + len(codes)) + b"\0" + subsets.to_bytes(2, "big") + bytes([flags]) + codes
    body += _u24(4 + len(data)) + b"\0" + data
    body += b"7777"
    total = 8 + len(body)
    return b"BUFR" + _u24(total) + bytes([edition]) + body


class BitWriter:
    """Packs fields most significant bit first, as section 4 holds them."""

    def __init__(self):
        self.bits = []

    def put(self, value, width):
        self.bits.extend((value >> (width - 1 - i)) & 1 for i in range(width))
        return self

    def text(self, text, width=None):
        raw = text.encode("latin-1")
        width = width if width is not None else 8 * len(raw)
        for byte in raw.ljust(width // 8, b" "):
            self.put(byte, 8)
        return self

    def bytes(self):
        padded = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(int("".join(map(str, padded[i : i + 8])), 2) for i in range(0, len(padded), 8))
