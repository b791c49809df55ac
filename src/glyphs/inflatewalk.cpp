#include "inflatewalk.h"

#include <cstdint>
#include <cstring>

// A deflate stream is read a bit at a time, lowest bit of each byte first.
// over notes a read past the end: the library would read
// zeros there, and a glyph from a cut-off stream is no glyph.
struct bitreader {
    const unsigned char *data;
    size_t size;
    size_t at;
    uint32_t bits;
    int count;
    int over;
};

// getbits: the next n bits (0 to 16), the first one lowest.
static unsigned getbits(bitreader *in, int n) {
    while (in->count < n) {
        if (in->at == in->size) {
            in->over = 1;
            return 0;
        }
        in->bits |= (uint32_t)in->data[in->at++] << in->count;
        in->count += 8;
    }
    unsigned value = in->bits & ((1u << n) - 1);
    in->bits >>= n;
    in->count -= n;
    return value;
}

// A canonical Huffman code: how many codes there are of each length, and
// the symbols in the order of their codes. Codes are decoded a bit at a
// time: a one-step lookup table, as the library and zlib build, costs more
// to fill than it saves on a glyph's few thousand symbols, and a block that
// holds none at all still pays for it.
struct huffman {
    short count[16];
    short symbol[288];
};

// buildhuffman: the code for n symbols with the given code lengths (0: not
// used). Returns 0 when the lengths ask for more codes than there are, which
// the library refuses; a code with room to spare it takes, and so does this.
static int buildhuffman(huffman *code, const unsigned char *lengths, int n) {
    memset(code->count, 0, sizeof code->count);
    for (int i = 0; i < n; i++)
        code->count[lengths[i]]++;
    code->count[0] = 0;
    int left = 1;
    for (int len = 1; len < 16; len++) {
        left = 2 * left - code->count[len];
        if (left < 0)
            return 0;
    }
    short next[16];
    next[1] = 0;
    for (int len = 1; len < 15; len++)
        next[len + 1] = (short)(next[len] + code->count[len]);
    for (int i = 0; i < n; i++)
        if (lengths[i] != 0)
            code->symbol[next[lengths[i]]++] = (short)i;
    return 1;
}

// decodesymbol: the next symbol, or -1 for bits that are no code. Codes
// arrive first bit highest, and of each length they follow on from the
// shorter ones.
static int decodesymbol(bitreader *in, const huffman *code) {
    int value = 0;
    int first = 0;
    int index = 0;
    for (int len = 1; len < 16; len++) {
        value |= (int)getbits(in, 1);
        int count = code->count[len];
        if (value - first < count)
            return code->symbol[index + value - first];
        index += count;
        first = (first + count) << 1;
        value <<= 1;
    }
    return -1;
}

// Lengths 3 to 258 and distances 1 to 32768: the base of each symbol and
// the extra bits that follow it.
static const short lengthbase[29] = {
    3,  4,  5,  6,  7,  8,  9,  10, 11,  13,  15,  17,  19,  23, 27,
    31, 35, 43, 51, 59, 67, 83, 99, 115, 131, 163, 195, 227, 258};
static const unsigned char lengthextra[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1,
                                              1, 1, 2, 2, 2, 2, 3, 3, 3, 3,
                                              4, 4, 4, 4, 5, 5, 5, 5, 0};
static const unsigned short distancebase[30] = {
    1,    2,    3,    4,    5,    7,    9,    13,    17,    25,
    33,   49,   65,   97,   129,  193,  257,  385,   513,   769,
    1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
static const unsigned char distanceextra[30] = {
    0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
    6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

// walkblock: the symbols of one compressed block, to its end code, counted
// onto out, the bytes inflated so far. Returns the new count, or -1 for a
// code the library refuses, a distance back past the start, or more than
// most bytes, as soon as the count passes it.
static int64_t walkblock(bitreader *in, const huffman *literals,
                         const huffman *distances, int64_t out, int64_t most) {
    for (;;) {
        int symbol = decodesymbol(in, literals);
        if (symbol < 0 || symbol > 285 || in->over)
            return -1;
        if (symbol == 256)
            return out;
        if (symbol < 256) {
            out++;
        } else {
            symbol -= 257;
            int length =
                lengthbase[symbol] + (int)getbits(in, lengthextra[symbol]);
            int d = decodesymbol(in, distances);
            if (d < 0 || d > 29)
                return -1;
            int64_t distance = distancebase[d] + getbits(in, distanceextra[d]);
            if (distance > out)
                return -1;
            out += length;
        }
        if (out > most)
            return -1;
    }
}

// readcodes: the two codes a dynamic block begins with, themselves coded.
// Returns 0 when they are malformed.
static int readcodes(bitreader *in, huffman *literals, huffman *distances) {
    static const unsigned char order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
    int nliterals = (int)getbits(in, 5) + 257;
    int ndistances = (int)getbits(in, 5) + 1;
    int ncodes = (int)getbits(in, 4) + 4;
    unsigned char lengths[288 + 32];
    memset(lengths, 0, sizeof lengths);
    for (int i = 0; i < ncodes; i++)
        lengths[order[i]] = (unsigned char)getbits(in, 3);
    huffman lengthcode;
    if (!buildhuffman(&lengthcode, lengths, 19))
        return 0;
    int total = nliterals + ndistances;
    for (int n = 0; n < total;) {
        int symbol = decodesymbol(in, &lengthcode);
        if (symbol < 0 || in->over)
            return 0;
        if (symbol < 16) {
            lengths[n++] = (unsigned char)symbol;
            continue;
        }
        unsigned char fill = 0;
        int repeat = 0;
        if (symbol == 16) {
            if (n == 0)
                return 0;
            fill = lengths[n - 1];
            repeat = 3 + (int)getbits(in, 2);
        } else if (symbol == 17) {
            repeat = 3 + (int)getbits(in, 3);
        } else {
            repeat = 11 + (int)getbits(in, 7);
        }
        if (n + repeat > total)
            return 0;
        memset(lengths + n, fill, (size_t)repeat);
        n += repeat;
    }
    return buildhuffman(literals, lengths, nliterals) &&
           buildhuffman(distances, lengths + nliterals, ndistances);
}

int64_t inflatedsize(const unsigned char *data, size_t size, int zlibheader,
                     int64_t most) {
    bitreader in = {data, size, 0, 0, 0, 0};
    if (zlibheader) {
        // The library checks the two header bytes itself.
        getbits(&in, 16);
    }
    int64_t out = 0;
    int coded = 0;
    huffman literals;
    huffman distances;
    // The fixed codes, built at the first block that uses them.
    huffman fixedliterals;
    huffman fixeddistances;
    int fixedbuilt = 0;
    for (;;) {
        unsigned final = getbits(&in, 1);
        unsigned type = getbits(&in, 2);
        if (type == 0) {
            // Stored: from the next whole byte, a length, its complement,
            // and that many bytes, which the library copies without
            // building any code; each takes at least four bytes of the
            // file, so the file's size bounds how many there are.
            getbits(&in, in.count & 7);
            unsigned length = getbits(&in, 16);
            if (getbits(&in, 16) != (~length & 0xffffu))
                return -1;
            out += length;
            for (; length > 0 && in.count > 0; length--)
                getbits(&in, 8);
            if (in.size - in.at < length)
                return -1;
            in.at += length;
        } else if (type == 3 || ++coded > maxdeflateblocks) {
            return -1;
        } else if (type == 1) {
            if (!fixedbuilt) {
                unsigned char lengths[288 + 32];
                memset(lengths, 8, 144);
                memset(lengths + 144, 9, 112);
                memset(lengths + 256, 7, 24);
                memset(lengths + 280, 8, 8);
                memset(lengths + 288, 5, 32);
                buildhuffman(&fixedliterals, lengths, 288);
                buildhuffman(&fixeddistances, lengths + 288, 32);
                fixedbuilt = 1;
            }
            out = walkblock(&in, &fixedliterals, &fixeddistances, out, most);
        } else {
            if (!readcodes(&in, &literals, &distances))
                return -1;
            out = walkblock(&in, &literals, &distances, out, most);
        }
        if (out < 0 || out > most || in.over)
            return -1;
        if (final)
            return out;
    }
}
