#!/usr/bin/python3
"""Reads the program's picture with an independent decoder, Pillow.

Makes a glyph set of its own with Pillow (8-bit grey BMP files, a PNG and an
RGB file among them), runs the program on a message in a temporary folder,
then opens moltravytext.bmp with Pillow and compares every pixel with the
picture the placement rules give.

Usage: pillowcheck.py PATH-TO-moltravytext
"""
import os
import random
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


def main():
    tool = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        grey = glyphs(folder)
        run = subprocess.run([tool], cwd=folder, input=b"Hi. Bye? Ok! 42\n",
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
    print("Pillow reads the picture: %d by %d, every pixel as expected"
          % (width, height))


if __name__ == "__main__":
    main()
