#!/usr/bin/python3
"""Checks the program against an independent decoder, Pillow, both ways.

1. Makes a glyph set of its own with Pillow (8-bit grey BMP files, a PNG and
   an RGB file among them), runs the program on a message in a temporary
   folder, then opens moltravytext.bmp with Pillow and compares every pixel
   with the picture the placement rules give.
2. For every glyph file given (the valid files of the glyph corpus), runs
   the program on a folder of 29 copies of it and compares the glyph it
   painted with Pillow's reading of the file, reduced to grey by the image
   library's rule, (77 R + 150 G + 29 B) >> 8, alpha dropped; 16-bit
   channels are taken by their high byte, as the library takes them. Pillow
   widens a 16-bit BMP's 5 or 6-bit channels by v * 255 // 31 (or 63), the
   library by repeating the bits (v << 3 | v >> 2), so those may differ by
   one grey level. Pillow reads no 52 or 56-byte BMP header: such a file is
   read as the same file with the 108-byte header that holds the same masks.
   A file Pillow refuses outright, or misreads (RLE4), is named, not
   compared: the glyph loader's tests compare those with their picture.

Usage: pillowcheck.py PROGRAM [GLYPHFILE...]
PROGRAM is the path of moltravytext, after an emulator to run it with when
it is built for another machine ("/usr/bin/qemu-aarch64 build/moltravytext").
"""
import io
import os
import random
import shlex
import shutil
import struct
import subprocess
import sys
import tempfile

from PIL import Image

SYMBOLS = "abcdefghijklmnopqrstuvwxyz .?"
NAMES = [c + ".bmp" for c in "abcdefghijklmnopqrstuvwxyz"] + [
    "_.bmp", "_period.bmp", "_question.bmp"]


def glyphs(folder):
    """Writes 29 noise glyphs; returns each as the grey bytes it stands for."""
    rng = random.Random(29)
    grey = []
    for i, name in enumerate(NAMES):
        pixels = bytes(rng.randrange(256) for _ in range(2500))
        path = os.path.join(folder, name)
        if i == 28:
            # RGB with equal channels: the loader's grey rule gives back the
            # same values.
            img = Image.frombytes("L", (50, 50), pixels).convert("RGB")
            img.save(path, format="BMP")
        elif i == 3:
            Image.frombytes("L", (50, 50), pixels).save(path, format="PNG")
        else:
            Image.frombytes("L", (50, 50), pixels).save(path, format="BMP")
        grey.append(pixels)
    return grey


def expected(message, n0, longest, sentences, grey):
    width, height = 60 * sentences + 40, 50 * (longest + 1)
    picture = bytearray([255]) * (width * height)
    for row in range(height - 25, height - 21):
        picture[row * width:(row + 1) * width] = bytes(width)
    column = cell = 0
    for p in range(n0):
        c = message[p] if p < len(message) else ""
        if c:
            g = grey[SYMBOLS.index(c)]
            top, left = height - 75 - 50 * cell, 25 + 60 * column
            for cy in range(50):
                for cx in range(50):
                    gx = 49 - cx if p % 2 == 0 else cx
                    picture[(top + cy) * width + left + cx] = g[cy * 50 + gx]
        cell += 1
        if c in (".", "?"):
            column, cell = column + 1, 0
    return width, height, bytes(picture)


def pillowgrey(path):
    """The file's 2500 grey bytes as Pillow reads it, by the library's rule;
    and whether it is a 16-bit BMP, whose channels may round otherwise."""
    data = open(path, "rb").read()
    bmp16 = data[:2] == b"BM" and struct.unpack("<H", data[28:30])[0] == 16
    header = struct.unpack("<I", data[14:18])[0] if data[:2] == b"BM" else 0
    if header >= 40 and struct.unpack("<I", data[30:34])[0] == 2:
        # Pillow 9 reads an RLE4 run of an odd number of given pixels a
        # byte short, and loses its place.
        raise OSError("RLE4")
    if header in (52, 56):
        # The 108-byte header holds the masks at the same place.
        grow = 108 - header
        offset = struct.unpack("<I", data[10:14])[0] + grow
        data = (data[:10] + struct.pack("<II", offset, 108) + data[18:14 +
                header] + bytes(grow) + data[14 + header:])
    image = Image.open(io.BytesIO(data))
    if image.mode in ("I", "I;16", "I;16B"):
        return bytes(v >> 8 for v in image.getdata()), bmp16
    rgb = image.convert("RGB").getdata()
    return bytes((77 * r + 150 * g + 29 * b) >> 8 for r, g, b in rgb), bmp16


def glyphcheck(tool, path):
    """Runs the program on 29 copies of the glyph file; returns what is
    wrong with the glyph it painted, or None."""
    with tempfile.TemporaryDirectory() as folder:
        for name in NAMES:
            shutil.copyfile(path, os.path.join(folder, name))
        run = subprocess.run(tool, cwd=folder, input=b"ab\n",
                             capture_output=True, check=False)
        if run.returncode != 0:
            return "not read: %r" % run.stdout[-40:]
        # "b", at position 1, is painted as it is, in the second cell from
        # the bottom of the one column: rows 25 to 74, columns 25 to 74.
        picture = Image.open(os.path.join(folder, "moltravytext.bmp"))
        cell = picture.convert("L").crop((25, 25, 75, 75)).tobytes()
    try:
        want, bmp16 = pillowgrey(path)
    except OSError:
        return "unread"
    worst = max(abs(a - b) for a, b in zip(cell, want))
    if worst > (1 if bmp16 else 0):
        return "differs from Pillow by up to %d grey levels" % worst
    return None


def main():
    tool = shlex.split(sys.argv[1])
    wrong = 0
    unread = []
    for path in sys.argv[2:]:
        why = glyphcheck(tool, path)
        if why == "unread":
            unread.append(os.path.basename(path))
        elif why is not None:
            print("%s: %s" % (os.path.basename(path), why))
            wrong += 1
    if wrong:
        sys.exit("%d of %d glyph files differ from Pillow's reading"
                 % (wrong, len(sys.argv) - 2))
    with tempfile.TemporaryDirectory() as folder:
        grey = glyphs(folder)
        run = subprocess.run(tool, cwd=folder, input=b"Hi. Bye? Ok! 42\n",
                             capture_output=True, check=False)
        if run.returncode != 0:
            sys.exit("program failed: %r" % run.stdout)
        if not run.stdout.endswith(b"\n3\n"):
            sys.exit("closing line is not 3: %r" % run.stdout[-20:])
        width, height, want = expected("hi.bye?ok.fw", 15, 5, 4, grey)
        img = Image.open(os.path.join(folder, "moltravytext.bmp"))
        if img.format != "BMP" or img.mode != "RGB":
            sys.exit("not a 24-bit BMP: %s %s" % (img.format, img.mode))
        if img.size != (width, height):
            sys.exit("size %r, not %r" % (img.size, (width, height)))
        red, green, blue = img.split()
        if red.tobytes() != green.tobytes() or red.tobytes() != blue.tobytes():
            sys.exit("pixels are not grey")
        got = red.tobytes()
        wrong = sum(1 for a, b in zip(got, want) if a != b)
        if wrong:
            sys.exit("%d pixels differ" % wrong)
    print("Pillow reads the picture: %d by %d, every pixel as expected; "
          "the program reads %d glyph files as Pillow does"
          % (width, height, len(sys.argv) - 2 - len(unread)))
    if unread:
        print("Pillow cannot read, or misreads: %s" % " ".join(unread))


if __name__ == "__main__":
    main()
