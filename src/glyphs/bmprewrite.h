// The BMP files image tools write, brought into a layout the image library
// reads exactly, in memory, before anything else looks at a glyph file.
//
// The library reads a BMP with a 40, 108 or 124-byte Windows header whose
// pixels are uncompressed and follow the header (and the palette, or the
// three bit-field masks) directly. Tools write more than that, and each of
// these is rewritten into such a file:
// - run-length pixels (RLE8, RLE4), which ImageMagick and GraphicsMagick
//   write by default for a grey or palette picture: unpacked into 8-bit
//   rows. Pixels the runs skip (a delta, an early end of line or of the
//   picture, or data that ends without the end code) get palette index 0,
//   as other decoders give them;
// - an OS/2 header (12 bytes: ImageMagick's BMP2, netpbm's ppmtobmp -os2,
//   GraphicsMagick), whose palette entries are 3 bytes, and OS/2's 64-byte
//   header;
// - a 52 or 56-byte header (GIMP without colour space information), whose
//   bit-field masks lie inside the header: the library reads no 52-byte
//   header, and reads a 56-byte one but looks for its masks after it;
// - bytes between the header (or the palette) and the pixels: an alignment
//   gap, a colour table in a 24-bit file, a colour profile, or palette
//   entries past the header's colour count (bmpinfo.h), which the library
//   would take as colours;
// - bfOffBits that points inside the headers or the palette: the pixels
//   are read from where it points, as most decoders read them;
// - a plane count other than 1, which the library refuses.
//
// Every BMP is rewritten, so that the library meets one layout only: a
// 40-byte header (a 108-byte one, masks inside, for bit fields, so that an
// alpha mask is kept), the palette in 4-byte entries and the pixel rows
// right after it. The rewrite also refuses a 4 or 8-bit picture with a
// pixel that names an entry past the palette (bmpinfo.h), as ImageMagick
// does: the library keeps its palette in memory it never clears and does
// not check an index against it. In a 1-bit picture whose header counts one
// colour, a pixel of index 1 takes the first entry, as ImageMagick reads
// it (with a warning).
//
//   bmpinfo bmp;                     from readbmpinfo, which returned 1
//   if (rewritebmp(&bmp, &data, &size) != 0) ... refuse the file ...
#ifndef MOLTRAVYTEXT_BMPREWRITE_H
#define MOLTRAVYTEXT_BMPREWRITE_H

#include <cstddef>

#include "bmpinfo.h"

// rewritebmp: replaces *data (*size bytes, from malloc), the BMP that *bmp
// describes, with the rewritten file, a new block from malloc, and frees the
// old one. Returns 0, or -1 for a BMP that cannot be read: a picture of
// more than decoderblocklimit bytes once unpacked, pixel rows the file does not
// hold whole, run-length data with a run past its row or past the picture, or a
// code cut off (data that ends before its end code simply ends the picture), a
// 4 or 8-bit pixel that names an entry past the palette, or memory that runs
// out. The caller owns *data either way.
int rewritebmp(const bmpinfo *bmp, unsigned char **data, size_t *size);

#endif
