// What a BMP file says of itself, read once from its headers: the one
// description the BMP rewrite (bmprewrite.h) and the palette check
// (refusedbmp, glyphcheck.h) both work from, so that both count the palette
// and judge the header by the same rule.
//
//   bmpinfo bmp;
//   int kind = readbmpinfo(data, size, &bmp);   1 a BMP that is read,
//                                               0 no BMP, -1 refused
#ifndef MOLTRAVYTEXT_BMPINFO_H
#define MOLTRAVYTEXT_BMPINFO_H

#include <cstddef>
#include <cstdint>

struct bmpinfo {
    int64_t offset;       // where the file says its pixels start
    int64_t headersize;   // 12 (OS/2), 40, 52, 56, 64 (OS/2), 108 or 124
    int64_t width;        // as stored
    int64_t height;       // negative when the rows are stored top first
    int bits;             // 1, 4, 8, 16, 24 or 32 a pixel
    uint32_t compression; // 0 none, 1 RLE8, 2 RLE4, 3 bit fields
    uint32_t mask[4];     // red, green, blue and alpha, with bit fields
    int64_t palette;      // where the palette starts
    int64_t entrysize;    // 3 bytes a palette entry (OS/2's 12-byte header), 4
    int64_t entries;      // palette entries: see readbmpinfo
    int64_t start;        // where the pixels start when nothing lies between
};

// readbmpinfo: *bmp from the headers of data (size bytes). Returns 0 for a
// file that is no BMP; -1 for a BMP that is not read: a header size, bit
// depth or plane count of no kind above, a compression code other than 0 to
// 3 (or one that does not fit the depth), or bit-field masks that no
// encoder writes: a red, green or blue mask of zero, masks that overlap one
// another, or a mask that is not one run of bits (an alpha mask of zero
// means no alpha); and 1 for the rest, with *bmp filled in.
//
// The palette (1, 4 or 8 bits a pixel) holds as many entries as the
// header's colour count says, all 2^bits when it says 0 or more than that,
// and no more than fit between the headers and the pixels: whatever lies
// after those entries is a gap, never colours. A pixel that names an entry
// past them is one the file never gave a colour.
int readbmpinfo(const unsigned char *data, size_t size, bmpinfo *bmp);

#endif
