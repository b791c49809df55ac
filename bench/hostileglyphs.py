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
# The most compressed image data zlib is given for one PNG.
STREAMLIMIT = 64 << 10
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

    def header(self, final, literals, distances):
        """A dynamic block header for the given code lengths of the literals
        and lengths (257 to 286) and of the distances (1 to 30), each a code
        zlib takes; returns the literals' codes, to write symbols with."""
        self.put(final, 1)
        self.put(2, 2)
        self.put(len(literals) - 257, 5)
        self.put(len(distances) - 1, 5)
        self.put(15, 4)
        # The lengths as code length symbols: runs of zeros as 17 and 18,
        # runs of another length as 16 after its first.
        symbols, values, i = [], literals + distances, 0
        while i < len(values):
            run = 1
            while i + run < len(values) and values[i + run] == values[i]:
                run += 1
            if values[i] == 0 and run >= 3:
                run = min(run, 138)
                symbols.append((18, run - 11, 7) if run >= 11
                               else (17, run - 3, 3))
            elif values[i] != 0 and run >= 4:
                run = min(run, 7)
                symbols += [(values[i], 0, 0), (16, run - 4, 2)]
            else:
                run = 1
                symbols.append((values[i], 0, 0))
            i += run
        used = sorted({s[0] for s in symbols})
        lengths = [0] * 19
        for symbol, length in zip(used, complete(len(used))):
            lengths[symbol] = length
        for symbol in ORDER:
            self.put(lengths[symbol], 3)
        codes = canonical(lengths)
        for symbol, extra, n in symbols:
            self.code(codes[symbol], lengths[symbol])
            self.put(extra, n)
        return canonical(literals)

    def bytes(self):
        bits = self.bits + [0] * (-len(self.bits) % 8)
        return bytes(sum(bits[i + k] << k for k in range(8))
                     for i in range(0, len(bits), 8))


def complete(n):
    """Code lengths for n symbols (2 or more) that fill their code exactly,
    as zlib wants: the shortest lengths that do."""
    longest = max(1, (n - 1).bit_length())
    shorter = (1 << longest) - n
    return [longest - 1] * shorter + [longest] * (n - shorter)


def canonical(lengths):
    """The canonical Huffman codes of the given lengths, by symbol."""
    count = [0] * 16
    for length in lengths:
        count[length] += 1
    count[0] = 0
    code, nxt = 0, [0] * 16
    for length in range(1, 16):
        code = (code + count[length - 1]) << 1
        nxt[length] = code
    codes = [0] * len(lengths)
    for symbol, length in enumerate(lengths):
        if length:
            codes[symbol] = nxt[length]
            nxt[length] += 1
    return codes


def skewed(length):
    """Literal lengths in which literal 0 and the end code have codes of the
    given length (1 to 15) and literals 1 to length - 1 the shorter ones:
    a code zlib takes, whose literal 0 costs length bits."""
    lengths = [0] * 257
    lengths[0] = lengths[256] = length
    for k in range(1, length):
        lengths[k] = k
    return lengths


# Literal and distance lengths that code every symbol: the most a code
# table costs to build.
FULL = (([8] * 226 + [9] * 60), ([4] * 2 + [5] * 28))


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


def zlibstream(bits, inflated):
    return (b"\x78\x01" + bits.bytes() +
            struct.pack(">I", zlib.adler32(inflated)))


def blocks(kind, count=None):
    """count empty deflate blocks of a kind (by default as many as the
    stream limit takes with the pixels), then the pixels stored."""
    if count is None:
        # Every block takes the same bits: as many as fit beside the pixels,
        # the zlib header and Adler-32, and a byte of padding.
        room = (STREAMLIMIT - len(RAW) - 5 - 6 - 1) * 8
        count = room // emptyblock(kind, Bits())
    bits = Bits()
    for _ in range(count):
        emptyblock(kind, bits)
    bits.stored(RAW)
    return png(zlibstream(bits, RAW))


def emptyblock(kind, bits):
    """An empty deflate block of a kind onto bits; returns its length in
    bits."""
    before = len(bits.bits)
    if kind == "fixed":
        bits.put(0, 1)
        bits.put(1, 2)
        bits.code(0, 7)
    else:
        literals, distances = FULL if kind == "full" else (skewed(1), [1])
        codes = bits.header(0, literals, distances)
        bits.code(codes[256], literals[256])
    return len(bits.bits) - before


def idat(data):
    """The image data of a PNG that png() made."""
    return data[8 + 25 + 8:-12 - 4]


def flood(length, count=None):
    """One block of count literal zeros (by default as many as fit the
    stream limit), each with a code of the given length: a black glyph,
    followed, past PICTURE bytes, by data that is inflated to its end."""
    if count is None:
        count = (STREAMLIMIT - 300) * 8 // length
    bits = Bits()
    literals = skewed(length)
    codes = bits.header(1, literals, [1])
    zero = [(codes[0] >> i) & 1 for i in range(length - 1, -1, -1)]
    bits.bits += zero * count
    bits.code(codes[256], length)
    return png(zlibstream(bits, bytes(count)))


def copies(count):
    """One block of fixed codes: a literal zero, then count copies of 258
    bytes from one back."""
    bits = Bits()
    bits.put(1, 1)
    bits.put(1, 2)
    bits.code(0x30, 8)
    for _ in range(count):
        bits.code(0xC5, 8)
        bits.code(0, 5)
    bits.code(0, 7)
    return png(zlibstream(bits, bytes(1 + 258 * count)))


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


# 1 MiB, the most a PNG's image data may inflate to.
MOST = 1 << 20

HOSTILE = [
    ("empty chunks", "256 KiB of empty ancillary chunks before the pixels, "
     "each one's CRC checked", filled(0)),
    ("130-byte chunks", "256 KiB of 130-byte ancillary chunks", filled(118)),
    ("empty chunks, palette", "the same before a palette", filled(0,
                                                                  palette=True)),
    ("fixed blocks to the limit", "50,000 empty fixed-code blocks, "
     "which build no tables, in 64 KiB: read", blocks("fixed")),
    ("fixed blocks filling the file", "207,000 such blocks: refused at 64 "
     "KiB", blocks("fixed", (LIMIT - 2700) * 8 // 10)),
    ("dynamic blocks", "5,359 empty deflate blocks with their own codes, as "
     "many as 64 KiB holds: read", blocks("dynamic")),
    ("full dynamic blocks", "1,213 empty deflate blocks that code every "
     "literal and distance, as many as 64 KiB holds: read", blocks("full")),
    ("full dynamic blocks filling the file", "4,800 such blocks: refused at "
     "64 KiB", blocks("full", (LIMIT - 3000) // 54)),
    ("literal flood, 1-bit codes", "522,000 literals in 64 KiB, all "
     "inflated to the stream's end: read", flood(1)),
    ("literal flood past 1 MiB", "1 MiB and 100 bytes of literals with "
     "1-bit codes, past 64 KiB: refused", flood(1, MOST + 100)),
    ("literal flood, 15-bit codes", "35,000 literals with the longest "
     "codes: read", flood(15)),
    ("copies to 1 MiB", "4,064 copies of 258 bytes: read",
     copies((MOST - 1) // 258)),
    ("RLE escapes", "an RLE8 BMP: 65,000 moves by nothing, then a run a "
     "pixel", escapes()),
    ("RLE runs to the edge", "an RLE8 BMP: a run a pixel, each row's last to "
     "its padded edge, the last to the picture's last pixel", rle(
         picture() + b"\0\1")),
    ("largest RLE picture", "1024 by 1024 pixels unpacked, runs of 255 to "
     "every row's edge: refused as the wrong size", largest()),
]
