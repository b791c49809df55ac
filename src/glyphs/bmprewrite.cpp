#include "bmprewrite.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "byteorder.h"
#include "stbimage.h"

// The two headers written here.
static const int64_t plainheadersize = 40;
static const int64_t maskheadersize = 108;

// unpackruns: the run-length pixels from data + at into rows of out (rows
// of rowbytes bytes, one palette index a byte, all 0 to start with), RLE4
// when nibbles. Rows come in the order the file stores them, so a file
// stored top first unpacks as well. A run may reach into the padding that
// ends an uncompressed row of the same picture (ImageMagick and
// GraphicsMagick fill it); those pixels are dropped. Data that ends where a
// code would start (or lacks only the padding byte after its last absolute
// run) ends the picture, as an end code does. Returns 0, or -1 for a run
// past the padded row or past the picture, or a code cut off.
static int unpackruns(const unsigned char *data, size_t size, size_t at,
                      int nibbles, int64_t width, int64_t rows,
                      int64_t rowbytes, unsigned char *out) {
    int64_t rowpixels = nibbles ? (width + 7) & ~7 : (width + 3) & ~3;
    int64_t x = 0;
    int64_t y = 0;
    for (;;) {
        if (at >= size || size - at < 2)
            return 0;
        int count = data[at];
        int code = data[at + 1];
        at += 2;
        if (count == 0 && code == 0) {
            // End of the line: the rest of it stays index 0.
            if (y >= rows)
                return -1;
            x = 0;
            y++;
        } else if (count == 0 && code == 1) {
            // End of the picture: so does everything after.
            return 0;
        } else if (count == 0 && code == 2) {
            // A move right and up (onwards in the file's row order), over
            // pixels that stay index 0.
            if (size - at < 2)
                return -1;
            x += data[at];
            y += data[at + 1];
            at += 2;
            if (x > rowpixels || y > rows)
                return -1;
        } else {
            // count pixels of one index, in RLE4 its two nibbles taking
            // turns; or, after a 0, code pixels given one by one, padded to
            // a whole number of 16-bit words.
            int absolute = count == 0;
            int n = absolute ? code : count;
            size_t bytes = !absolute ? 0 : nibbles ? (size_t)(n + 1) / 2 : n;
            if (y >= rows || x + n > rowpixels || size - at < bytes)
                return -1;
            unsigned char *row = out + y * rowbytes;
            for (int k = 0; k < n && x + k < width; k++) {
                int index = absolute ? data[at + (nibbles ? k / 2 : k)] : code;
                if (nibbles)
                    index = k & 1 ? index & 15 : index >> 4;
                row[x + k] = (unsigned char)index;
            }
            x += n;
            at += bytes + (bytes & 1);
        }
    }
}

// pastpalette: whether a pixel of rows (rowbytes bytes each, bits a pixel,
// width pixels a row) names an entry at or past entries.
static int pastpalette(const unsigned char *pixels, int64_t width, int64_t rows,
                       int64_t rowbytes, int bits, int64_t entries) {
    if (entries >= (int64_t)1 << bits)
        return 0;
    for (int64_t y = 0; y < rows; y++) {
        const unsigned char *row = pixels + y * rowbytes;
        for (int64_t x = 0; x < width; x++) {
            int64_t bit = x * bits;
            int index =
                row[bit / 8] >> (8 - bits - bit % 8) & ((1 << bits) - 1);
            if (index >= entries)
                return 1;
        }
    }
    return 0;
}

int rewritebmp(const bmpinfo *bmp, unsigned char **data, size_t *size) {
    int runlength = bmp->compression == 1 || bmp->compression == 2;
    int bitfields = bmp->compression == 3;
    int bits = runlength ? 8 : bmp->bits;
    int64_t rowbytes = (bits * bmp->width + 31) / 32 * 4;
    int64_t pixelbytes = rowbytes * bmp->rows;
    // Uncompressed rows must all be in the file; runs unpack in full. The
    // limit keeps each side far inside the library's own (2^24).
    if (pixelbytes > (int64_t)decoderblocklimit ||
        (!runlength && bmp->offset + pixelbytes > (int64_t)*size))
        return -1;
    int64_t headersize = bitfields ? maskheadersize : plainheadersize;
    // A 1-bit picture of one colour: a pixel of index 1 takes the first
    // entry, as ImageMagick reads it, so that entry is written twice.
    int64_t entries = bits == 1 && bmp->entries == 1 ? 2 : bmp->entries;
    int64_t pixelstart = bmpfileheadersize + headersize + 4 * entries;
    int64_t filesize = pixelstart + pixelbytes;
    unsigned char *out = (unsigned char *)calloc(1, (size_t)filesize);
    if (out == NULL)
        return -1;

    out[0] = 'B';
    out[1] = 'M';
    putle32(out + 2, (uint32_t)filesize);
    putle32(out + 10, (uint32_t)pixelstart);
    unsigned char *info = out + bmpfileheadersize;
    putle32(info, (uint32_t)headersize);
    putle32(info + 4, (uint32_t)bmp->width);
    putle32(info + 8, (uint32_t)(int32_t)bmp->height);
    putle16(info + 12, 1);
    putle16(info + 14, (uint32_t)bits);
    putle32(info + 16, bitfields ? 3 : 0);
    putle32(info + 32, (uint32_t)entries);
    for (int i = 0; bitfields && i < 4; i++)
        putle32(info + 40 + 4 * i, bmp->mask[i]);

    // The palette's blue, green and red, each entry widened to four bytes.
    for (int64_t i = 0; i < entries; i++)
        memcpy(info + headersize + 4 * i,
               *data + bmp->palette + bmp->entrysize * (i % bmp->entries), 3);

    unsigned char *pixels = out + pixelstart;
    int refused = 0;
    if (runlength) {
        refused =
            unpackruns(*data, *size, (size_t)bmp->offset, bmp->compression == 2,
                       bmp->width, bmp->rows, rowbytes, pixels) != 0;
    } else {
        memcpy(pixels, *data + bmp->offset, (size_t)pixelbytes);
    }
    if (refused || (bits <= 8 && pastpalette(pixels, bmp->width, bmp->rows,
                                             rowbytes, bits, entries))) {
        free(out);
        return -1;
    }
    free(*data);
    *data = out;
    *size = (size_t)filesize;
    return 0;
}
