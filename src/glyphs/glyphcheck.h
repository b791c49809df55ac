// Checks of our own on a glyph file held whole in memory, made before the
// image library decodes it and after rewritebmp. They only read. Each refuses a
// file that the library would decode wrongly, with memory it never wrote, or
// slowly; a file of another format passes them untouched.
//
//   if (refusedpng(data, size) || refusedbmp(data, size)) ... unreadable ...
#ifndef MOLTRAVYTEXT_GLYPHCHECK_H
#define MOLTRAVYTEXT_GLYPHCHECK_H

#include <cstddef>
#include <cstdint>

// The most memory the library may take in one block while it decodes a
// glyph (a 16-bit RGBA PNG of 50 by 50 needs about 20 KiB), and so also the
// most a PNG's image data may inflate to.
const size_t decoderblocklimit = 1 << 20;

// refusedpng: whether data is a PNG that must not reach the library:
// - a chunk that runs past the end of the file, or no end chunk;
// - a chunk length of 2^31 or more, which the library takes as negative;
// - an empty first image data chunk, which makes the library copy to a null
//   pointer;
// - image data that is not a whole deflate stream (cut off, or a code the
//   library would refuse), that holds more than maxdeflateblocks coded
//   blocks, or that inflates to more than the picture its header describes
//   needs (inflatewalk.h): the library would inflate it all, then ignore
//   the rest. A 50 by 50 picture needs at most about 20 KB.
// The image data is walked as the library's decoder walks it, keeping no
// output; its bounds keep the library's own work on any file small.
int refusedpng(const unsigned char *data, size_t size);

// refusedbmp: whether data, a BMP as rewritebmp leaves it, is one that the
// library would paint with colours the file never gave:
// - a palette BMP (1, 4 or 8 bits a pixel) whose pixel data starts inside
//   its header or within the palette's first entry, or with a pixel whose
//   index is past the entries the header counts (readbmpinfo, bmpinfo.h):
//   the library keeps the palette in memory it never clears and does not
//   check an index against it.
// The pixels are checked as 50 rows of 50: the caller has seen the size.
int refusedbmp(const unsigned char *data, size_t size);

#endif
