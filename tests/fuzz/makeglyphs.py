#!/usr/bin/python3
"""Writes the glyph files the glyph loader's fuzz target and tests start from.

tests/fuzz/corpus/glyph/ gets one 50 by 50 black-and-white picture in every
BMP and PNG layout the loader must read, each holding exactly the same
pixels (bmp-* and png-*), and cut-off or lying variants of them that it must
refuse (cut-* and lie-*). tests/fuzz/regressions/ gets glyph-* files that
once crashed, hung or fooled the loader, or are valid images in formats it
no longer reads; every one of them must be refused, but for glyph-loads-*,
which must now give the corpus's picture.

The files are committed; run this again only to change them:
    /usr/bin/python3 tests/fuzz/makeglyphs.py
Needs Pillow (Debian's python3-pil) for the JPEG, GIF and TGA files.
"""
import io
import os
import struct
import zlib

from PIL import Image

HERE = os.path.dirname(os.path.abspath(__file__))
CORPUS = os.path.join(HERE, "corpus", "glyph")
REGRESSIONS = os.path.join(HERE, "regressions")
SIZE = 50
# The largest glyph file the program reads, in bytes.
FILELIMIT = 256 << 10


def pixel(x, y):
    """The picture: diagonal bars and a block at the bottom left, so that a
    glyph read flipped, mirrored or shifted differs from it."""
    if x < 10 and y >= 40:
        return 0
    return 0 if (3 * x + 7 * y) % 13 < 5 else 255


GREY = [[pixel(x, y) for x in range(SIZE)] for y in range(SIZE)]


def bmp(bits, topdown=False, width=SIZE, height=SIZE, offset=None,
        colours=None, rows=SIZE, entries=None, index=None, os2=False):
    """A BMP with a 40-byte info header (os2: the 12-byte OS/2 header and
    3-byte palette entries), rows bottom-up unless topdown. entries cuts the
    palette short, and index(x, y) then gives each pixel's palette index."""
    palette = b""
    if bits <= 8:
        count = 1 << bits if entries is None else entries
        for i in range(count):
            v = i * 255 // ((1 << bits) - 1)
            palette += bytes((v, v, v)) if os2 else bytes((v, v, v, 0))
    data = b""
    order = range(SIZE) if topdown else range(SIZE - 1, -1, -1)
    for y in list(order)[:rows]:
        row = GREY[y]
        if index is not None:
            line = bytes(index(x, y) for x in range(SIZE))
        elif bits == 1:
            line = bytes(
                sum((row[x + k] // 255) << (7 - k) for k in range(8)
                    if x + k < SIZE) for x in range(0, SIZE, 8))
        elif bits == 4:
            line = bytes(((row[x] // 17) << 4) |
                         (row[x + 1] // 17 if x + 1 < SIZE else 0)
                         for x in range(0, SIZE, 2))
        elif bits == 8:
            line = bytes(row)
        elif bits == 16:
            line = b"".join(struct.pack("<H", 0x7FFF if v else 0)
                            for v in row)
        elif bits == 24:
            line = b"".join(bytes((v, v, v)) for v in row)
        else:
            line = b"".join(bytes((v, v, v, 255)) for v in row)
        data += line + b"\0" * (-len(line) % 4)
    start = 14 + (12 if os2 else 40) + len(palette)
    if os2:
        info = struct.pack("<IHHHH", 12, width, height, 1, bits)
    else:
        info = struct.pack("<IiiHHIIiiII", 40, width,
                           -height if topdown else height, 1, bits, 0,
                           len(data), 2835, 2835,
                           len(palette) // 4 if colours is None else colours,
                           0)
    header = b"BM" + struct.pack("<IHHI", start + len(data), 0, 0,
                                 start if offset is None else offset)
    return header + info + palette + data


def chunk(kind, body, length=None):
    return (struct.pack(">I", len(body) if length is None else length) +
            kind + body +
            struct.pack(">I", zlib.crc32(kind + body) & 0xFFFFFFFF))


def png(colour, depth, interlaced=False, rows=SIZE, raw=None, extra=b"",
        palette=bytes((0, 0, 0, 255, 255, 255))):
    """A PNG of the picture: colour type 0 grey, 3 palette or 6 RGBA; extra
    goes between the header chunk and the image data."""
    def line(y, xs):
        row = [GREY[y][x] for x in xs]
        if colour == 0 and depth == 16:
            return b"".join(struct.pack(">H", v * 257) for v in row)
        if colour == 0:
            return bytes(row)
        if colour == 6:
            return b"".join(bytes((v, v, v, 128 + x % 128))
                            for v, x in zip(row, xs))
        # Palette, 1 bit a pixel: index 1 is white.
        bits = [v // 255 for v in row] + [0] * 7
        return bytes(sum(bits[x + k] << (7 - k) for k in range(8))
                     for x in range(0, len(row), 8))

    if raw is None:
        raw = b""
        passes = ([(0, 0, 8, 8), (4, 0, 8, 8), (0, 4, 4, 8), (2, 0, 4, 4),
                   (0, 2, 2, 4), (1, 0, 2, 2), (0, 1, 1, 2)]
                  if interlaced else [(0, 0, 1, 1)])
        for x0, y0, dx, dy in passes:
            xs = list(range(x0, SIZE, dx))
            for y in list(range(y0, SIZE, dy))[:rows]:
                raw += b"\0" + line(y, xs)
    ihdr = struct.pack(">IIBBBBB", SIZE, SIZE, depth, colour, 0, 0,
                       1 if interlaced else 0)
    out = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", ihdr) + extra
    if colour == 3:
        out += chunk(b"PLTE", palette)
    return out + chunk(b"IDAT", zlib.compress(raw, 9)) + chunk(b"IEND", b"")


def pillow(fmt, mode="L", **options):
    image = Image.new(mode, (SIZE, SIZE))
    image.putdata([v for row in GREY for v in row])
    out = io.BytesIO()
    image.save(out, format=fmt, **options)
    return out.getvalue()


def write(folder, name, data):
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def main():
    os.makedirs(CORPUS, exist_ok=True)
    valid = {
        "bmp-1bit": bmp(1), "bmp-4bit": bmp(4), "bmp-8bit": bmp(8),
        "bmp-16bit": bmp(16), "bmp-24bit": bmp(24), "bmp-32bit": bmp(32),
        "bmp-24bit-topdown": bmp(24, topdown=True),
        "bmp-8bit-topdown": bmp(8, topdown=True),
        # The library sizes the palette from the data offset, not the count.
        "bmp-8bit-wrong-colour-count": bmp(8, colours=1 << 30),
        "png-grey": png(0, 8), "png-palette": png(3, 1),
        "png-grey16": png(0, 16), "png-rgba": png(6, 8),
        "png-interlaced": png(0, 8, interlaced=True),
        # A comment of 70,000 bytes: a chunk length over 16 bits.
        "png-chunk-over-64k": png(
            0, 8, extra=chunk(b"tEXt", b"Comment\0" + b"moltravy " * 7778)),
    }
    for name, data in valid.items():
        write(CORPUS, name, data)
    bad = {
        "cut-bmp24-half": valid["bmp-24bit"][:len(valid["bmp-24bit"]) // 2],
        "cut-bmp24-last-pixel": valid["bmp-24bit"][:-5],
        "cut-bmp8-header": valid["bmp-8bit"][:60],
        "cut-png-half": valid["png-grey"][:len(valid["png-grey"]) // 2],
        "cut-png-interlaced": valid["png-interlaced"][:-40],
        "lie-bmp24-offset": bmp(24, offset=1 << 20),
        "lie-bmp24-rows": bmp(24, rows=25),
        "lie-bmp24-wide": bmp(24, width=60),
        "lie-png-rows": png(0, 8, rows=25),
        "lie-png-interlaced-rows": png(0, 8, interlaced=True, rows=3),
    }
    for name, data in bad.items():
        write(CORPUS, name, data)

    # Refused formats: valid 50 by 50 pictures the loader once read.
    jpeg = pillow("JPEG", quality=90)
    flat = b"".join(bytes((v, v, v, 128)) for row in GREY for v in row)
    hdr = (b"#?RADIANCE\nFORMAT=32-bit_rle_rgbe\n\n-Y 50 +X 50\n")
    psd = (b"8BPS" + struct.pack(">H6xHIIHH", 1, 4, SIZE, SIZE, 8, 3) +
           struct.pack(">III", 0, 0, 0) + struct.pack(">H", 0) +
           bytes(v for _ in range(4) for row in GREY for v in row))
    pic = (struct.pack(">I", 0x5380F634) + struct.pack(">f", 3.71) +
           b"moltravy".ljust(80, b"\0") + b"PICT" +
           struct.pack(">HHfHH", SIZE, SIZE, 1.0, 3, 0) +
           bytes((0, 8, 2, 0xF0)) + bytes((2, 0, 0)))
    # A JPEG whose Huffman table counts 16 times 255 symbols, and one with
    # its quantisation tables taken out.
    huffman = (b"\xff\xd8\xff\xc4" + struct.pack(">H", 2 + 17 + 4080) +
               b"\x00" + bytes([255] * 16) + bytes(4080) + jpeg[2:])
    noquant, at = b"", 0
    while at < len(jpeg):
        if jpeg[at] == 0xFF and jpeg[at + 1] == 0xDB:
            at += 2 + struct.unpack(">H", jpeg[at + 2:at + 4])[0]
            continue
        if jpeg[at] == 0xFF and jpeg[at + 1] == 0xDA:
            noquant += jpeg[at:]
            break
        noquant += jpeg[at:at + 1]
        at += 1
    pgm = b"P5\n50 50\n255\n" + bytes(v for row in GREY for v in row)
    refused = {
        "glyph-jpeg": jpeg,
        "glyph-jpeg-5-bytes-hang": b"\xff\xd8\xff\xe0\xe0",
        "glyph-jpeg-huffman-overflow": huffman,
        "glyph-jpeg-no-quantisation": noquant,
        "glyph-gif": pillow("GIF"),
        "glyph-tga": pillow("TGA"),
        "glyph-psd-rgba": psd,
        "glyph-hdr": hdr + flat,
        "glyph-hdr-truncated-rle": hdr + bytes((2, 2, 0, 50, 128 + 20)),
        "glyph-pic-truncated": pic,
        "glyph-pgm": pgm,
        "glyph-pgm-half": pgm[:len(pgm) // 2],
        "glyph-ppm-16bit": (b"P6\n50 50\n65535\n" + bytes(2500 * 6)),
        # PNG: 4 MiB of zeros behind a 50 by 50 header, and a chunk that
        # declares a gigabyte.
        "glyph-png-bomb": png(0, 8, raw=bytes(4 << 20)),
        "glyph-png-gigabyte-chunk": (
            valid["png-grey"][:33] +
            chunk(b"IDAT", bytes(200), length=1 << 30)),
    }
    # Files that made the library paint its own uninitialised stack into
    # the glyph: a pixel index past the palette the file gave, a BMP whose
    # pixel data starts inside its header (no palette read at all), and OS/2
    # BMPs, whose palette the library counts four entries short (and whose
    # 1-bit rows it reads out of step when bytes follow them).
    def pastpalette(x, y):
        return 0 if GREY[y][x] else 1 + (7 * x + 13 * y) % 255

    refused.update({
        "glyph-bmp-index-past-palette": bmp(8, entries=1, index=pastpalette),
        "glyph-bmp-offset-in-header": bmp(8, offset=14 + 40 - 4),
        "glyph-bmp-os2-16-colours": bmp(4, os2=True),
        "glyph-bmp-os2-256-colours": bmp(8, os2=True),
        "glyph-bmp-os2-1bit": bmp(1, os2=True) + bytes(16),
    })
    for name, data in refused.items():
        write(REGRESSIONS, name, data)

    # Files that load, and must give the corpus picture: a palette PNG whose
    # black pixels use indices past its one white entry (they read as black,
    # never as stack memory), and a PNG of the largest size read, nearly all
    # of it empty chunks (once a second or more for a glyph set of them).
    raw = b"".join(b"\0" + bytes(pastpalette(x, y) for x in range(SIZE))
                   for y in range(SIZE))
    plain = png(0, 8)
    room = FILELIMIT - len(plain)
    empties = room // 12 - 1
    filler = (chunk(b"emPt", b"") * empties +
              chunk(b"emPt", bytes(room - 12 * empties - 12)))
    loads = {
        "glyph-loads-png-index-past-palette": png(
            3, 8, raw=raw, palette=bytes((255, 255, 255))),
        "glyph-loads-png-many-empty-chunks": png(0, 8, extra=filler),
    }
    for name, data in loads.items():
        write(REGRESSIONS, name, data)


if __name__ == "__main__":
    main()
