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

// The most blocks with codes of their own (fixed or dynamic) a PNG's image
// data may hold. The library rebuilds its code tables for each such block,
// about 25,000 instructions even for an empty one; encoders write a handful
// for a 50 by 50 image, and a few hundred when they flush every row of an
// interlaced one. Stored blocks cost the library no tables and are not
// counted: each takes at least four bytes of the file.
const int maxdeflateblocks = 4096;

// inflatedsize: the number of bytes the deflate stream data (behind a zlib
// header when zlibheader) inflates to, walked as the library's inflater
// walks it but keeping no output; or -1 when the library would refuse it
// (cut off, a code it refuses, a distance back past the start), or it holds
// more than maxdeflateblocks coded blocks, or inflates past
// decoderblocklimit bytes.
int64_t inflatedsize(const unsigned char *data, size_t size, int zlibheader);

// refusedpng: whether data is a PNG that must not reach the library:
// - a chunk that runs past the end of the file, or no end chunk;
// - a chunk length of 2^31 or more, which the library takes as negative;
// - an empty first image data chunk, which makes the library copy to a null
//   pointer;
// - image data that is not a whole deflate stream (cut off, or a code the
//   library would refuse), that holds more than maxdeflateblocks coded
//   blocks, or that inflates past decoderblocklimit bytes (inflatedsize).
// The image data is walked as the library's decoder walks it, keeping no
// output; its bounds keep the library's own work on any file small.
int refusedpng(const unsigned char *data, size_t size);

// refusedbmp: whether data, a BMP as rewritebmp leaves it, is one that the
// library would paint with colours the file never gave:
// - a palette BMP (1, 4 or 8 bits a pixel) whose pixel data starts inside
//   its header or within the palette's first entry, or with a pixel whose
//   index is past the palette's last entry: the library keeps the palette in
//   memory it never clears and does not check an index against it.
// The pixels are checked as 50 rows of 50: the caller has seen the size.
int refusedbmp(const unsigned char *data, size_t size);

#endif
