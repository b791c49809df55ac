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
//   int err = storeraster(raster, w, h, "moltravytext.bmp");
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

#endif
