// Glyph placement: writes one glyph into the raster at every message position
// that holds its character.
//
// Sentences are columns from left to right; within a column the cells run
// from the bottom of the picture upwards, the first one sitting on the base
// rule. The glyph at every even position (0, 2, 4, ... counted over the whole
// message) is mirrored left to right. Positions past the normalised string
// hold NUL: they match no glyph but still take their cell.
//
//   placeglyph(raster, w, h, msg, n0, glyph, 'a', stdout);
#ifndef MOLTRAVYTEXT_PLACEMENT_H
#define MOLTRAVYTEXT_PLACEMENT_H

#include <cstdint>
#include <cstdio>

// placeglyph: stamps the 50 by 50 glyph into the width by height raster for
// every position p < n0 of msg that equals match. Every pixel is checked to
// lie inside both the raster and the glyph before it is copied; a pixel that
// does not is skipped and described on diag in eight lines (which never
// happens when the raster was sized from the same message).
// Returns the number of pixels skipped.
int64_t placeglyph(unsigned char *raster, int64_t width, int64_t height,
                   const char *msg, int n0, const unsigned char *glyph,
                   char match, FILE *diag);

#endif
