#include "pngrewrite.h"

#include <cstdlib>
#include <cstring>

#include "byteorder.h"
#include "inflate.h"
#include "stbimage.h"

static const unsigned char pngsignature[8] = {0x89, 'P',  'N',  'G',
                                              '\r', '\n', 0x1a, '\n'};

// A chunk: its length, type and CRC take 12 bytes besides its data; the
// header chunk's data is 13 bytes, right after the signature.
static const size_t chunkframe = 12;
static const size_t headerdata = 13;
static const size_t headerend = 8 + chunkframe + headerdata;

uint32_t chunkcrc(const unsigned char *data, size_t size) {
    // The table of the remainders of every byte, made at the first call.
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; n++) {
            uint32_t c = n;
            for (int k = 0; k < 8; k++)
                c = c & 1 ? 0xedb88320u ^ c >> 1 : c >> 1;
            table[n] = c;
        }
    }
    uint32_t crc = 0xffffffffu;
    for (size_t i = 0; i < size; i++)
        crc = table[(crc ^ data[i]) & 0xff] ^ crc >> 8;
    return crc ^ 0xffffffffu;
}

// pngimagesize: the bytes of image data the header's data (ihdr, 13 bytes)
// implies, each row with its filter byte, for each of the seven passes when
// interlaced, as libpng and the image library count them. Sides are at most
// 2^31 - 1 here, so no product leaves 64 bits; past decoderblocklimit the
// count stops.
static int64_t pngimagesize(const unsigned char *ihdr) {
    static const int xstart[7] = {0, 4, 0, 2, 0, 1, 0};
    static const int ystart[7] = {0, 0, 4, 0, 2, 0, 1};
    static const int xstep[7] = {8, 8, 4, 4, 2, 2, 1};
    static const int ystep[7] = {8, 8, 8, 4, 4, 2, 2};
    int64_t width = be32(ihdr);
    int64_t height = be32(ihdr + 4);
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
        if (x > 0 && y > 0) {
            int64_t row = (samples * x * depth + 7) / 8 + 1;
            total += row <= (int64_t)decoderblocklimit ? row * y : row;
        }
    }
    return total;
}

// pngkind: readpngheader's verdict alone.
static int pngkind(const unsigned char *data, size_t size) {
    if (size < 8 || memcmp(data, pngsignature, 8) != 0)
        return 0;
    if (size < headerend || be32(data + 8) != headerdata ||
        memcmp(data + 12, "IHDR", 4) != 0 ||
        chunkcrc(data + 12, 4 + headerdata) != be32(data + headerend - 4))
        return -1;
    uint32_t width = be32(data + 16);
    uint32_t height = be32(data + 20);
    if (width == 0 || width > INT32_MAX || height == 0 || height > INT32_MAX)
        return -1;
    return 1;
}

int readpngheader(const unsigned char *data, size_t size, int64_t *width,
                  int64_t *height) {
    int kind = pngkind(data, size);
    if (kind == 1) {
        *width = be32(data + 16);
        *height = be32(data + 20);
    }
    return kind;
}

// isletter: whether c is an ASCII letter, as every byte of a chunk's type.
static int isletter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// The chunks the rewrite keeps, found by the walk.
struct pngparts {
    const unsigned char *palette; // the palette's data, or NULL
    size_t palettesize;
    const unsigned char *alpha; // the transparency chunk's data, or NULL
    size_t alphasize;
    unsigned char *stream; // the image data, joined
    size_t streamsize;
};

// alphataken: whether libpng takes a transparency chunk of length bytes
// here: before the image data and the only one so far, of 2 bytes for grey,
// 6 for colour, for a palette after it and of 1 to as many bytes as it has
// entries, and never with an alpha channel.
static int alphataken(const pngparts *parts, int colour, int idat,
                      uint32_t length) {
    if (idat || parts->alpha != NULL)
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

// walkchunks: the chunks of data (size bytes, a PNG whose header chunk is
// whole) after the header, checked as libpng checks them (pngrewrite.h),
// into *parts; parts->stream holds size bytes. Returns 0, or -1 for a file
// that is refused.
static int walkchunks(const unsigned char *data, size_t size, pngparts *parts) {
    int colour = data[16 + 9];
    int depth = data[16 + 8];
    size_t most = (size_t)1 << (depth <= 8 ? depth : 8);
    int palettes = 0;
    int idat = 0; // 0: none yet, 1: in their run, 2: the run has ended
    size_t at = headerend;
    for (;;) {
        if (size - at < chunkframe)
            return -1; // cut off, or no end chunk
        uint32_t length = be32(data + at);
        const unsigned char *type = data + at + 4;
        const unsigned char *body = data + at + 8;
        if (length >= 0x80000000u || size - at - chunkframe < length)
            return -1;
        at += chunkframe + length;
        if (!isletter(type[0]) || !isletter(type[1]) || !isletter(type[2]) ||
            !isletter(type[3]))
            return -1;
        int critical = (type[0] & 0x20) == 0;
        int whole = chunkcrc(type, 4 + (size_t)length) == be32(body + length);
        int isidat = memcmp(type, "IDAT", 4) == 0;
        if (idat == 1 && !isidat)
            idat = 2;
        if (!whole && critical)
            return -1;
        if (!whole)
            continue; // an ancillary chunk libpng drops
        if (isidat) {
            if (idat == 2 || (colour == 3 && parts->palette == NULL))
                return -1;
            idat = 1;
            memcpy(parts->stream + parts->streamsize, body, length);
            parts->streamsize += length;
        } else if (memcmp(type, "IEND", 4) == 0) {
            return idat ? 0 : -1;
        } else if (memcmp(type, "PLTE", 4) == 0) {
            // A second one is refused; one after the image data libpng
            // ignores (and does not count), and one in a picture of no
            // palette gives no pixel its colour.
            if (palettes > 0)
                return -1;
            if (idat)
                continue;
            palettes = 1;
            if (colour != 3)
                continue;
            if (length == 0 || length % 3 != 0 || length > 3 * 256)
                return -1;
            // Entries past what the bit depth can name, libpng drops.
            parts->palette = body;
            parts->palettesize = length / 3 < most ? length : 3 * most;
        } else if (memcmp(type, "tRNS", 4) == 0) {
            if (alphataken(parts, colour, idat, length)) {
                parts->alpha = body;
                parts->alphasize = length;
            }
        } else if (critical) {
            return -1; // the header again, or a chunk libpng does not know
        }
    }
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

int rewritepng(unsigned char **data, size_t *size) {
    int kind = pngkind(*data, *size);
    if (kind <= 0)
        return kind;
    pngparts parts;
    memset(&parts, 0, sizeof parts);
    parts.stream = (unsigned char *)malloc(*size);
    unsigned char *inflated = (unsigned char *)malloc(decoderblocklimit);
    int64_t need = pngimagesize(*data + 16);
    int64_t got = -1;
    if (parts.stream != NULL && inflated != NULL &&
        walkchunks(*data, *size, &parts) == 0)
        got = inflatezlib(parts.stream, parts.streamsize, inflated,
                          decoderblocklimit);
    free(parts.stream);
    if (got < need) {
        free(inflated);
        return -1;
    }

    // The stored blocks of the new stream: at most 65535 bytes each, with
    // a byte of type and four of length before each.
    size_t stored = (size_t)need;
    size_t blocks = (stored + 65534) / 65535;
    size_t streamsize = 2 + 5 * blocks + stored + 4;
    size_t outsize = headerend + chunkframe + parts.palettesize + chunkframe +
                     parts.alphasize + chunkframe + streamsize + chunkframe;
    unsigned char *out = (unsigned char *)malloc(outsize);
    unsigned char *stream = (unsigned char *)malloc(streamsize);
    if (out == NULL || stream == NULL) {
        free(out);
        free(stream);
        free(inflated);
        return -1;
    }
    // A zlib header (deflate, a 32 KiB window, no dictionary), the blocks,
    // then the Adler-32 of what they hold.
    stream[0] = 0x78;
    stream[1] = 0x01;
    size_t at = 2;
    for (size_t done = 0; done < stored;) {
        size_t n = stored - done < 65535 ? stored - done : 65535;
        stream[at] = done + n == stored ? 1 : 0;
        putle16(stream + at + 1, (uint32_t)n);
        putle16(stream + at + 3, (uint32_t)~n & 0xffff);
        memcpy(stream + at + 5, inflated + done, n);
        at += 5 + n;
        done += n;
    }
    putbe32(stream + at, adlersum(inflated, stored));
    free(inflated);

    memcpy(out, *data, headerend);
    size_t length = headerend;
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
