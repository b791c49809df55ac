// glyphgen: draws the moltravy script, the default glyph set of moltravytext.
//
// Usage: glyphgen FOLDER
//
// Writes the program's glyph files, under the names and for the characters
// of its own glyph table (glyphs/glyphs.h), into FOLDER as 50 by 50 grey
// BMP files: uncompressed, 8 bits a pixel with a grey palette, which the
// program reads in fewer instructions than 24-bit ones and which are half
// their size. Exit status 0 when all were written, 1 otherwise, with one line
// saying which file failed.
//
// The script: every letter stands on a spine, a vertical stroke near the
// left edge that ends at the baseline in a small foot curling to the left.
// What tells letters apart is drawn to the right of the spine: bars at three
// heights, bowls, diagonals, a ring, a second stem and dots. Since the spine
// is always on the left, no letter is its own mirror image or another's,
// which matters here: every second glyph of a message is drawn mirrored.
// The full stop and the question mark carry no spine; they sit low and to
// the left, so they are marks, and lopsided ones.
//
// The glyphs are described here as strokes on the 50 by 50 grid and drawn
// with anti-aliased edges: dark ink on white, a margin of 6 pixels or more.
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "glyphs/byteorder.h"
#include "glyphs/glyphs.h"
#include "render/raster.h"

// The strokes below are placed on a 50 by 50 grid.
static_assert(glyphsize == 50, "the designs are drawn for 50 by 50 glyphs");

// A stroke: a line from (a, b) to (c, d); an arc around (a, b) of radius c
// from angle d to angle e (degrees, clockwise from the right, since y grows
// downwards; whole quarter turns); or a filled dot around (a, b) of radius c.
struct stroke {
    char kind; // 'l' line, 'a' arc, 'd' dot
    float a, b, c, d, e;
};

const float inkwidth = 4.2f;
const int maxstrokes = 6;

// The spine and its foot, shared by every letter.
static const stroke spine[2] = {
    {'l', 15, 8, 15, 37, 0},
    {'a', 11, 37, 4, 0, 180},
};

// The marks that tell letters apart, by name.
static const stroke topbar = {'l', 15, 9, 37, 9, 0};
static const stroke midbar = {'l', 15, 23, 32, 23, 0};
static const stroke lowbar = {'l', 15, 37, 37, 37, 0};
static const stroke topbowl = {'a', 15, 16, 7, -90, 90};
static const stroke lowbowl = {'a', 15, 30, 7, -90, 90};
static const stroke falling = {'l', 15, 9, 37, 37, 0};
static const stroke rising = {'l', 15, 37, 37, 9, 0};
static const stroke ring = {'a', 29, 23, 6.5f, 0, 360};
static const stroke stem = {'l', 37, 9, 37, 37, 0};
static const stroke highdot = {'d', 31, 13, 4, 0, 0};
static const stroke lowdot = {'d', 31, 31, 4, 0, 0};
static const stroke halfstem = {'l', 37, 23, 37, 37, 0};
static const stroke none = {0, 0, 0, 0, 0, 0};

struct glyphdesign {
    char character;
    int hasspine;
    stroke strokes[maxstrokes];
};

static const glyphdesign designs[] = {
    {'a', 1, {topbowl, lowdot, none}},
    {'b', 1, {topbar, lowbowl, none}},
    {'c', 1, {midbar, highdot, none}},
    {'d', 1, {falling, none}},
    {'e', 1, {ring, none}},
    {'f', 1, {topbar, lowdot, none}},
    {'g', 1, {rising, none}},
    {'h', 1, {lowbar, highdot, none}},
    {'i', 1, {midbar, none}},
    {'j', 1, {topbowl, lowbar, none}},
    {'k', 1, {topbar, falling, none}},
    {'l', 1, {stem, midbar, none}},
    {'m', 1, {lowbowl, highdot, none}},
    {'n', 1, {topbar, stem, none}},
    {'o', 1, {ring, lowbar, none}},
    {'p', 1, {rising, midbar, none}},
    {'q', 1, {topbowl, lowbowl, none}},
    {'r', 1, {falling, lowbar, none}},
    {'s', 1, {topbar, ring, none}},
    {'t', 1, {lowbar, none}},
    {'u', 1, {stem, none}},
    {'v', 1, {halfstem, topbowl, none}},
    {'w', 1, {topbar, midbar, lowdot, none}},
    {'x', 1, {rising, falling, none}},
    {'y', 1, {midbar, halfstem, highdot, none}},
    {'z', 1, {stem, lowbowl, none}},
    {' ', 0, {none}},
    {'.', 0, {{'d', 17, 36, 4.5f, 0, 0}, {'l', 13, 41, 21, 41, 0}, none}},
    {'?',
     0,
     {{'a', 23, 17, 7, 180, 450},
      {'l', 23, 24, 23, 30, 0},
      {'d', 23, 38, 3, 0, 0},
      {'l', 16, 38, 18, 38, 0},
      none}},
};

// The drawing takes no sine, cosine, arc tangent or hypot, whose last bits
// differ from one C library to the next, only arithmetic and square roots,
// which IEEE rounds the same everywhere: the script is the same bytes on
// every system. Arcs therefore start and end on quarter turns.

// length: the distance from the origin to (x, y).
static float length(float x, float y) {
    return sqrtf(x * x + y * y);
}

// quarterturns: the direction of (x, y) in quarter turns clockwise from the
// right (y grows downwards): 0 right, 1 down, 2 left, 3 up, and in between
// rising with the angle, though not in proportion to it.
static float quarterturns(float x, float y) {
    if (x == 0 && y == 0)
        return 0;
    if (y >= 0)
        return x > 0 ? y / (x + y) : 1 + -x / (-x + y);
    return x < 0 ? 2 + -y / (-x - y) : 3 + x / (x - y);
}

// arcend: the point at quarter turn q (a whole number) on the circle around
// (a, b) of radius r.
static void arcend(float a, float b, float r, float q, float *x, float *y) {
    int turn = ((int)q % 4 + 4) % 4;
    *x = a + (turn == 0 ? r : turn == 2 ? -r : 0);
    *y = b + (turn == 1 ? r : turn == 3 ? -r : 0);
}

// segmentdistance: distance from (px, py) to the segment (x0, y0)-(x1, y1).
static float segmentdistance(float px, float py, float x0, float y0, float x1,
                             float y1) {
    float dx = x1 - x0;
    float dy = y1 - y0;
    float length2 = dx * dx + dy * dy;
    float t = length2 > 0 ? ((px - x0) * dx + (py - y0) * dy) / length2 : 0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return length(px - (x0 + t * dx), py - (y0 + t * dy));
}

// inkcoverage: how much of the pixel centred at (px, py) the stroke covers,
// from 0 to 1, with a one-pixel soft edge.
static float inkcoverage(const stroke *s, float px, float py) {
    float distance = 0;
    float half = inkwidth / 2;
    if (s->kind == 'l') {
        distance = segmentdistance(px, py, s->a, s->b, s->c, s->d);
    } else if (s->kind == 'd') {
        distance = length(px - s->a, py - s->b) - s->c + half;
    } else {
        // Arc: the distance to the circle where the direction lies on the
        // arc, else to the nearer end.
        float from = s->d / 90;
        float span = (s->e - s->d) / 90;
        float along = fmodf(quarterturns(px - s->a, py - s->b) - from + 8, 4);
        if (span >= 4 || along <= span) {
            distance = fabsf(length(px - s->a, py - s->b) - s->c);
        } else {
            float x0, y0, x1, y1;
            arcend(s->a, s->b, s->c, from, &x0, &y0);
            arcend(s->a, s->b, s->c, s->e / 90, &x1, &y1);
            float d0 = length(px - x0, py - y0);
            float d1 = length(px - x1, py - y1);
            distance = d0 < d1 ? d0 : d1;
        }
    }
    float cover = half + 0.5f - distance;
    return cover < 0 ? 0 : (cover > 1 ? 1 : cover);
}

// drawglyph: paints design into the glyphsize by glyphsize grey block
// pixels.
static void drawglyph(const glyphdesign *design, unsigned char *pixels) {
    for (int y = 0; y < glyphsize; y++) {
        for (int x = 0; x < glyphsize; x++) {
            float px = x + 0.5f;
            float py = y + 0.5f;
            float ink = 0;
            for (int k = 0; k < maxstrokes && design->strokes[k].kind; k++) {
                float c = inkcoverage(&design->strokes[k], px, py);
                ink = c > ink ? c : ink;
            }
            for (int k = 0; design->hasspine && k < 2; k++) {
                float c = inkcoverage(&spine[k], px, py);
                ink = c > ink ? c : ink;
            }
            // A near-black ink, so the black base rule still stands apart.
            pixels[y * glyphsize + x] = (unsigned char)lroundf(255 - ink * 235);
        }
    }
}

// finddesign: the design for character c, or NULL.
static const glyphdesign *finddesign(char c) {
    for (size_t k = 0; k < sizeof designs / sizeof designs[0]; k++)
        if (designs[k].character == c)
            return &designs[k];
    return NULL;
}

// writegreybmp: writes pixels (glyphsize by glyphsize grey bytes, top row
// first) to path as an uncompressed 8-bit BMP with a grey palette, rows
// bottom-up. Returns 1 when the whole file was written.
static int writegreybmp(const char *path, const unsigned char *pixels) {
    const int rowbytes = (glyphsize + 3) / 4 * 4;
    const int dataoffset = bmpheadersize + 256 * 4;
    unsigned char file[dataoffset + rowbytes * glyphsize];
    memset(file, 0, sizeof file);
    file[0] = 'B';
    file[1] = 'M';
    putle32(file + 2, sizeof file);
    putle32(file + 10, dataoffset);
    putle32(file + 14, 40);
    putle32(file + 18, glyphsize);
    putle32(file + 22, glyphsize);
    putle16(file + 26, 1);
    putle16(file + 28, 8);
    putle32(file + 34, rowbytes * glyphsize);
    putle32(file + 46, 256);
    for (int v = 0; v < 256; v++)
        memset(file + bmpheadersize + 4 * v, v, 3);
    for (int y = 0; y < glyphsize; y++)
        memcpy(file + dataoffset + (glyphsize - 1 - y) * rowbytes,
               pixels + y * glyphsize, glyphsize);
    FILE *out = fopen(path, "wb");
    if (out == NULL)
        return 0;
    int ok = fwrite(file, 1, sizeof file, out) == sizeof file;
    return fclose(out) == 0 && ok;
}

int main(int argc, char **argv) {
    if (argc != 2) {
        printf("usage: glyphgen FOLDER\n");
        return 1;
    }
    unsigned char pixels[glyphsize * glyphsize];
    for (int i = 0; i < glyphcount; i++) {
        const glyphdesign *design = finddesign(glyphcharacter(i));
        if (design == NULL) {
            printf("glyphgen: no design for glyph %s\n", glyphfilename(i));
            return 1;
        }
        drawglyph(design, pixels);
        std::string path = std::string(argv[1]) + "/" + glyphfilename(i);
        if (!writegreybmp(path.c_str(), pixels)) {
            printf("glyphgen: could not write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
