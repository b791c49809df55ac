"""Glyph files built to make a run as slow as they can: each is a 50 by 50
PNG, at most as large as the program reads (256 KiB), that makes the image
library do as much work as the file's size allows. bench.py --glyphsets
times a run on a set of 29 copies of each.

HOSTILE lists them: (name, what it is, the file's bytes).
"""
import os
import struct
import sys
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)),
                                "..", "tests", "fuzz"))
import makeglyphs  # noqa: E402  (the corpus's PNG and chunk writers)

LIMIT = makeglyphs.FILELIMIT
RAW = b"".join(b"\0" + bytes(row) for row in makeglyphs.GREY)
ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]


class Bits:
    """A deflate bit stream: values lowest bit first, Huffman codes highest
    bit first."""

    def __init__(self):
        self.bits = []

    def put(self, value, n):
        self.bits += [(value >> i) & 1 for i in range(n)]

    def code(self, value, n):
        self.bits += [(value >> i) & 1 for i in range(n - 1, -1, -1)]

    def stored(self, data, final=1):
        self.put(final, 1)
        self.put(0, 2)
        self.bits += [0] * (-len(self.bits) % 8)
        self.put(len(data), 16)
        self.put(len(data) ^ 0xFFFF, 16)
        for byte in data:
            self.put(byte, 8)

    def dynamic(self, final, length):
        """A dynamic block header whose literal 0, end code and one distance
        all have codes of the given length (1 to 15), the rest none."""
        self.put(final, 1)
        self.put(2, 2)
        self.put(0, 5)
        self.put(0, 5)
        self.put(15, 4)
        first, second = sorted([length, 18])
        for symbol in ORDER:
            self.put(1 if symbol in (length, 18) else 0, 3)
        codes = {first: 0, second: 1}
        self.code(codes[length], 1)                 # literal 0
        for run in (138, 117):                      # literals 1 to 255: none
            self.code(codes[18], 1)
            self.put(run - 11, 7)
        self.code(codes[length], 1)                 # the end code
        self.code(codes[length], 1)                 # distance 1

    def bytes(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(bits[i + k] << k for k in range(8))
                     for i in range(0, len(bits), 8))


def png(stream, extra=b"", palette=False):
    ihdr = struct.pack(">IIBBBBB", 50, 50, 8, 3 if palette else 0, 0, 0, 0)
    out = b"\x89PNG\r\n\x1a\n" + makeglyphs.chunk(b"IHDR", ihdr) + extra
    if palette:
        out += makeglyphs.chunk(b"PLTE", bytes(range(256)) * 3)
    return (out + makeglyphs.chunk(b"IDAT", stream) +
            makeglyphs.chunk(b"IEND", b""))


def filled(body, palette=False):
    """A valid PNG made up to the size limit with chunks of body bytes."""
    plain = png(zlib.compress(RAW, 9), palette=palette)
    room = LIMIT - len(plain)
    count = room // (12 + body) - 1
    extra = makeglyphs.chunk(b"emPt", bytes(body)) * count
    extra += makeglyphs.chunk(b"emPt", bytes(room - len(extra) - 12))
    data = png(zlib.compress(RAW, 9), extra, palette)
    assert len(data) == LIMIT
    return data


def blocks(kind, count):
    """count empty deflate blocks of a kind, then the pixels stored."""
    bits = Bits()
    for _ in range(count):
        if kind == "fixed":
            bits.put(0, 1)
            bits.put(1, 2)
            bits.code(0, 7)
        else:
            bits.dynamic(0, 1)
            bits.code(1, 1)
    bits.stored(RAW)
    return png(b"\x78\x01" + bits.bytes() + struct.pack(">I", zlib.adler32(RAW)))


def flood(length):
    """One block of as many literal zeros as fit the size limit or the
    decoder's output, each with a code of the given length: a black glyph
    followed by data the decoder inflates and then ignores."""
    count = min((LIMIT - 200) * 8 // length, 652800)
    bits = Bits()
    bits.dynamic(1, length)
    bits.bits += [0] * (count * length)
    bits.code(1, length)
    check = zlib.adler32(bytes(count))
    return png(b"\x78\x01" + bits.bytes() + struct.pack(">I", check))


HOSTILE = [
    ("empty chunks", "256 KiB of empty ancillary chunks before the pixels",
     filled(0)),
    ("130-byte chunks", "256 KiB of 130-byte ancillary chunks", filled(118)),
    ("empty chunks, palette", "the same before a palette, which the size "
     "check walks too", filled(0, palette=True)),
    ("fixed blocks", "255 empty deflate blocks with fixed codes, the most "
     "that is read", blocks("fixed", 255)),
    ("dynamic blocks", "255 empty deflate blocks with their own codes",
     blocks("dynamic", 255)),
    ("literal flood, 3-bit codes", "652,800 literals (as many as the "
     "decoder's 1 MiB blocks take) from 245 KB", flood(3)),
    ("literal flood, 6-bit codes", "349,000 literals", flood(6)),
    ("literal flood, 12-bit codes", "174,000 literals with long codes",
     flood(12)),
    ("too many blocks", "207,000 empty fixed-code blocks (9 s before the "
     "block count was checked): refused",
     blocks("fixed", (LIMIT - 2700) * 8 // 10)),
]
