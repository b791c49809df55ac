#include "glyphcheck.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "bmpinfo.h"
#include "byteorder.h"
#include "glyphs.h"
#include "inflatewalk.h"

// The library's largest picture side.
static const int64_t maxside = 1 << 24;

// pngimagesize: the bytes of image data the header (IHDR's 13 bytes)
// implies, each row with its filter byte, for each of the seven passes when
// interlaced, as the library counts them; at most decoderblocklimit. A side
// past the library's limit, which it refuses, counts as the limit: every
// product then stays far inside 64 bits.
static int64_t pngimagesize(const unsigned char *ihdr) {
    static const int xstart[7] = {0, 4, 0, 2, 0, 1, 0};
    static const int ystart[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int xstep[7] = {8, 8, 4, 4, 2, 2, 1};
    static const int ystep[7] = {8, 8, 8, 4, 4, 2, 2};
    int64_t width = be32(ihdr);
    int64_t height = be32(ihdr + 4);
    width = width < maxside ? width : maxside;
    height = height < maxside ? height : maxside;
    int64_t depth = ihdr[8];
    int colour = ihdr[9];
    int64_t samples = colour == 2 ? 3 : colour == 4 ? 2 : colour == 6 ? 4 : 1;
    int passes = ihdr[12] ? 7 : 1;
    int64_t total = 0;
    for (int p = 0; p < passes && total <= (int64_t)decoderblocklimit; p++) {
        int64_t x = width;
        int64_t y = height;
        if (passes == 7) {
            x = (width - xstart[p] + xstep[p] - 1) / xstep[p];
            y = (height - ystart[p] + ystep[p] - 1) / ystep[p];
        }
        if (x > 0 && y > 0)
            total += ((samples * x * depth + 7) / 8 + 1) * y;
    }
    return total < (int64_t)decoderblocklimit ? total
                                              : (int64_t)decoderblocklimit;
}

int refusedpng(const unsigned char *data, size_t size) {
    if (size < 8 || memcmp(data, "\x89PNG\r\n\x1a\n", 8) != 0)
        return 0;
    // The image data chunks, joined, as the library joins them.
    unsigned char *stream = (unsigned char *)malloc(size);
    if (stream == NULL)
        return 1;
    size_t streamsize = 0;
    int idatseen = 0;
    int apple = 0;
    int refused = 1;
    int64_t most = decoderblocklimit;
    size_t at = 8;
    while (size - at >= 12) {
        uint32_t length = be32(data + at);
        const unsigned char *type = data + at + 4;
        at += 8;
        if (length >= 0x80000000u || size - at < (size_t)length + 4)
            break;
        if (memcmp(type, "IHDR", 4) == 0) {
            // The first chunk, which the library has read; a second one is
            // a damaged file.
            if (at != 16 || length != 13)
                break;
            most = pngimagesize(data + at);
        } else if (memcmp(type, "IDAT", 4) == 0) {
            if (!idatseen && length == 0)
                break;
            idatseen = 1;
            memcpy(stream + streamsize, data + at, length);
            streamsize += length;
        } else if (memcmp(type, "CgBI", 4) == 0) {
            // Apple's variant: a deflate stream without the zlib header.
            apple = 1;
        } else if (memcmp(type, "IEND", 4) == 0) {
            refused = inflatedsize(stream, streamsize, !apple, most) < 0;
            break;
        }
        // Every chunk ends in four bytes of checksum.
        at += (size_t)length + 4;
    }
    free(stream);
    return refused;
}

int refusedbmp(const unsigned char *data, size_t size) {
    // A file that is no BMP is not this check's; one readbmpinfo refuses,
    // rewritebmp has refused already.
    bmpinfo bmp;
    if (readbmpinfo(data, size, &bmp) != 1 || bmp.bits > 8)
        return 0;
    // The library takes the palette to fill the room between the header and
    // the pixels; after rewritebmp, that room holds the entries the header
    // counts, and no more. No room for one entry: it reads none.
    int bits = bmp.bits;
    if (bmp.entries == 0)
        return 1;
    if (bmp.entries >= 1 << bits)
        return 0;
    // Rows are padded to four bytes. A file cut off, the decoder notices.
    int64_t offset = bmp.offset;
    int64_t rowbytes = (bits * glyphsize + 31) / 32 * 4;
    if ((uint64_t)(offset + rowbytes * glyphsize) > size)
        return 0;
    for (int row = 0; row < glyphsize; row++) {
        const unsigned char *pixels = data + offset + row * rowbytes;
        for (int x = 0; x < glyphsize; x++) {
            int bit = x * bits;
            int index =
                pixels[bit / 8] >> (8 - bits - bit % 8) & ((1 << bits) - 1);
            if (index >= bmp.entries)
                return 1;
        }
    }
    return 0;
}
