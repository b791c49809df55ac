#!/usr/bin/python3
"""The same picture made the way a user would without moltravytext: a short
Pillow script. Reads one line from standard input, brings it into the
script's alphabet, pastes the glyph files of the current folder into a grey
picture and saves it as a 24-bit BMP, pillowtext.bmp.
"""
import sys

from PIL import Image, ImageOps

DIGITS = dict(zip(b"0123456789", b"zmwtfvxsgn"))
NAMES = {c: chr(c) + ".bmp" for c in range(ord("a"), ord("z") + 1)}
NAMES.update({ord(" "): "_.bmp", ord("."): "_period.bmp",
              ord("?"): "_question.bmp"})


def normalise(line):
    mapped = bytearray()
    for b in line:
        if 65 <= b <= 90:
            b += 32
        mapped.append(DIGITS.get(b, ord(".") if b == ord("!") else b))
    kept = bytearray()
    for k, b in enumerate(mapped):
        before = mapped[k - 1] if k > 0 else b
        if b == ord(" ") and before in b".?":
            continue
        if 97 <= b <= 122 or b in b" .?":
            kept.append(b)
    return bytes(kept)


def main():
    line = sys.stdin.buffer.readline()
    if line.endswith(b"\n"):
        line = line[:-1]
        if line.endswith(b"\r"):
            line = line[:-1]
    line = line[:1998].split(b"\0")[0]
    n0 = len(line)
    message = normalise(line)
    positions = message + bytes(n0 - len(message))

    longest = sentences = run = 0
    for b in positions:
        run += 1
        longest = max(longest, run)
        if b in b".?":
            run, sentences = 0, sentences + 1
    if message and message[-1:] not in (b".", b"?"):
        sentences += 1
    width, height = 60 * sentences + 40, 50 * (longest + 1)

    picture = Image.new("L", (width, height), 255)
    picture.paste(0, (0, height - 25, width, height - 21))
    glyphs = {}
    column = cell = 0
    for p, b in enumerate(positions):
        if b:
            if b not in glyphs:
                glyph = Image.open(NAMES[b]).convert("L")
                glyphs[b] = (glyph, ImageOps.mirror(glyph))
            glyph = glyphs[b][1 if p % 2 == 0 else 0]
            picture.paste(glyph, (25 + 60 * column, height - 75 - 50 * cell))
        cell += 1
        if b in b".?":
            column, cell = column + 1, 0
    picture.convert("RGB").save("pillowtext.bmp")


if __name__ == "__main__":
    main()
