// The walk of a deflate stream (a PNG's image data) that the glyph checks
// make before the image library inflates it: every block and symbol read as
// the library's inflater reads them, nothing kept but the count of bytes
// they inflate to. It refuses what the library would refuse, and bounds what
// the library would spend on the stream: the coded blocks, each of which
// makes it build its code tables again, and the bytes it inflates.
//
//   int64_t n = inflatedsize(stream, size, 1, most);   -1: refused
#ifndef MOLTRAVYTEXT_INFLATEWALK_H
#define MOLTRAVYTEXT_INFLATEWALK_H

#include <cstddef>
#include <cstdint>

// The most blocks with codes of their own (fixed or dynamic) a stream may
// hold. The library rebuilds its code tables for each such block, about
// 30,000 instructions even for an empty one: 29 glyph files of this many
// take about 0.9 G instructions of the library's, a second on a small ARM
// board. Encoders write a handful for a 50 by 50 image, and up to a few
// hundred when they flush every few rows. Stored blocks cost the library no
// tables and are not counted: each takes at least four bytes of the file.
const int maxdeflateblocks = 1024;

// inflatedsize: the number of bytes the deflate stream data (behind a zlib
// header when zlibheader) inflates to, walked as the library's inflater
// walks it but keeping no output; or -1 when the library would refuse it
// (cut off, a code it refuses, a distance back past the start), or it holds
// more than maxdeflateblocks coded blocks, or it inflates to more than most
// bytes: the walk stops as soon as it does.
int64_t inflatedsize(const unsigned char *data, size_t size, int zlibheader,
                     int64_t most);

#endif
