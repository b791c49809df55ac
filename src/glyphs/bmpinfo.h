// What a BMP file says of itself, read once from its headers by the glyph
// loader: the picture's size for the size check, then everything the BMP
// rewrite (bmprewrite.h) needs, handed on, so that the headers are parsed
// and judged in one place.
//
//   bmpinfo bmp;
//   int kind = readbmpinfo(data, size, &bmp);   1 a BMP that is read,
//                                               0 no BMP, -1 refused
#ifndef MOLTRAVYTEXT_BMPINFO_H
#define MOLTRAVYTEXT_BMPINFO_H

#include <cstddef>
#include <cstdint>

// The file header before every BMP's own header.
const int64_t bmpfileheadersize = 14;

struct bmpinfo {
    int64_t offset;       // where the file says its pixels start
    int64_t headersize;   // 12 (OS/2), 40, 52, 56, 64 (OS/2), 108 or 124
    int64_t width;        // 1 or more
    int64_t height;       // negative when the rows are stored top first
    int64_t rows;         // the height's size, 1 or more
    int bits;             // 1, 4, 8, 16, 24 or 32 a pixel
    uint32_t compression; // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t mask[4];     // red, green, blue and alpha, with bit fields
    int64_t palette;      // where the palette starts: after the headers
    int64_t entrysize;    // 3 bytes a palette entry (OS/2's 12-byte header), 4
    int64_t entries;      // palette entries (1, 4 and 8 bits): see below
};

// readbmpinfo: *bmp from the headers of data (size bytes). Returns 0 for a
// file that is no BMP, 1 for a BMP that is read, and -1 for one that is not,
// as most decoders refuse it:
// - headers cut off; a header size, bit depth or compression code of no
//   kind above (or a compression that does not fit the depth);
// - a header that describes no picture: a width or height of 0, a negative
//   width, a height of -2^31;
// - pixels that would start inside the file header (bfOffBits under 14);
// - a colour count (biClrUsed) larger than the bit depth allows;
// - bit-field masks that no encoder writes: a red, green or blue mask of
//   zero, masks that overlap one another, a mask that is not one run of
//   bits, or one with bits outside a 16-bit pixel (an alpha mask of zero
//   means no alpha);
// - a palette that runs past the end of the file.
// The plane count (biPlanes) is not looked at, as most decoders ignore it.
//
// The palette (1, 4 or 8 bits a pixel) follows the headers and holds as
// many entries as the header's colour count says, all 2^bits when it says
// 0 (and always in OS/2's 12-byte header). Bytes after the entries are a
// gap, never colours, even where they would make a whole palette: a pixel
// that names an entry past them is one the file never gave a colour.
int readbmpinfo(const unsigned char *data, size_t size, bmpinfo *bmp);

#endif
