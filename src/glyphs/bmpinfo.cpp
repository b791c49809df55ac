#include "bmpinfo.h"

#include <cstring>

#include "byteorder.h"

// The file header before every BMP's own header.
static const int64_t fileheadersize = 14;

// maskrun: whether mask is one unbroken run of set bits (zero is not).
static int maskrun(uint32_t mask) {
    if (mask == 0)
        return 0;
    while ((mask & 1) == 0)
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

// goodmasks: whether the red, green, blue and alpha masks are ones an
// encoder writes: colours present, each one run of bits, none overlapping.
static int goodmasks(const uint32_t *mask) {
    uint32_t seen = 0;
    for (int i = 0; i < 4; i++) {
        if (i == 3 && mask[i] == 0)
            break;
        if (!maskrun(mask[i]) || (seen & mask[i]) != 0)
            return 0;
        seen |= mask[i];
    }
    return 1;
}

int readbmpinfo(const unsigned char *data, size_t size, bmpinfo *bmp) {
    if (size < 18 || data[0] != 'B' || data[1] != 'M')
        return 0;
    memset(bmp, 0, sizeof *bmp);
    bmp->offset = le32(data + 10);
    int64_t hsz = le32(data + 14);
    bmp->headersize = hsz;
    if (hsz != 12 && hsz != 40 && hsz != 52 && hsz != 56 && hsz != 64 &&
        hsz != 108 && hsz != 124)
        return -1;
    if ((int64_t)size < fileheadersize + hsz)
        return -1;
    int planes;
    int64_t colours = 0;
    if (hsz == 12) {
        bmp->width = le16(data + 18);
        bmp->height = le16(data + 20);
        planes = (int)le16(data + 22);
        bmp->bits = (int)le16(data + 24);
    } else {
        bmp->width = (int32_t)le32(data + 18);
        bmp->height = (int32_t)le32(data + 22);
        planes = (int)le16(data + 26);
        bmp->bits = (int)le16(data + 28);
        bmp->compression = le32(data + 30);
        colours = le32(data + 46);
    }
    int bits = bmp->bits;
    uint32_t compression = bmp->compression;
    if (planes != 1 || (bits != 1 && bits != 4 && bits != 8 && bits != 16 &&
                        bits != 24 && bits != 32))
        return -1;
    // OS/2's 64-byte header numbers compressions as Windows does up to
    // RLE4; its 3 and 4 are Huffman codes and 24-bit runs.
    if (compression > 3 || (compression == 1 && bits != 8) ||
        (compression == 2 && bits != 4) ||
        (compression == 3 && ((bits != 16 && bits != 32) || hsz == 64)))
        return -1;
    bmp->start = fileheadersize + hsz;
    if (compression == 3) {
        // The masks follow a 40-byte header; larger ones hold them.
        const unsigned char *masks = data + fileheadersize + 40;
        if (hsz == 40) {
            if ((int64_t)size < bmp->start + 12)
                return -1;
            bmp->start += 12;
        }
        for (int i = 0; i < (hsz == 40 || hsz == 52 ? 3 : 4); i++)
            bmp->mask[i] = le32(masks + 4 * i);
        if (!goodmasks(bmp->mask))
            return -1;
    }
    bmp->palette = bmp->start;
    bmp->entrysize = hsz == 12 ? 3 : 4;
    if (bits <= 8) {
        int64_t most = (int64_t)1 << bits;
        int64_t count = colours == 0 || colours > most ? most : colours;
        int64_t room = bmp->offset - bmp->start;
        int64_t fit = room > 0 ? room / bmp->entrysize : 0;
        bmp->entries = count < fit ? count : fit;
        bmp->start += bmp->entries * bmp->entrysize;
    }
    return 1;
}
