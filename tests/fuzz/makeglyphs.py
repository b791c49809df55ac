#!/usr/bin/python3
"""Writes the glyph files the glyph loader's fuzz target and tests start from.

tests/fuzz/corpus/glyph/ gets one 50 by 50 black-and-white picture in every
BMP and PNG layout the loader must read, some written by image tools
themselves, each holding exactly the same pixels (bmp-* and png-*); a
colour picture in the layouts whose colours need checking against another
decoder (shade-*); and cut-off or lying variants that it must refuse (cut-*
and lie-*). tests/fuzz/regressions/ gets glyph-* files that
once crashed, hung or fooled the loader, or are valid images in formats it
no longer reads; every one of them must be refused, but for glyph-loads-*,
which must now give the corpus's picture.

The files are committed; run this again only to change them:
    /usr/bin/python3 tests/fuzz/makeglyphs.py
Needs Pillow (Debian's python3-pil) for the JPEG, GIF and TGA files, and
ImageMagick, GraphicsMagick and netpbm (Debian's imagemagick, graphicsmagick
and netpbm) for the BMPs those tools write.
"""
import io
import os
import struct
import subprocess
import tempfile
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


def info(size, width, height, bits, compression=0, imagesize=0, colours=0,
         masks=()):
    """A BMP info header of size bytes: OS/2's 12-byte one, or a Windows
    one (or OS/2's 64-byte one), with the masks inside when it holds them
    (52 bytes and more, but for OS/2's)."""
    if size == 12:
        return struct.pack("<IHHHH", 12, width, height, 1, bits)
    out = struct.pack("<IiiHHIIiiII", size, width, height, 1, bits,
                      compression, imagesize, 2835, 2835, colours, 0)
    if size >= 52 and size != 64:
        out += b"".join(struct.pack("<I", m) for m in masks)
    return out[:size].ljust(size, b"\0")


def bmpfile(header, palette, data, offset=None, between=b""):
    """The file header, then header, palette, between and data; offset,
    when given, is the pixel offset the file header states."""
    start = 14 + len(header) + len(palette) + len(between)
    return (b"BM" + struct.pack("<IHHI", start + len(data), 0, 0,
                                start if offset is None else offset) +
            header + palette + between + data)


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
    header = info(12 if os2 else 40, width, -height if topdown else height,
                  bits, imagesize=len(data),
                  colours=len(palette) // 4 if colours is None else colours)
    return bmpfile(header, palette, data, offset)


def shade(x, y):
    """A colour picture of 240 colours whose red, green and blue all differ,
    so that a channel read from the wrong bits, or a palette read out of
    order, shows."""
    i = (7 * x + 13 * y + (x * y) % 5) % 240
    return ((i * 53) % 256, (i * 101 + 40) % 256, 255 - i)


SHADE = [[shade(x, y) for x in range(SIZE)] for y in range(SIZE)]
RGBGREY = [[(v, v, v) for v in row] for row in GREY]


def masked(picture, bits, masks, topdown=False):
    """The picture's rows, stored bottom first unless topdown, each pixel's
    red, green, blue (and an opaque alpha) cut to the bits of its mask."""
    data = b""
    for row in (picture if topdown else picture[::-1]):
        line = b""
        for rgb in row:
            value = 0
            for c, m in zip(rgb + (255,), masks):
                if m:
                    value |= (c >> (8 - bin(m).count("1"))) << (
                        (m & -m).bit_length() - 1)
            line += struct.pack("<H" if bits == 16 else "<I", value)
        data += line + b"\0" * (-len(line) % 4)
    return data


def masksbmp(size, bits, masks, picture=RGBGREY, between=b""):
    """A 16 or 32-bit BMP with bit fields under a header of size bytes
    (masks after a 40-byte one, inside a larger one)."""
    data = masked(picture, bits, masks)
    header = info(size, SIZE, SIZE, bits, 3, len(data), masks=masks)
    if size == 40:
        header += b"".join(struct.pack("<I", m) for m in masks[:3])
    return bmpfile(header, b"", data, between=between)


def runlength(rows, nibbles, skip=None, endearly=False):
    """Run-length data (RLE8, or RLE4 when nibbles) for rows of palette
    indices in the order they are stored. A run of 3 or more of one index
    (in RLE4, of two taking turns) is coded as a run, any other stretch
    pixel by pixel (in absolute mode, padded to 16-bit words, when 3 or
    longer). With skip, 4 or more pixels of that index are jumped over by a
    delta, the rest of a row by an end of line, and with endearly the rest
    of the picture by its end."""
    out = b""
    for y, row in enumerate(rows):
        x = 0
        width = len(row)

        def run(at):
            a = row[at]
            b = row[at + 1] if nibbles and at + 1 < width else a
            n = 1
            while at + n < width and n < 255 and row[at + n] == (
                    a if n % 2 == 0 else b):
                n += 1
            return n, (a << 4 | b) if nibbles else a

        def skipped(at):
            n = 0
            while at + n < width and n < 255 and row[at + n] == skip:
                n += 1
            return n

        while x < width:
            if skip is not None and set(row[x:]) == {skip}:
                if endearly and all(set(r) == {skip} for r in rows[y + 1:]):
                    return out + b"\0\1"
                break
            if skip is not None and skipped(x) >= 4:
                out += bytes((0, 2, skipped(x), 0))
                x += skipped(x)
                continue
            n, code = run(x)
            if n >= 3:
                out += bytes((n, code))
                x += n
                continue
            given = []
            while (x < width and len(given) < 255 and run(x)[0] < 3 and
                   (skip is None or skipped(x) < 4)):
                given.append(row[x])
                x += 1
            if len(given) < 3:
                out += b"".join(bytes((1, v << 4 | v if nibbles else v))
                                for v in given)
                continue
            if nibbles:
                packed = bytes(given[k] << 4 | (given[k + 1] if k + 1 <
                               len(given) else 0)
                               for k in range(0, len(given), 2))
            else:
                packed = bytes(given)
            out += bytes((0, len(given))) + packed + b"\0" * (len(packed) % 2)
        out += b"\0\0"
    return out + b"\0\1"


def rlebmp(nibbles, topdown=False, size=40, **options):
    """The corpus picture run-length coded, black as index 1 and white as
    index 0, so that the pixels a delta or an end skips are white."""
    rows = [[0 if v else 1 for v in row] for row in GREY]
    data = runlength(rows if topdown else rows[::-1], nibbles, **options)
    palette = bytes((255, 255, 255, 0, 0, 0, 0, 0))
    header = info(size, SIZE, -SIZE if topdown else SIZE, 4 if nibbles else 8,
                  2 if nibbles else 1, len(data), 2)
    return bmpfile(header, palette, data)


def reheader(file, size):
    """A BMP with a 40-byte header given a header of size bytes instead, the
    bytes past the first 40 zero."""
    offset, = struct.unpack("<I", file[10:14])
    grow = size - 40
    return (file[:2] + struct.pack("<IHHII", len(file) + grow, 0, 0,
                                   offset + grow, size) +
            file[18:54] + bytes(grow) + file[54:])


def gapped(file, between, colours=None, at=None):
    """A BMP with between placed before its pixels (at another place when
    at is given), the pixel offset moved past it; colours, when given, is
    the colour count the header states."""
    offset, = struct.unpack("<I", file[10:14])
    at = offset if at is None else at
    file = (file[:2] + struct.pack("<IHHI", len(file) + len(between), 0, 0,
                                   offset + len(between)) +
            file[14:at] + between + file[at:])
    if colours is not None:
        file = file[:46] + struct.pack("<I", colours) + file[50:]
    return file


def made(command, picture):
    """The file an image tool makes of picture (rows of grey values or of
    red, green and blue): command, run by the shell, reads the PNG {png}
    and writes {out}."""
    flat = [v for row in picture for v in row]
    image = Image.new("L" if isinstance(flat[0], int) else "RGB", (SIZE, SIZE))
    image.putdata(flat)
    with tempfile.TemporaryDirectory() as folder:
        source = os.path.join(folder, "in.png")
        out = os.path.join(folder, "out.bmp")
        image.save(source)
        subprocess.run(command.format(png=source, out=out), shell=True,
                       check=True, stderr=subprocess.DEVNULL)
        with open(out, "rb") as f:
            return f.read()


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


def lies():
    """BMPs whose headers lie, each once drawn: a compression code of 2^31 or
    more (taken as negative, so as none), pixels naming palette entries past
    the header's colour count with a gap after the palette (the gap's bytes
    taken as colours), bit-field masks that are equal, overlap or are not
    one run of bits, a colour count past what 8 bits can name (2^30),
    which most decoders refuse; and a run-length picture of another size
    than 50 by 50, which must be refused as such."""
    def compression(file, code):
        return file[:30] + struct.pack("<I", code) + file[34:]

    def pastcount(x, y):
        return 0 if GREY[y][x] else 5

    black = bytes((255, 255, 255, 0, 0, 0, 0, 0))
    wide = info(40, 1100, 1000, 8, 1, 2, 2)
    return {
        "lie-bmp8-compression-80000000": compression(bmp(8), 0x80000000),
        "lie-bmp24-56-compression-80000000": compression(
            reheader(bmp(24), 56), 0x80000000),
        "lie-bmp8-64-compression-ffffffff": compression(
            reheader(bmp(8), 64), 0xFFFFFFFF),
        "lie-bmp8-2-colours-gap-index-5": gapped(
            bmp(8, entries=2, index=pastcount), bytes(100), 2),
        "lie-bmp16-masks-equal-gap": masksbmp(
            40, 16, (0x7C00, 0x7C00, 0x7C00), between=b"\0\0"),
        "lie-bmp16-56-masks-overlapping": masksbmp(
            56, 16, (0xFC00, 0x7E0, 0x1F, 0)),
        "lie-bmp16-masks-two-runs": masksbmp(40, 16, (0xF001, 0x7E0, 0x1E)),
        "lie-bmp-rle8-1100x1000": bmpfile(wide, black, b"\0\1"),
        "lie-bmp8-colour-count-2-30": bmp(8, colours=1 << 30),
    }


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
        "png-grey": png(0, 8), "png-palette": png(3, 1),
        "png-grey16": png(0, 16), "png-rgba": png(6, 8),
        "png-interlaced": png(0, 8, interlaced=True),
        # A comment of 70,000 bytes: a chunk length over 16 bits.
        "png-chunk-over-64k": png(
            0, 8, extra=chunk(b"tEXt", b"Comment\0" + b"moltravy " * 7778)),
    }
    # BMPs as image tools write them that the library cannot read as they
    # are: run-length coded (ImageMagick's and GraphicsMagick's default for
    # a grey picture, with runs into each row's padding; by hand, with every
    # escape, RLE4 and rows stored top first), OS/2's headers, a 52 or
    # 56-byte header with its masks inside, and bytes before the pixels.
    # The shade-* files hold a colour picture instead, which
    # tests/pillowcheck.py compares with Pillow's reading.
    profile = b"ICC profile, as a V5 header may place it" * 8
    v5 = gapped(reheader(bmp(24), 124), profile)
    v5 = v5[:70] + b"DEBM" + v5[74:126] + struct.pack("<II", 124,
                                                      len(profile)) + v5[134:]
    netpbm = "pngtopnm {png} | ppmtobmp -os2 %s >{out}"
    greypalette = b"".join(bytes((v, v, v, 0)) for v in range(16)) * 16
    valid.update({
        "bmp-rle8-imagemagick": made("convert {png} -compress RLE {out}",
                                     GREY),
        "bmp-rle8-graphicsmagick": made("gm convert {png} {out}", GREY),
        "bmp-rle8-every-escape": rlebmp(False, skip=0),
        "bmp-rle4": rlebmp(True, size=108),
        "bmp-rle4-topdown-early-end": rlebmp(True, topdown=True, skip=0,
                                             endearly=True),
        "bmp-os2-8bit-imagemagick": made("convert {png} BMP2:{out}", GREY),
        "bmp-os2-1bit-netpbm": made(netpbm % "", GREY),
        "bmp-os2-64-byte-header": reheader(bmp(8), 64),
        "bmp-56-16bit": masksbmp(56, 16, (0xF800, 0x7E0, 0x1F, 0)),
        "bmp-56-32bit-alpha": masksbmp(
            56, 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000)),
        "bmp-52-16bit": masksbmp(52, 16, (0x7C00, 0x3E0, 0x1F)),
        "bmp-24bit-gap-2": gapped(bmp(24), b"\0\0"),
        "bmp-24bit-colour-table": gapped(bmp(24), greypalette[:64], 16),
        "bmp-v5-profile-before-pixels": v5,
        "bmp-8bit-full-palette-gap": gapped(bmp(8), bytes(100)),
        "bmp-16bit-masks-gap": masksbmp(40, 16, (0xF800, 0x7E0, 0x1F),
                                        between=b"\0\0"),
        "shade-rle8-imagemagick": made("convert {png} -compress RLE {out}",
                                       SHADE),
        "shade-os2-8bit-netpbm": made(netpbm % "", SHADE),
        "shade-os2-24bit-netpbm": made(netpbm % "-bpp 24", SHADE),
        "shade-56-16bit-565": masksbmp(56, 16, (0xF800, 0x7E0, 0x1F, 0),
                                       SHADE),
        "shade-56-16bit-1555": masksbmp(
            56, 16, (0x7C00, 0x3E0, 0x1F, 0x8000), SHADE),
        "shade-56-32bit-8888": masksbmp(
            56, 32, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), SHADE),
        "shade-52-32bit": masksbmp(52, 32, (0xFF0000, 0xFF00, 0xFF), SHADE),
    })
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
    bad.update(lies())
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
    # the glyph: a pixel index past the palette the file gave, and a BMP
    # whose pixel data starts inside its header (no palette read at all).
    def pastpalette(x, y):
        return 0 if GREY[y][x] else 1 + (7 * x + 13 * y) % 255

    refused.update({
        "glyph-bmp-index-past-palette": bmp(8, entries=1, index=pastpalette),
        "glyph-reads-bmp-offset-in-header": bmp(8, offset=14 + 40 - 4),
    })
    for name, data in refused.items():
        write(REGRESSIONS, name, data)

    # Files that load, and must give the corpus picture: a palette PNG whose
    # black pixels use indices past its one white entry (they read as black,
    # never as stack memory), a PNG of the largest size read, nearly all of
    # it empty chunks (once a second or more for a glyph set of them), and
    # OS/2 BMPs.
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
        # OS/2 BMPs, whose palette the library counts four entries short,
        # so that four colours came from its stack, and whose 1-bit rows it
        # read out of step when bytes followed them: refused once, now read
        # after their rewrite.
        "glyph-loads-bmp-os2-16-colours": bmp(4, os2=True),
        "glyph-loads-bmp-os2-256-colours": bmp(8, os2=True),
        "glyph-loads-bmp-os2-1bit": bmp(1, os2=True) + bytes(16),
    }
    for name, data in loads.items():
        write(REGRESSIONS, name, data)


if __name__ == "__main__":
    main()
