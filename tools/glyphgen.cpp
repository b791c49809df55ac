// glyphgen: draws the moltravy script, the default glyph set of moltravytext.
//
// Usage: glyphgen FOLDER
//
// Writes the 29 glyph files ("a.bmp" to "z.bmp", "_.bmp", "_period.bmp",
// "_question.bmp") into FOLDER as 50 by 50 grey images. Exit status 0 when
// all were written, 1 otherwise, with one line saying which file failed.
//
// The files hold PNG data under the ".bmp" names the program reads (it
// finds the format from the content): a grey PNG decodes in a tenth of the
// instructions of a 24-bit BMP, and the glyph pass loads all 29 files on
// every run.
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
#include <cstdio>
#include <cstring>
#include <string>

#include <stb_image_write.h>

// A stroke: a line from (a, b) to (c, d); an arc around (a, b) of radius c
// from angle d to angle e (degrees, clockwise from the right, since y grows
// downwards); or a filled dot around (a, b) of radius c.
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
    const char *file;
    int hasspine;
    stroke strokes[maxstrokes];
};

static const glyphdesign designs[29] = {
    {"a.bmp", 1, {topbowl, lowdot, none}},
    {"b.bmp", 1, {topbar, lowbowl, none}},
    {"c.bmp", 1, {midbar, highdot, none}},
    {"d.bmp", 1, {falling, none}},
    {"e.bmp", 1, {ring, none}},
    {"f.bmp", 1, {topbar, lowdot, none}},
    {"g.bmp", 1, {rising, none}},
    {"h.bmp", 1, {lowbar, highdot, none}},
    {"i.bmp", 1, {midbar, none}},
    {"j.bmp", 1, {topbowl, lowbar, none}},
    {"k.bmp", 1, {topbar, falling, none}},
    {"l.bmp", 1, {stem, midbar, none}},
    {"m.bmp", 1, {lowbowl, highdot, none}},
    {"n.bmp", 1, {topbar, stem, none}},
    {"o.bmp", 1, {ring, lowbar, none}},
    {"p.bmp", 1, {rising, midbar, none}},
    {"q.bmp", 1, {topbowl, lowbowl, none}},
    {"r.bmp", 1, {falling, lowbar, none}},
    {"s.bmp", 1, {topbar, ring, none}},
    {"t.bmp", 1, {lowbar, none}},
    {"u.bmp", 1, {stem, none}},
    {"v.bmp", 1, {halfstem, topbowl, none}},
    {"w.bmp", 1, {topbar, midbar, lowdot, none}},
    {"x.bmp", 1, {rising, falling, none}},
    {"y.bmp", 1, {midbar, halfstem, highdot, none}},
    {"z.bmp", 1, {stem, lowbowl, none}},
    {"_.bmp", 0, {none}},
    {"_period.bmp",
     0,
     {{'d', 17, 36, 4.5f, 0, 0}, {'l', 13, 41, 21, 41, 0}, none}},
    {"_question.bmp",
     0,
     {{'a', 23, 17, 7, 180, 450},
      {'l', 23, 24, 23, 30, 0},
      {'d', 23, 38, 3, 0, 0},
      {'l', 16, 38, 18, 38, 0},
      none}},
};

// segmentdistance: distance from (px, py) to the segment (x0, y0)-(x1, y1).
static float segmentdistance(float px, float py, float x0, float y0, float x1,
                             float y1) {
    float dx = x1 - x0;
    float dy = y1 - y0;
    float length2 = dx * dx + dy * dy;
    float t = length2 > 0 ? ((px - x0) * dx + (py - y0) * dy) / length2 : 0;
    t = t < 0 ? 0 : (t > 1 ? 1 : t);
    return hypotf(px - (x0 + t * dx), py - (y0 + t * dy));
}

// inkcoverage: how much of the pixel centred at (px, py) the stroke covers,
// from 0 to 1, with a one-pixel soft edge.
static float inkcoverage(const stroke *s, float px, float py) {
    float distance = 0;
    float half = inkwidth / 2;
    if (s->kind == 'l') {
        distance = segmentdistance(px, py, s->a, s->b, s->c, s->d);
    } else if (s->kind == 'd') {
        distance = hypotf(px - s->a, py - s->b) - s->c + half;
    } else {
        // Arc: the distance to the circle where the angle lies on the arc,
        // else to the nearer end.
        float angle = atan2f(py - s->b, px - s->a) * 180 / (float)M_PI;
        float from = s->d;
        float span = s->e - s->d;
        float along = fmodf(angle - from + 720, 360);
        if (span >= 360 || along <= span) {
            distance = fabsf(hypotf(px - s->a, py - s->b) - s->c);
        } else {
            float r0 = from * (float)M_PI / 180;
            float r1 = s->e * (float)M_PI / 180;
            float d0 = hypotf(px - (s->a + s->c * cosf(r0)),
                              py - (s->b + s->c * sinf(r0)));
            float d1 = hypotf(px - (s->a + s->c * cosf(r1)),
                              py - (s->b + s->c * sinf(r1)));
            distance = d0 < d1 ? d0 : d1;
        }
    }
    float cover = half + 0.5f - distance;
    return cover < 0 ? 0 : (cover > 1 ? 1 : cover);
}

// drawglyph: paints design into the 50 by 50 grey block pixels.
static void drawglyph(const glyphdesign *design, unsigned char *pixels) {
    for (int y = 0; y < 50; y++) {
        for (int x = 0; x < 50; x++) {
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
            pixels[y * 50 + x] = (unsigned char)lroundf(255 - ink * 235);
        }
    }
}

int main(int argc, char **argv) {
    if (argc != 2) {
        printf("usage: glyphgen FOLDER\n");
        return 1;
    }
    unsigned char pixels[50 * 50];
    for (int i = 0; i < 29; i++) {
        drawglyph(&designs[i], pixels);
        std::string path = std::string(argv[1]) + "/" + designs[i].file;
        if (!stbi_write_png(path.c_str(), 50, 50, 1, pixels, 50)) {
            printf("glyphgen: could not write %s\n", path.c_str());
            return 1;
        }
    }
    return 0;
}
