#include "bmpinfo.h"

#include <cstring>

#include "byteorder.h"

// maskrun: whether mask is one unbroken run of set bits (zero is not).
static int maskrun(uint32_t mask) {
    if (mask == 0)
        return 0;
    while ((mask & 1) == 0)
        mask >>= 1;
    return (mask & (mask + 1)) == 0;
}

// goodmasks: whether the red, green, blue and alpha masks are ones an
// encoder writes for pixels of the given bits: colours present, each one run
// of bits inside the pixel, none overlapping.
static int goodmasks(const uint32_t *mask, int bits) {
    uint32_t pixel = bits == 16 ? 0xffffu : 0xffffffffu;
    uint32_t seen = 0;
    for (int i = 0; i < 4; i++) {
        if (i == 3 && mask[i] == 0)
            break;
        if (!maskrun(mask[i]) || (seen & mask[i]) != 0 ||
            (mask[i] & ~pixel) != 0)
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
    if ((int64_t)size < bmpfileheadersize + hsz)
        return -1;
    int64_t colours = 0;
    if (hsz == 12) {
        bmp->width = le16(data + 18);
        bmp->height = le16(data + 20);
        bmp->bits = (int)le16(data + 24);
    } else {
        bmp->width = (int32_t)le32(data + 18);
        bmp->height = (int32_t)le32(data + 22);
        bmp->bits = (int)le16(data + 28);
        bmp->compression = le32(data + 30);
        colours = le32(data + 46);
    }
    int bits = bmp->bits;
    uint32_t compression = bmp->compression;
    bmp->rows = bmp->height < 0 ? -bmp->height : bmp->height;
    if (bmp->width <= 0 || bmp->rows == 0 || bmp->rows > INT32_MAX ||
        bmp->offset < bmpfileheadersize)
        return -1;
    if (bits != 1 && bits != 4 && bits != 8 && bits != 16 && bits != 24 &&
        bits != 32)
        return -1;
    if (bits < 32 && colours > (int64_t)1 << bits)
        return -1;
    // OS/2's 64-byte header numbers compressions as Windows does up to
    // RLE4; its 3 and 4 are Huffman codes and 24-bit runs.
    if (compression > 3 || (compression == 1 && bits != 8) ||
        (compression == 2 && bits != 4) ||
        (compression == 3 && ((bits != 16 && bits != 32) || hsz == 64)))
        return -1;
    bmp->palette = bmpfileheadersize + hsz;
    if (compression == 3) {
        // The masks follow a 40-byte header; larger ones hold them.
        const unsigned char *masks = data + bmpfileheadersize + 40;
        if (hsz == 40) {
            if ((int64_t)size < bmp->palette + 12)
                return -1;
            bmp->palette += 12;
        }
        for (int i = 0; i < (hsz == 40 || hsz == 52 ? 3 : 4); i++)
            bmp->mask[i] = le32(masks + 4 * i);
        if (!goodmasks(bmp->mask, bits))
            return -1;
    }
    bmp->entrysize = hsz == 12 ? 3 : 4;
    if (bits <= 8) {
        bmp->entries = colours == 0 ? (int64_t)1 << bits : colours;
        if (bmp->palette + bmp->entries * bmp->entrysize > (int64_t)size)
            return -1;
    }
    return 1;
}
