"""Glyph files built to make a run as slow as they can: each is a 50 by 50
PNG or run-length BMP, at most as large as the program reads (256 KiB),
that makes the image library or the program's own checks and rewrite do as
much work as the file's size allows. bench.py --glyphsets times a run on a
set of 29 copies of each.

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
# The most blocks with codes of their own the program reads in a PNG.
MAXBLOCKS = 1024
# The image data a 50 by 50 grey picture needs: each row and its filter byte.
PICTURE = 50 * 51
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

    def full(self):
        """An empty dynamic block that codes every literal (in 9 bits) and
        every distance (in 5): the most code tables cost to build."""
        self.put(0, 1)
        self.put(2, 2)
        self.put(29, 5)
        self.put(29, 5)
        self.put(15, 4)
        codes = {5: 0, 9: 1, 16: 2}          # 2-bit codes for the lengths
        for symbol in ORDER:
            self.put(2 if symbol in codes else 0, 3)
        for length, count in ((9, 286), (5, 30)):
            self.code(codes[length], 2)
            left = count - 1
            while left >= 3:                 # 16: the last length again
                n = min(6, left)
                self.code(codes[16], 2)
                self.put(n - 3, 2)
                left -= n
            for _ in range(left):
                self.code(codes[length], 2)
        self.code(256, 9)                    # the end code

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
        elif kind == "full":
            bits.full()
        else:
            bits.dynamic(0, 1)
            bits.code(1, 1)
    bits.stored(RAW)
    return png(b"\x78\x01" + bits.bytes() + struct.pack(">I", zlib.adler32(RAW)))


def flood(length, count=None):
    """One block of count literal zeros (by default as many as fit the size
    limit or the decoder's output), each with a code of the given length: a
    black glyph, followed, past PICTURE bytes, by data the decoder would
    inflate and then ignore."""
    if count is None:
        count = min((LIMIT - 200) * 8 // length, 652800)
    bits = Bits()
    bits.dynamic(1, length)
    bits.bits += [0] * (count * length)
    bits.code(1, length)
    check = zlib.adler32(bytes(count))
    return png(b"\x78\x01" + bits.bytes() + struct.pack(">I", check))


def rle(runs, width=50, height=50):
    """An RLE8 BMP of a grey palette with the given run-length data."""
    palette = b"".join(bytes((v, v, v, 0)) for v in range(256))
    header = makeglyphs.info(40, width, height, 8, 1, len(runs), 256)
    return makeglyphs.bmpfile(header, palette, runs)


def picture():
    """The corpus picture as RLE8 runs, a run per pixel, each row's last
    ending at its padded edge, the last at the picture's last pixel."""
    out = b""
    for row in makeglyphs.GREY[::-1]:
        out += b"".join(bytes((1, v)) for v in row) + bytes((2, 255, 0, 0))
    return out


def escapes():
    """256 KiB of no-op escapes (moves by nothing) before the picture."""
    tail = picture() + b"\0\1"
    count = (LIMIT - 1078 - len(tail)) // 4
    return rle(b"\0\2\0\0" * count + tail)


def largest():
    """The largest picture the program unpacks, 1 MiB of pixels, runs of
    255 to the edge of every row: refused as the wrong size."""
    row = bytes((255, 7)) * 4 + bytes((4, 7)) + b"\0\0"
    return rle(row * 1024 + b"\0\1", 1024, 1024)


HOSTILE = [
    ("empty chunks", "256 KiB of empty ancillary chunks before the pixels",
     filled(0)),
    ("130-byte chunks", "256 KiB of 130-byte ancillary chunks", filled(118)),
    ("empty chunks, palette", "the same before a palette, which the size "
     "check walks too", filled(0, palette=True)),
    ("fixed blocks", "%d empty deflate blocks with fixed codes, the most "
     "that is read" % MAXBLOCKS, blocks("fixed", MAXBLOCKS)),
    ("dynamic blocks", "%d empty deflate blocks with their own codes"
     % MAXBLOCKS, blocks("dynamic", MAXBLOCKS)),
    ("full dynamic blocks", "%d empty deflate blocks that code every "
     "literal and distance" % MAXBLOCKS, blocks("full", MAXBLOCKS)),
    ("full dynamic blocks, one too many", "%d such blocks: refused"
     % (MAXBLOCKS + 1), blocks("full", MAXBLOCKS + 1)),
    ("literal flood to the picture's size", "%d literals with 15-bit codes, "
     "as many as the picture needs" % PICTURE, flood(15, PICTURE)),
    ("literal flood, 3-bit codes", "652,800 literals from 245 KB, the "
     "picture's then more: refused", flood(3)),
    ("literal flood, 6-bit codes", "349,000 literals: refused", flood(6)),
    ("literal flood, 12-bit codes", "174,000 literals with long codes: "
     "refused", flood(12)),
    ("too many blocks", "one block more than is read: refused",
     blocks("fixed", MAXBLOCKS + 1)),
    ("fixed blocks filling the file", "207,000 empty fixed-code blocks (9 s "
     "before blocks were counted): refused",
     blocks("fixed", (LIMIT - 2700) * 8 // 10)),
    ("RLE escapes", "an RLE8 BMP: 65,000 moves by nothing, then a run a "
     "pixel", escapes()),
    ("RLE runs to the edge", "an RLE8 BMP: a run a pixel, each row's last to "
     "its padded edge, the last to the picture's last pixel", rle(
         picture() + b"\0\1")),
    ("largest RLE picture", "1024 by 1024 pixels unpacked, runs of 255 to "
     "every row's edge: refused as the wrong size", largest()),
]
