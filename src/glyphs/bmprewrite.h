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
//   picture) get palette index 0, as other decoders give them;
// - an OS/2 header (12 bytes: ImageMagick's BMP2, netpbm's ppmtobmp -os2,
//   GraphicsMagick), whose palette entries are 3 bytes, and OS/2's 64-byte
//   header;
// - a 52 or 56-byte header (GIMP without colour space information), whose
//   bit-field masks lie inside the header: the library reads no 52-byte
//   header, and reads a 56-byte one but looks for its masks after it;
// - bytes between the header (or the palette) and the pixels: an alignment
//   gap, a colour table in a 24-bit file, a colour profile, or palette
//   entries past the header's colour count (bmpinfo.h), which the library
//   would take as colours.
//
// The result has a 40-byte header (a 108-byte one, masks inside, for bit
// fields, so that an alpha mask is kept), the palette in 4-byte entries and
// the pixel rows right after it. Every other file, BMP or not, is left as
// it is.
//
//   unsigned char *data; size_t size;          the glyph file, read whole
//   if (rewritebmp(&data, &size) != 0) ... refuse the file ...
#ifndef MOLTRAVYTEXT_BMPREWRITE_H
#define MOLTRAVYTEXT_BMPREWRITE_H

#include <cstddef>

// rewritebmp: when *data (*size bytes, from malloc) is a BMP of a kind
// above, replaces it with the rewritten file, a new block from malloc, and
// frees the old one. Returns 0, or -1 for a BMP that cannot be read: one
// that readbmpinfo refuses (bmpinfo.h), a picture of more than
// decoderblocklimit bytes once unpacked, or run-length data with a run past
// its row or past the picture, or that ends before its end code. The caller
// owns *data either way.
int rewritebmp(unsigned char **data, size_t *size);

#endif
