// The picture: its geometry, the grey raster, and the stored BMP file.
//
// Sentences are columns of 50-pixel cells, 60 pixels apart, inside a
// 25-pixel margin; a 4-row black rule runs under the first row of cells.
// Sizes are 64-bit throughout: the largest message makes a raster of about
// three thousand million pixels.
//
//   int64_t w = rasterwidth(sentences), h = rasterheight(longest);
//   unsigned char *raster = createraster(w, h);   // NULL: no memory
//   ... stamp glyphs ...
//   int replaced;
//   int err = storeraster(raster, w, h, "moltravytext.bmp", &replaced);
#ifndef MOLTRAVYTEXT_RASTER_H
#define MOLTRAVYTEXT_RASTER_H

#include <cstdint>

const int cellsize = 50;
const int columnpitch = 60;
const int margin = 25;
const int ruleoffset = 25;
const int rulethickness = 4;

// rasterwidth: 60 pixels a sentence plus the two margins less one gap.
int64_t rasterwidth(int sentences);

// rasterheight: 50 pixels a cell, plus one cell's worth of margin.
int64_t rasterheight(int longest);

// The stored picture's headers: the 14-byte file header and the 40-byte
// info header, before the pixels.
const int bmpheadersize = 54;

// bmpfilesize: bytes in the stored 24-bit picture: the headers and three
// bytes a pixel (rows need no padding: the width is a multiple of 4).
int64_t bmpfilesize(int64_t width, int64_t height);

// The image writer computes the file's sizes and offsets in int, so no
// stored file may exceed this many bytes.
const int64_t bmpfilelimit = 2147483647;

// rasterfits: whether a picture of this size can be stored.
int rasterfits(int64_t width, int64_t height);

// createraster: a new width by height raster, white, with the black base
// rule on rows height - 25 to height - 22. Returns NULL when there is no
// memory for it; the caller owns the result and frees it with free().
unsigned char *createraster(int64_t width, int64_t height);

// storeraster: stores the raster as a 24-bit BMP named filename, replacing
// an earlier file of that name only by a complete new one: the picture goes
// to a temporary file beside it, synced to the disk, which then takes the
// name, so that after a crash or power cut the name holds either the earlier
// picture or the whole new one, and an interrupted run leaves nothing behind
// (os/os.h says how each system does it, and what it does with a link in
// the picture's place). The picture must fit (rasterfits).
// Returns 0 when stored, or the errno value of the first step that failed;
// nothing is left behind then, and an earlier file stays as it was, unless
// *replaced is 1: the new picture took the name, but the last sync failed,
// so a power cut may yet bring the earlier one back.
int storeraster(const unsigned char *raster, int64_t width, int64_t height,
                const char *filename, int *replaced);

#endif
