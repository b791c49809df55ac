#include "inflate.h"

#include <cstdint>
#include <cstring>

// A deflate stream is read a bit at a time, lowest bit of each byte first.
// over notes a read past the end: a stream cut off is a damaged file.
struct bitreader {
    const unsigned char *data;
    size_t size;
    size_t at;
    uint64_t bits;
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
        in->bits |= (uint64_t)in->data[in->at++] << in->count;
        in->count += 8;
    }
    unsigned value = (unsigned)(in->bits & ((1u << n) - 1));
    in->bits >>= n;
    in->count -= n;
    return value;
}

// Codes of up to this many bits are decoded in one step, from a table; a
// longer one takes the first fastbits from the table's row too, then a bit
// at a time.
static const int fastbits = 9;

// A canonical Huffman code: how many codes there are of each length, the
// symbols in the order of their codes, each length's first code and its
// place in symbol[], and the table of every fastbits-bit prefix as the
// stream holds it (first bit lowest): the symbol << 4 and the length of the
// code it starts with, or 0 when that code is longer (or there is none).
struct huffman {
    short count[16];
    short symbol[288];
    unsigned short firstcode[16];
    short firstindex[16];
    unsigned short fast[1 << fastbits];
};

// reversed15: the low 15 bits of value in the opposite order.
static unsigned reversed15(uint64_t value) {
    unsigned x = (unsigned)value & 0x7fff;
    x = (x >> 1 & 0x5555) | (x & 0x5555) << 1;
    x = (x >> 2 & 0x3333) | (x & 0x3333) << 2;
    x = (x >> 4 & 0x0f0f) | (x & 0x0f0f) << 4;
    x = (x >> 8 & 0x00ff) | (x & 0x00ff) << 8;
    return x >> 1;
}

// buildhuffman: the code for n symbols with the given code lengths (0: not
// used). Returns 0 for lengths zlib refuses: more codes than there are
// (over-subscribed), or fewer (incomplete), except for a code of a single
// 1-bit symbol, which zlib takes for the literals and the distances but not
// for the code lengths' own code (lengthscode), and for no code at all,
// where any symbol read is refused. A symbol in the room a code leaves is
// refused as zlib refuses it.
static int buildhuffman(huffman *code, const unsigned char *lengths, int n,
                        int lengthscode) {
    memset(code->count, 0, sizeof code->count);
    for (int i = 0; i < n; i++)
        code->count[lengths[i]]++;
    int left = 1;
    int longest = 0;
    for (int len = 1; len < 16; len++) {
        left = 2 * left - code->count[len];
        if (left < 0)
            return 0;
        if (code->count[len] != 0)
            longest = len;
    }
    if (left > 0 && longest != 0 && (lengthscode || longest != 1))
        return 0;
    // Each length's first code and first place in symbol[]: the codes of a
    // length follow on from the shorter ones.
    short next[16];
    code->firstcode[1] = 0;
    code->firstindex[1] = 0;
    for (int len = 1; len < 15; len++) {
        code->firstindex[len + 1] =
            (short)(code->firstindex[len] + code->count[len]);
        code->firstcode[len + 1] =
            (unsigned short)((code->firstcode[len] + (unsigned)code->count[len])
                             << 1);
    }
    memcpy(next, code->firstindex, sizeof next);
    for (int i = 0; i < n; i++)
        if (lengths[i] != 0)
            code->symbol[next[lengths[i]]++] = (short)i;
    // The table: each code of up to fastbits bits, in the order the stream
    // holds its bits, fills every row it begins. The codes are taken in
    // their canonical order, counting up in reversed bits as zlib does.
    memset(code->fast, 0, sizeof code->fast);
    unsigned reversedcode = 0;
    int index = 0;
    for (int len = 1; len <= fastbits; len++) {
        for (int k = 0; k < code->count[len]; k++) {
            unsigned entry =
                (unsigned)code->symbol[index++] << 4 | (unsigned)len;
            for (unsigned row = reversedcode; row < (1u << fastbits);
                 row += 1u << len)
                code->fast[row] = (unsigned short)entry;
            unsigned carry = 1u << (len - 1);
            while (reversedcode & carry)
                carry >>= 1;
            reversedcode = carry ? (reversedcode & (carry - 1)) + carry : 0;
        }
    }
    return 1;
}

// decodesymbol: the next symbol, or -1 for bits that are no code, or that
// end before one does. Codes arrive first bit highest, and of each length
// they follow on from the shorter ones.
static int decodesymbol(bitreader *in, const huffman *code) {
    while (in->count <= 56 && in->at < in->size) {
        in->bits |= (uint64_t)in->data[in->at++] << in->count;
        in->count += 8;
    }
    int symbol = -1;
    int len = 1;
    if (in->count >= 15) {
        // Every code is at hand: the table's, or the next 15 bits, first
        // bit highest, against the codes of each longer length.
        unsigned entry = code->fast[in->bits & ((1u << fastbits) - 1)];
        len = (int)(entry & 15);
        symbol = (int)(entry >> 4);
        if (entry == 0) {
            unsigned value = reversed15(in->bits);
            for (int longer = fastbits + 1; longer < 16; longer++) {
                unsigned c = (value >> (15 - longer)) - code->firstcode[longer];
                if (c < (unsigned)code->count[longer]) {
                    len = longer;
                    symbol = code->symbol[code->firstindex[longer] + (int)c];
                    break;
                }
            }
        }
        if (len == 0)
            return -1;
        in->bits >>= len;
        in->count -= len;
        return symbol;
    }
    // The data's last bits: a bit at a time, and no code when they end.
    unsigned value = 0;
    for (; len < 16; len++) {
        if (in->count == 0)
            return -1;
        value = value << 1 | (unsigned)(in->bits & 1);
        in->bits >>= 1;
        in->count--;
        unsigned c = value - code->firstcode[len];
        if (c < (unsigned)code->count[len])
            return code->symbol[code->firstindex[len] + (int)c];
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

// The output so far: capacity bytes at data, at of them written; a copy
// reaches at most window bytes back, the window the stream's header names.
struct output {
    unsigned char *data;
    size_t capacity;
    size_t at;
    size_t window;
};

// inflateblock: the symbols of one compressed block, to its end code,
// written to out. Returns 0, or -1 for a code zlib refuses, a copy from
// before the start or past the window, or more bytes than out holds.
static int inflateblock(bitreader *stream, const huffman *literals,
                        const huffman *distances, output *out) {
    // The reader and the output's end in locals while the block runs, so
    // that the compiler keeps them in registers: a glyph's image data is
    // thousands of symbols, a hostile one a million.
    bitreader in = *stream;
    unsigned char *data = out->data;
    size_t at = out->at;
    const unsigned short *fastliterals = literals->fast;
    const unsigned char *source = in.data;
    const size_t size = in.size;
    const size_t capacity = out->capacity;
    const uint64_t fastmask = (1u << fastbits) - 1;
    int result = -1;
    for (;;) {
        // Literals with codes of up to fastbits bits, the bulk of any
        // stream, from the table as decodesymbol takes them, the reader in
        // plain locals that stay in registers; anything else, and the
        // literal that would fill the output past its end, one symbol at a
        // time below.
        uint64_t bits = in.bits;
        int count = in.count;
        size_t pos = in.at;
        for (;;) {
            if (count < fastbits) {
                while (count <= 56 && pos < size) {
                    bits |= (uint64_t)source[pos++] << count;
                    count += 8;
                }
                if (count < fastbits)
                    break;
            }
            // Not 0 (no code of up to fastbits bits), nor a length or the
            // end code.
            unsigned entry = fastliterals[bits & fastmask];
            if (entry - 1 >= (256u << 4) - 1 || at == capacity) {
                // The end code: the block is done.
                if (entry >> 4 == 256) {
                    bits >>= entry & 15;
                    count -= (int)(entry & 15);
                    result = 0;
                }
                break;
            }
            bits >>= entry & 15;
            count -= (int)(entry & 15);
            data[at++] = (unsigned char)(entry >> 4);
        }
        in.bits = bits;
        in.count = count;
        in.at = pos;
        if (result == 0)
            break;
        int symbol = decodesymbol(&in, literals);
        if (symbol < 0 || symbol > 285 || in.over)
            break;
        if (symbol == 256) {
            result = 0;
            break;
        }
        if (symbol < 256) {
            if (at == capacity)
                break;
            data[at++] = (unsigned char)symbol;
            continue;
        }
        symbol -= 257;
        size_t length =
            (size_t)lengthbase[symbol] + getbits(&in, lengthextra[symbol]);
        int d = decodesymbol(&in, distances);
        if (d < 0 || d > 29 || in.over)
            break;
        size_t distance =
            (size_t)distancebase[d] + getbits(&in, distanceextra[d]);
        if (distance > at || distance > out->window || length > capacity - at)
            break;
        // Byte by byte: a copy may overlap what it makes.
        unsigned char *to = data + at;
        const unsigned char *from = to - distance;
        for (size_t k = 0; k < length; k++)
            to[k] = from[k];
        at += length;
    }
    *stream = in;
    out->at = at;
    return result;
}

// readcodes: the two codes a dynamic block begins with, themselves coded.
// Returns 0 when they are malformed.
static int readcodes(bitreader *in, huffman *literals, huffman *distances) {
    static const unsigned char order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                            11, 4,  12, 3, 13, 2, 14, 1, 15};
    int nliterals = (int)getbits(in, 5) + 257;
    int ndistances = (int)getbits(in, 5) + 1;
    int ncodes = (int)getbits(in, 4) + 4;
    if (nliterals > 286 || ndistances > 30)
        return 0;
    unsigned char lengths[288 + 32];
    memset(lengths, 0, sizeof lengths);
    for (int i = 0; i < ncodes; i++)
        lengths[order[i]] = (unsigned char)getbits(in, 3);
    huffman lengthcode;
    if (!buildhuffman(&lengthcode, lengths, 19, 1))
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
        int repeat;
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
    // A block must be able to end.
    return lengths[256] != 0 && buildhuffman(literals, lengths, nliterals, 0) &&
           buildhuffman(distances, lengths + nliterals, ndistances, 0);
}

uint32_t adlersum(const unsigned char *data, size_t size) {
    uint32_t a = 1;
    uint32_t b = 0;
    while (size > 0) {
        // 5552 bytes at most between reductions keep b inside 32 bits; four
        // at a time, as zlib sums them.
        size_t n = size < 5552 ? size : 5552;
        size -= n;
        for (; n >= 4; n -= 4, data += 4) {
            a += data[0];
            b += a;
            a += data[1];
            b += a;
            a += data[2];
            b += a;
            a += data[3];
            b += a;
        }
        for (; n > 0; n--) {
            a += *data++;
            b += a;
        }
        a %= 65521;
        b %= 65521;
    }
    return b << 16 | a;
}

int64_t inflatezlib(const unsigned char *data, size_t size, unsigned char *out,
                    size_t capacity) {
    bitreader in = {data, size, 0, 0, 0, 0};
    // The header: deflate (8) with a window of at most 2^15 bytes, no
    // preset dictionary, and the two bytes a multiple of 31.
    if (size < 2 || (data[0] & 15) != 8 || data[0] >> 4 > 7 ||
        (data[1] & 32) != 0 || (data[0] << 8 | data[1]) % 31 != 0)
        return -1;
    in.at = 2;
    output inflated = {out, capacity, 0, (size_t)1 << ((data[0] >> 4) + 8)};
    int dynamic = 0;
    huffman literals;
    huffman distances;
    // The fixed codes, built at the first block that uses them.
    huffman fixedliterals;
    huffman fixeddistances;
    int fixedbuilt = 0;
    for (;;) {
        unsigned final = getbits(&in, 1);
        unsigned type = getbits(&in, 2);
        int fine = 1;
        if (type == 0) {
            // Stored: from the next whole byte, a length, its complement,
            // and that many bytes. The reader may hold whole bytes read
            // ahead of the two numbers: it gives them back.
            getbits(&in, in.count & 7);
            unsigned length = getbits(&in, 16);
            fine = getbits(&in, 16) == (~length & 0xffffu) && !in.over;
            in.at -= (size_t)(in.count / 8);
            in.bits = 0;
            in.count = 0;
            fine = fine && in.size - in.at >= length &&
                   inflated.capacity - inflated.at >= length;
            if (fine) {
                memcpy(inflated.data + inflated.at, in.data + in.at, length);
                inflated.at += length;
                in.at += length;
            }
        } else if (type == 1) {
            if (!fixedbuilt) {
                unsigned char lengths[288 + 32];
                memset(lengths, 8, 144);
                memset(lengths + 144, 9, 112);
                memset(lengths + 256, 7, 24);
                memset(lengths + 280, 8, 8);
                memset(lengths + 288, 5, 32);
                buildhuffman(&fixedliterals, lengths, 288, 0);
                buildhuffman(&fixeddistances, lengths + 288, 32, 0);
                fixedbuilt = 1;
            }
            fine = inflateblock(&in, &fixedliterals, &fixeddistances,
                                &inflated) == 0;
        } else if (type == 2 && ++dynamic <= maxdeflateblocks) {
            fine = readcodes(&in, &literals, &distances) &&
                   inflateblock(&in, &literals, &distances, &inflated) == 0;
        } else {
            fine = 0;
        }
        if (!fine || in.over)
            return -1;
        if (final)
            break;
    }
    // The Adler-32 of everything inflated, from the next whole byte.
    getbits(&in, in.count & 7);
    uint32_t check = 0;
    for (int i = 0; i < 4; i++)
        check = check << 8 | getbits(&in, 8);
    if (in.over || check != adlersum(out, inflated.at))
        return -1;
    return (int64_t)inflated.at;
}
