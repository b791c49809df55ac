// libFuzzer target: the whole message path on arbitrary input bytes.
//
// Reads a line from the bytes, normalises it, measures it, sizes a raster
// from the measurements and places a small in-memory glyph set into it,
// checking what must hold for every input:
// - the normalised message uses only the 29 symbols, is never longer than
//   the typed length, and every position behind it up to that length is NUL;
// - the raster's size is enough for every placement: no pixel is skipped by
//   the range check, every character paints exactly its own 50 by 50 cell,
//   and the base rule and the margins stay as they were drawn.
// AddressSanitizer catches any read or write outside a buffer.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "message/message.h"
#include "glyphs/glyphs.h"
#include "render/placement.h"
#include "render/raster.h"
#include "fuzzcheck.h"

// Pictures larger than this are measured but not painted, to keep each run
// fast; the geometry is the same at every size.
static const int64_t largestpainted = 200000;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static unsigned char glyphs[glyphcount][glyphsize * glyphsize];
    static int ready = 0;
    if (!ready) {
        // Never white, so every painted pixel shows.
        for (int g = 0; g < glyphcount; g++)
            for (int p = 0; p < glyphsize * glyphsize; p++)
                glyphs[g][p] = (unsigned char)((g * 37 + p * 7) % 200 + 20);
        ready = 1;
    }
    FILE *in = fmemopen((void *)data, size, "r");
    if (in == NULL)
        return 0;
    char *msg = (char *)malloc(messagebuffersize);
    int n0 = readmessage(in, msg);
    fclose(in);
    if (n0 < 0) {
        check(size == 0, "bytes were given but no message came back");
        free(msg);
        return 0;
    }
    check(n0 <= messagemaxchars, "message longer than the buffer allows");

    normalisemessage(msg, n0);
    int length = (int)strlen(msg);
    check(length <= n0, "normalised message longer than typed");
    for (int p = 0; p < length; p++) {
        char c = msg[p];
        check((c >= 'a' && c <= 'z') || c == ' ' || c == '.' || c == '?',
              "a byte outside the script");
    }
    for (int p = length; p < n0; p++)
        check(msg[p] == '\0', "a position behind the message is not NUL");

    int longest = 0;
    int sentences = 0;
    measuremessage(msg, n0, &longest, &sentences);
    check(longest <= n0 && sentences <= n0, "metrics beyond the length");
    check((length == 0) == (sentences == 0), "sentences without characters");
    int64_t width = rasterwidth(sentences);
    int64_t height = rasterheight(longest);
    if (width * height > largestpainted) {
        free(msg);
        return 0;
    }
    unsigned char *raster = createraster(width, height);
    check(raster != NULL, "no raster");
    for (int g = 0; g < glyphcount; g++)
        check(placeglyph(raster, width, height, msg, n0, glyphs[g],
                         glyphcharacter(g), stderr) == 0,
              "the raster is too small for a placement");

    // Each character painted its own cell and nothing else: count the
    // painted pixels, and check the rule and the margins.
    int64_t painted = 0;
    for (int64_t i = 0; i < width * height; i++)
        painted += raster[i] != 0 && raster[i] != 255;
    check(painted == (int64_t)length * glyphsize * glyphsize,
          "painted pixels do not add up to one cell per character");
    for (int64_t y = 0; y < height; y++) {
        int rule = y >= height - 25 && y <= height - 22;
        for (int64_t x = 0; x < width; x++) {
            unsigned char v = raster[y * width + x];
            if (rule)
                check(v == 0, "the base rule was painted over");
            else if (y >= height - 25 || x < 25 || x >= width - 25 || y < 25)
                check(v == 255, "a margin was painted");
        }
    }
    free(raster);
    free(msg);
    return 0;
}
