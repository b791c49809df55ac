#!/usr/bin/python3
"""Makes the README's pictures from the program's own output.

Usage: pictures.py PROGRAM GLYPHFOLDER OUTFOLDER

Writes OUTFOLDER/specimen.png (each glyph of the set beside its character,
and mirrored, as every second glyph of a message is drawn) and
OUTFOLDER/sample.png (the program's picture of a sample message, as PNG).
"""
import os
import shutil
import subprocess
import sys
import tempfile

from PIL import Image, ImageDraw, ImageFont, ImageOps

NAMES = [c + ".bmp" for c in "abcdefghijklmnopqrstuvwxyz"] + [
    "_.bmp", "_period.bmp", "_question.bmp"]
LABELS = list("abcdefghijklmnopqrstuvwxyz") + ["space", ".", "?"]
SAMPLE = b"Hello, World! Is this the moltravy script? It is.\n"


def font(size):
    try:
        return ImageFont.truetype("DejaVuSans.ttf", size)
    except OSError:
        return ImageFont.load_default()


def specimen(glyphs, out):
    columns, cellw, cellh = 6, 170, 70
    rows = (len(NAMES) + columns - 1) // columns
    sheet = Image.new("L", (columns * cellw + 20, rows * cellh + 60), 255)
    draw = ImageDraw.Draw(sheet)
    draw.text((20, 15), "The moltravy script: each glyph, then mirrored",
              font=font(18), fill=0)
    for i, (name, label) in enumerate(zip(NAMES, LABELS)):
        glyph = Image.open(os.path.join(glyphs, name)).convert("L")
        x = 20 + (i % columns) * cellw
        y = 50 + (i // columns) * cellh
        draw.text((x, y + 14), label, font=font(18 if len(label) == 1 else 13),
                  fill=0)
        draw.rectangle((x + 49, y - 1, x + 100, y + 50), outline=190)
        sheet.paste(glyph, (x + 50, y))
        draw.rectangle((x + 105, y - 1, x + 156, y + 50), outline=190)
        sheet.paste(ImageOps.mirror(glyph), (x + 106, y))
    sheet.save(out, optimize=True)


def sample(program, glyphs, out):
    with tempfile.TemporaryDirectory() as work:
        for name in NAMES:
            shutil.copy(os.path.join(glyphs, name), work)
        run = subprocess.run([os.path.abspath(program)], cwd=work,
                             input=SAMPLE, capture_output=True, check=False)
        if run.returncode != 0:
            sys.exit("the program failed: %r" % run.stdout)
        Image.open(os.path.join(work, "moltravytext.bmp")).convert("L").save(
            out, optimize=True)


def main():
    program, glyphs, folder = sys.argv[1:4]
    specimen(glyphs, os.path.join(folder, "specimen.png"))
    sample(program, glyphs, os.path.join(folder, "sample.png"))


if __name__ == "__main__":
    main()
