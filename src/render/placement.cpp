#include "placement.h"

#include <cstring>

#include "glyphs/glyphs.h"
#include "message/message.h"
#include "raster.h"

// A glyph fills its cell exactly: the copy below relies on it.
static_assert(glyphsize == cellsize, "a glyph must be one cell in size");

// stampchecked: the pixel-by-pixel copy with the range check, for a cell that
// does not lie wholly inside the raster. Columns outer, rows inner, so the
// diagnostics come in the order the placement arithmetic visits them.
static int64_t stampchecked(unsigned char *raster, int64_t width,
                            int64_t height, int64_t xbase, int64_t ybase,
                            int mirrored, const unsigned char *glyph,
                            FILE *diag) {
    int64_t skipped = 0;
    int64_t rastersize = width * height;
    for (int x = 0; x < cellsize; x++) {
        for (int y = 0; y < cellsize; y++) {
            int64_t row = height - 1 - ybase - y;
            int64_t column = mirrored ? xbase + cellsize - 1 - x : xbase + x;
            int64_t rasterindex = row * width + column;
            int64_t letterindex = (int64_t)(cellsize - 1 - y) * cellsize + x;
            int rasterok = rasterindex >= 0 && rasterindex < rastersize;
            int letterok =
                letterindex >= 0 && letterindex < cellsize * cellsize;
            if (rasterok && letterok) {
                raster[rasterindex] = glyph[letterindex];
                continue;
            }
            // A byte outside its buffer is never read: it shows as 0.
            fprintf(diag, "xbase:        %lld\n", (long long)xbase);
            fprintf(diag, "x:            %d\n", x);
            fprintf(diag, "ybase:        %lld\n", (long long)ybase);
            fprintf(diag, "y:            %d\n", y);
            fprintf(diag, "Raster Index: %lld\n", (long long)rasterindex);
            fprintf(diag, "Letter Index: %lld\n", (long long)letterindex);
            fprintf(diag, "Paint Value:  %d\n",
                    rasterok ? (int)(signed char)raster[rasterindex] : 0);
            fprintf(diag, "Letter Value: %d\n\n",
                    letterok ? (int)glyph[letterindex] : 0);
            skipped++;
        }
    }
    return skipped;
}

// stampcell: copies the glyph into the cell whose left edge is xbase and
// whose lowest row lies ybase rows above the picture's bottom edge. Glyph
// row 0 lands at the top of the cell, so the glyph stands upright.
static int64_t stampcell(unsigned char *raster, int64_t width, int64_t height,
                         int64_t xbase, int64_t ybase, int mirrored,
                         const unsigned char *glyph, FILE *diag) {
    int64_t toprow = height - cellsize - ybase;
    if (xbase < 0 || xbase + cellsize > width || toprow < 0 || ybase < 0)
        return stampchecked(raster, width, height, xbase, ybase, mirrored,
                            glyph, diag);
    // The whole cell is inside: copy it a glyph row at a time.
    for (int gy = 0; gy < cellsize; gy++) {
        unsigned char *dst = raster + (toprow + gy) * width + xbase;
        const unsigned char *src = glyph + gy * cellsize;
        if (!mirrored) {
            memcpy(dst, src, cellsize);
            continue;
        }
        for (int x = 0; x < cellsize; x++)
            dst[cellsize - 1 - x] = src[x];
    }
    return 0;
}

int64_t placeglyph(unsigned char *raster, int64_t width, int64_t height,
                   const char *msg, int n0, const unsigned char *glyph,
                   char match, FILE *diag) {
    int64_t skipped = 0;
    int64_t s = 0;
    int64_t k = 0;
    for (int p = 0; p < n0; p++) {
        int64_t xbase = columnpitch * s + margin;
        int64_t ybase = cellsize * k + margin;
        if (msg[p] == match)
            skipped += stampcell(raster, width, height, xbase, ybase,
                                 p % 2 == 0, glyph, diag);
        nextcell(msg[p], &s, &k);
    }
    return skipped;
}
