#include "pngrewrite.h"

#include <cstdlib>
#include <cstring>
// next_in as const, as the data it takes from is.
#define ZLIB_CONST
#include <zlib.h>

#include "byteorder.h"
#include "stbimage.h"

static const unsigned char pngsignature[8] = {0x89, 'P',  'N',  'G',
                                              '\r', '\n', 0x1a, '\n'};

// A chunk: its length (4 bytes), its type (4), its data, its CRC (4). The
// header chunk's data holds, at these offsets, the width and height (4
// bytes each), then a byte each for the depth, the colour type and the
// compression, filter and interlace methods.
static const size_t chunkframe = 12;
static const size_t ihdrsize = 13;
static const int ihdrwidth = 0;
static const int ihdrheight = 4;
static const int ihdrdepth = 8;
static const int ihdrcolour = 9;
static const int ihdrcompression = 10;
static const int ihdrfilter = 11;
static const int ihdrinterlace = 12;

// How libpng hands zlib the image data: at most this many bytes at a time,
// and after the last row, output asked for into a scratch buffer this size.
static const size_t idatreadsize = 8192;
static const size_t scratchsize = 1024;

// chunkcrc: the CRC-32 of size bytes at data, as a chunk carries it.
static uint32_t chunkcrc(const unsigned char *data, size_t size) {
    return (uint32_t)crc32(0, data, (uInt)size);
}

// isletter: whether c is an ASCII letter, as every byte of a chunk's type.
static int isletter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// wholechunk: whether data (size bytes) holds a whole chunk at at, of a
// length under 2^31 and a type of four letters, as libpng checks every
// chunk before it looks at what the chunk is.
static int wholechunk(const unsigned char *data, size_t size, size_t at) {
    if (size - at < chunkframe)
        return 0;
    uint32_t length = be32(data + at);
    const unsigned char *type = data + at + 4;
    return length < 0x80000000u && size - at - chunkframe >= length &&
           isletter(type[0]) && isletter(type[1]) && isletter(type[2]) &&
           isletter(type[3]);
}

// The ancillary chunks libpng 1.6 knows, each of which it refuses before
// the header chunk; one it does not know it skips there.
static const char knownchunks[] = "bKGDcHRMeXIfgAMAhISTiCCPiTXtoFFspCALpHYs"
                                  "sBITsCALsPLTsRGBtEXttIMEtRNSzTXt";

int readpnginfo(const unsigned char *data, size_t size, pnginfo *png) {
    if (size < 8 || memcmp(data, pngsignature, 8) != 0)
        return 0;
    size_t at = 8;
    for (; wholechunk(data, size, at) && memcmp(data + at + 4, "IHDR", 4);
         at += chunkframe + be32(data + at)) {
        for (size_t k = 0; k + 4 < sizeof knownchunks; k += 4)
            if (memcmp(data + at + 4, knownchunks + k, 4) == 0)
                return -1;
        if ((data[at + 4] & 0x20) == 0)
            return -1; // a critical chunk
    }
    if (!wholechunk(data, size, at) || be32(data + at) != ihdrsize ||
        memcmp(data + at + 4, "IHDR", 4) != 0 ||
        chunkcrc(data + at + 4, 4 + ihdrsize) != be32(data + at + 8 + ihdrsize))
        return -1;
    png->headerat = at;
    const unsigned char *ihdr = data + at + 8;
    png->width = be32(ihdr + ihdrwidth);
    png->height = be32(ihdr + ihdrheight);
    png->depth = ihdr[ihdrdepth];
    png->colour = ihdr[ihdrcolour];
    png->interlaced = ihdr[ihdrinterlace];
    // The depths each colour type takes, as bits of a mask: grey 1 to 16,
    // palette 1 to 8, the rest 8 and 16.
    uint32_t depths = png->colour == 0   ? 0x10116
                      : png->colour == 3 ? 0x116
                      : png->colour == 2 || png->colour == 4 || png->colour == 6
                          ? 0x10100
                          : 0;
    if (png->width == 0 || png->width > INT32_MAX || png->height == 0 ||
        png->height > INT32_MAX || png->depth > 16 ||
        (depths >> png->depth & 1) == 0 || ihdr[ihdrcompression] != 0 ||
        ihdr[ihdrfilter] != 0 || png->interlaced > 1)
        return -1;
    return 1;
}

// Adam7's seven passes: where each starts, and its steps, across and down.
static const int passx[7] = {0, 4, 0, 2, 0, 1, 0};
static const int passy[7] = {0, 0, 4, 0, 2, 0, 1};
static const int passdx[7] = {8, 8, 4, 4, 2, 2, 1};
static const int passdy[7] = {8, 8, 8, 4, 4, 2, 2};

// passrows: in *rows and *rowsize, how many rows pass p (of 7 when
// interlaced, else the one pass) of the picture holds and the bytes of
// each, its filter byte included; 0 rows for a pass with no pixel.
static void passrows(const pnginfo *png, int p, int64_t *rows,
                     int64_t *rowsize) {
    int64_t x = png->width;
    int64_t y = png->height;
    if (png->interlaced) {
        x = (png->width - passx[p] + passdx[p] - 1) / passdx[p];
        y = (png->height - passy[p] + passdy[p] - 1) / passdy[p];
    }
    int samples = png->colour == 2   ? 3
                  : png->colour == 4 ? 2
                  : png->colour == 6 ? 4
                                     : 1;
    *rows = x > 0 ? y : 0;
    *rowsize = (samples * x * png->depth + 7) / 8 + 1;
}

// The chunks the rewrite keeps, found by the walk.
struct pngparts {
    const unsigned char *palette; // the palette's data, or NULL
    size_t palettesize;
    const unsigned char *alpha; // the transparency chunk's data, or NULL
    size_t alphasize;
    int alphaseen;    // a transparency chunk was taken, even if cancelled
    size_t firstidat; // where the first image data chunk starts
};

// alphataken: whether libpng takes a transparency chunk of length bytes
// here: before the image data and the first taken, of 2 bytes for grey, 6
// for colour, for a palette after it and of 1 to as many bytes as it has
// entries, and never with an alpha channel.
static int alphataken(const pngparts *parts, int colour, int idat,
                      uint32_t length) {
    if (idat || parts->alphaseen)
        return 0;
    if (colour == 0)
        return length == 2;
    if (colour == 2)
        return length == 6;
    if (colour == 3)
        return parts->palette != NULL && length >= 1 &&
               length <= parts->palettesize / 3;
    return 0;
}

// walkchunks: the chunks of data (size bytes, the PNG that png describes)
// after the header, to the end chunk, checked as libpng checks them
// (pngrewrite.h), into *parts. Returns 0, or -1 for a file that is refused.
static int walkchunks(const unsigned char *data, size_t size,
                      const pnginfo *png, pngparts *parts) {
    size_t most = (size_t)1 << (png->depth <= 8 ? png->depth : 8);
    int palettes = 0;
    int idat = 0;
    size_t at = png->headerat + chunkframe + ihdrsize;
    for (;;) {
        if (!wholechunk(data, size, at))
            return -1; // cut off, no end chunk, or not a chunk at all
        uint32_t length = be32(data + at);
        const unsigned char *type = data + at + 4;
        const unsigned char *body = data + at + 8;
        size_t start = at;
        at += chunkframe + length;
        int critical = (type[0] & 0x20) == 0;
        if (chunkcrc(type, 4 + (size_t)length) != be32(body + length)) {
            if (critical)
                return -1;
            continue; // an ancillary chunk libpng drops
        }
        if (memcmp(type, "IDAT", 4) == 0) {
            if (!idat && png->colour == 3 && parts->palette == NULL)
                return -1;
            if (!idat)
                parts->firstidat = start;
            idat = 1;
        } else if (memcmp(type, "IEND", 4) == 0) {
            return idat ? 0 : -1;
        } else if (memcmp(type, "PLTE", 4) == 0) {
            // A second one is refused; one after the image data libpng
            // ignores (and does not count), and so one in a grey picture.
            if (palettes > 0)
                return -1;
            if (idat)
                continue;
            palettes = 1;
            if ((png->colour & 2) == 0)
                continue;
            if (length > 3 * 256 || length % 3 != 0) {
                if (png->colour == 3)
                    return -1;
                continue; // a colour picture's suggested palette, unread
            }
            if (length == 0)
                return -1;
            // Entries past what the bit depth can name, libpng drops.
            if (png->colour == 3) {
                parts->palette = body;
                parts->palettesize = length / 3 < most ? length : 3 * most;
            }
            // A transparency chunk must come after the palette: one before
            // it is cancelled, and still counts as the one taken.
            parts->alpha = NULL;
            parts->alphasize = 0;
        } else if (memcmp(type, "tRNS", 4) == 0) {
            if (alphataken(parts, png->colour, idat, length)) {
                parts->alpha = body;
                parts->alphasize = length;
                parts->alphaseen = 1;
            }
        } else if (critical) {
            return -1; // the header again, or a chunk libpng does not know
        }
    }
}

// The image data as libpng reads it: zlib's stream, the chunk it is taking
// data from, and that chunk's data not yet handed over.
struct idatreader {
    z_stream z;
    const unsigned char *file;
    size_t chunk;
    const unsigned char *next;
    size_t left;
    int ended;
};

// readidat: inflates want bytes into out, the next row, as libpng's
// png_read_IDAT_data does; or, when out is NULL, what the stream holds
// after the last row, into a scratch buffer, until the stream ends or zlib
// stops making bytes. The data of one image data chunk after another is
// handed over, never past a chunk that is not one (the walk saw that the
// end chunk follows). Returns 0, or -1 for data libpng refuses (a row that
// zlib refuses, or that the stream or the chunks end before; after the
// last row only chunks that end while the stream goes on) or that is past
// either limit (pngrewrite.h).
static int readidat(idatreader *r, unsigned char *out, size_t want) {
    unsigned char scratch[scratchsize];
    r->z.next_out = out;
    // The bytes still to make for the row; after the last row, those made.
    size_t count = want;
    do {
        if (r->z.avail_in == 0) {
            while (r->left == 0) {
                r->chunk += chunkframe + be32(r->file + r->chunk);
                if (memcmp(r->file + r->chunk + 4, "IDAT", 4) != 0)
                    return -1;
                r->next = r->file + r->chunk + 8;
                r->left = be32(r->file + r->chunk);
            }
            size_t n = r->left < idatreadsize ? r->left : idatreadsize;
            r->z.next_in = r->next;
            r->z.avail_in = (uInt)n;
            r->next += n;
            r->left -= n;
        }
        if (out != NULL) {
            r->z.avail_out = (uInt)count;
            count = 0;
        } else {
            r->z.next_out = scratch;
            r->z.avail_out = sizeof scratch;
        }
        int result = inflate(&r->z, Z_NO_FLUSH);
        count += out != NULL ? r->z.avail_out : sizeof scratch - r->z.avail_out;
        if (r->z.total_in > pngstreamlimit ||
            r->z.total_out > decoderblocklimit)
            return -1;
        if (result == Z_STREAM_END) {
            r->ended = 1;
            break;
        }
        if (result != Z_OK)
            return out != NULL ? -1 : 0;
    } while (count > 0);
    return out != NULL && count > 0 ? -1 : 0;
}

// inflaterows: the image data of data (from the chunk at firstidat on),
// inflated as libpng inflates it, each row of each pass in turn into rows,
// which holds every byte the picture needs. Returns 0 or -1 (readidat).
static int inflaterows(const pnginfo *png, const unsigned char *data,
                       size_t firstidat, unsigned char *rows) {
    idatreader r;
    memset(&r, 0, sizeof r);
    r.file = data;
    r.chunk = firstidat;
    r.next = data + firstidat + 8;
    r.left = be32(data + firstidat);
    // A window of 0: the one the stream's header names.
    if (inflateInit2(&r.z, 0) != Z_OK)
        return -1;
    int result = 0;
    for (int p = 0; p < (png->interlaced ? 7 : 1) && result == 0; p++) {
        int64_t count = 0;
        int64_t rowsize = 0;
        passrows(png, p, &count, &rowsize);
        for (int64_t y = 0; y < count && result == 0; y++) {
            result = readidat(&r, rows, (size_t)rowsize);
            rows += rowsize;
        }
    }
    if (result == 0 && !r.ended)
        result = readidat(&r, NULL, 0);
    inflateEnd(&r.z);
    return result;
}

// putchunk: a chunk of type with length bytes of data at out; returns the
// bytes written.
static size_t putchunk(unsigned char *out, const char *type,
                       const unsigned char *data, size_t length) {
    putbe32(out, (uint32_t)length);
    memcpy(out + 4, type, 4);
    if (length > 0)
        memcpy(out + 8, data, length);
    putbe32(out + 8 + length, chunkcrc(out + 4, 4 + length));
    return chunkframe + length;
}

int rewritepng(const pnginfo *png, unsigned char **data, size_t *size) {
    // The rows the picture needs, in one stored block: at most 65535 bytes,
    // three times what a 50 by 50 picture needs at most.
    int64_t need = 0;
    for (int p = 0; p < (png->interlaced ? 7 : 1); p++) {
        int64_t rows = 0;
        int64_t rowsize = 0;
        passrows(png, p, &rows, &rowsize);
        if (rows > 65535 || rowsize > 65535)
            return -1;
        need += rows * rowsize;
    }
    if (need > 65535)
        return -1;
    // The new stream: a zlib header (deflate, a 32 KiB window, no
    // dictionary), the final block, stored, its length and complement, the
    // rows inflated straight into it, then their Adler-32. Zeros to start
    // with, so that no fault here could hand on memory the file never
    // filled.
    size_t stored = (size_t)need;
    size_t streamsize = 2 + 5 + stored + 4;
    unsigned char *stream = (unsigned char *)calloc(1, streamsize);
    pngparts parts;
    memset(&parts, 0, sizeof parts);
    if (stream == NULL || walkchunks(*data, *size, png, &parts) != 0 ||
        inflaterows(png, *data, parts.firstidat, stream + 7) != 0) {
        free(stream);
        return -1;
    }
    stream[0] = 0x78;
    stream[1] = 0x01;
    stream[2] = 1;
    putle16(stream + 3, (uint32_t)stored);
    putle16(stream + 5, (uint32_t)~stored & 0xffff);
    putbe32(stream + 7 + stored,
            (uint32_t)adler32(1, stream + 7, (uInt)stored));

    size_t header = chunkframe + ihdrsize;
    size_t outsize = 8 + header + chunkframe + parts.palettesize + chunkframe +
                     parts.alphasize + chunkframe + streamsize + chunkframe;
    unsigned char *out = (unsigned char *)malloc(outsize);
    if (out == NULL) {
        free(stream);
        return -1;
    }
    memcpy(out, pngsignature, 8);
    memcpy(out + 8, *data + png->headerat, header);
    size_t length = 8 + header;
    if (parts.palette != NULL)
        length +=
            putchunk(out + length, "PLTE", parts.palette, parts.palettesize);
    if (parts.alpha != NULL)
        length += putchunk(out + length, "tRNS", parts.alpha, parts.alphasize);
    length += putchunk(out + length, "IDAT", stream, streamsize);
    length += putchunk(out + length, "IEND", NULL, 0);
    free(stream);
    free(*data);
    *data = out;
    *size = length;
    return 0;
}
