// Inflates a zlib stream (a PNG's image data) as libpng's zlib does, and
// refuses what it refuses: a header that is not deflate with a window of at
// most 32 KiB, or whose check fails, a preset dictionary, a code no encoder
// can write, a copy from before the start, a stream cut off, and an Adler-32
// that is missing or does not match what the stream inflates to. The glyph
// loader inflates a PNG's image data here, once, and hands the image
// library only what the picture needs (pngrewrite.h).
//
//   unsigned char *out = (unsigned char *)malloc(capacity);
//   int64_t n = inflatezlib(stream, size, out, capacity);   -1: refused
#ifndef MOLTRAVYTEXT_INFLATE_H
#define MOLTRAVYTEXT_INFLATE_H

#include <cstddef>
#include <cstdint>

// The most blocks with codes of their own (dynamic blocks) a stream may
// hold. Each makes the inflater build its code tables again, about 25,000
// instructions: 29 glyph files of this many take about 0.8 G instructions,
// under a second on a small ARM board. Encoders write a handful for a 50 by
// 50 image, and up to a few hundred when they flush every few rows; a flush
// after every byte makes blocks of the fixed codes, which are built once and
// not counted, and so are stored blocks.
const int maxdeflateblocks = 1024;

// inflatezlib: inflates the zlib stream data (size bytes) into out, which
// holds capacity bytes. Returns the number of bytes it inflates to, or -1
// when it is refused (see above), holds more than maxdeflateblocks dynamic
// blocks, or inflates to more than capacity bytes. Bytes after the Adler-32
// are ignored, as libpng ignores them.
int64_t inflatezlib(const unsigned char *data, size_t size, unsigned char *out,
                    size_t capacity);

// adlersum: the Adler-32 checksum of size bytes at data.
uint32_t adlersum(const unsigned char *data, size_t size);

#endif
