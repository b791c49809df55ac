// The glyph loader on its own: the glyph table, reading files of every BMP
// and PNG layout image tools write, the BMP rewrite, and the walk of a
// PNG's compressed data.
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>
#include <stb_image_write.h>
#ifdef HAVE_ZLIB
#include <zlib.h>
#endif

#include "fillstack.h"
#include "glyphs/bmpinfo.h"
#include "glyphs/bmprewrite.h"
#include "glyphs/byteorder.h"
#include "glyphs/glyphs.h"
#include "glyphs/inflate.h"
#include "glyphs/pngrewrite.h"
#include "glyphs/stbimage.h"
#include "helpers.h"

namespace {

TEST(Glyphs, NamesAndCharactersInLoadingOrder) {
    for (int i = 0; i < glyphcount; i++)
        EXPECT_EQ(glyphfilename(i), glyphfile(i)) << i;
    std::string symbols;
    for (int i = 0; i < glyphcount; i++)
        symbols += glyphcharacter(i);
    EXPECT_EQ(symbols, "abcdefghijklmnopqrstuvwxyz .?");
}

// A small run-length BMP: width by height, RLE4 when nibbles, else RLE8,
// with a palette of 16 entries and the given runs as its pixel data.
bytes rlefile(int width, int height, bool nibbles, const bytes &runs) {
    const uint32_t start = 14 + 40 + 64;
    bytes file(start + runs.size(), 0);
    const uint32_t fields[][2] = {{2, (uint32_t)file.size()},
                                  {10, start},
                                  {14, 40},
                                  {18, (uint32_t)width},
                                  {22, (uint32_t)height},
                                  {26, 1 | (nibbles ? 4u : 8u) << 16},
                                  {30, nibbles ? 2u : 1u},
                                  {46, 16}};
    file[0] = 'B';
    file[1] = 'M';
    for (const auto &f : fields)
        for (int k = 0; k < 4; k++)
            file[f[0] + k] = (unsigned char)(f[1] >> (8 * k));
    for (size_t i = 0; i < runs.size(); i++)
        file[start + i] = runs[i];
    return file;
}

// bmpbytes: a 50 by 50 BMP with a header of hsz bytes stating bits,
// compression and colours, the given 32-bit words inside it from its byte
// 40 on (the masks of a larger header), then after (a 40-byte header's
// masks, or a palette), gap zero bytes, and rows of the pixel byte.
bytes bmpbytes(uint32_t hsz, int bits, uint32_t compression, uint32_t colours,
               const bytes &after, size_t gap, unsigned char pixel,
               const std::vector<uint32_t> &inside = {}) {
    size_t offset = 14 + hsz + after.size() + gap;
    size_t rowbytes = (size_t)(bits * 50 + 31) / 32 * 4;
    bytes file(14 + hsz, 0);
    const uint32_t fields[][2] = {{2, (uint32_t)(offset + rowbytes * 50)},
                                  {10, (uint32_t)offset},
                                  {14, hsz},
                                  {18, 50},
                                  {22, 50},
                                  {26, 1 | (uint32_t)bits << 16},
                                  {30, compression},
                                  {46, colours}};
    file[0] = 'B';
    file[1] = 'M';
    for (const auto &f : fields)
        putle32(file.data() + f[0], f[1]);
    for (size_t i = 0; i < inside.size(); i++)
        putle32(file.data() + 14 + 40 + 4 * i, inside[i]);
    file.insert(file.end(), after.begin(), after.end());
    file.insert(file.end(), gap, 0);
    file.insert(file.end(), rowbytes * 50, pixel);
    return file;
}

// words: 32-bit words as little-endian bytes.
bytes words(const std::vector<uint32_t> &values) {
    bytes out(4 * values.size());
    for (size_t i = 0; i < values.size(); i++)
        putle32(out.data() + 4 * i, values[i]);
    return out;
}

// deflatebits: a deflate stream written by hand, bit by bit, behind a zlib
// header.
struct deflatebits {
    std::string out = "\x78\x01";
    uint32_t bits = 0;
    int n = 0;
};

// putbits: a value of width bits, lowest bit first; putcode: a Huffman code,
// highest bit first.
void putbits(deflatebits *d, uint32_t value, int width) {
    d->bits |= value << d->n;
    for (d->n += width; d->n >= 8; d->n -= 8, d->bits >>= 8)
        d->out += (char)(d->bits & 0xff);
}

void putcode(deflatebits *d, uint32_t code, int width) {
    for (int i = width - 1; i >= 0; i--)
        putbits(d, code >> i & 1, 1);
}

// putend: the last byte's spare bits, then the checksum of what the stream
// inflates to, as zlib ends a stream.
void putend(deflatebits *d, const std::string &inflated) {
    uint32_t a = 1;
    uint32_t b = 0;
    for (unsigned char c : inflated) {
        a = (a + c) % 65521;
        b = (b + a) % 65521;
    }
    putbits(d, 0, (8 - d->n) % 8);
    for (int shift = 24; shift >= 0; shift -= 8)
        putbits(d, (b << 16 | a) >> shift & 0xff, 8);
}

void putstored(deflatebits *d, bool final, const std::string &data) {
    putbits(d, final, 1);
    putbits(d, 0, 2);
    putbits(d, 0, (8 - d->n) % 8);
    putbits(d, (uint32_t)data.size(), 16);
    putbits(d, (uint32_t)~data.size() & 0xffff, 16);
    for (char c : data)
        putbits(d, (unsigned char)c, 8);
}

// withheader: stream with its two header bytes replaced by cmf and flg,
// flg's check bits made right unless broken.
std::string withheader(const std::string &stream, int cmf, int flg,
                       bool broken = false) {
    flg &= 0xe0;
    flg |= (31 - (cmf * 256 + flg) % 31) % 31;
    std::string out = stream;
    out[0] = (char)cmf;
    out[1] = (char)(broken ? flg ^ 1 : flg);
    return out;
}

// firstdistance: the shortest distance of a distance code (0 to 29), and
// in *extra its number of extra bits: codes 0 to 3 stand for 1 to 4, and
// after them each pair of codes doubles the range, with one more extra bit.
int firstdistance(int code, int *extra) {
    *extra = code < 4 ? 0 : (code >> 1) - 1;
    return code < 4 ? code + 1 : ((2 | (code & 1)) << *extra) + 1;
}

// backreference: one final block of fixed codes: before literals, then a
// copy of 3 bytes from distance back, then the end code.
std::string backreference(int before, int distance) {
    deflatebits d;
    putbits(&d, 1, 1);
    putbits(&d, 1, 2);
    for (int i = 0; i < before; i++)
        putcode(&d, 0x30 + 'a', 8);
    putcode(&d, 1, 7); // length 3
    int code = 29;
    int extra = 0;
    while (firstdistance(code, &extra) > distance)
        code--;
    putcode(&d, (uint32_t)code, 5);
    putbits(&d, (uint32_t)(distance - firstdistance(code, &extra)), extra);
    putcode(&d, 0, 7);
    putend(&d, std::string((size_t)before + 3, 'a'));
    return d.out;
}

// chunk: a PNG chunk of the given type and data, its CRC broken when asked.
bytes chunk(const char *type, const std::string &data, bool broken = false) {
    bytes out(8);
    putbe32(out.data(), (uint32_t)data.size());
    memcpy(out.data() + 4, type, 4);
    out.insert(out.end(), data.begin(), data.end());
    out.resize(out.size() + 4);
    putbe32(out.data() + out.size() - 4,
            chunkcrc(out.data() + 4, 4 + data.size()) ^ (broken ? 1 : 0));
    return out;
}

// pngof: a PNG of the given chunks; header: a header chunk's data, for a
// width by height picture of the given depth and colour type.
bytes pngof(const std::vector<bytes> &chunks) {
    bytes out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    for (const bytes &c : chunks)
        out.insert(out.end(), c.begin(), c.end());
    return out;
}

std::string header(uint32_t width, uint32_t height, int depth, int colour,
                   bool interlaced = false) {
    std::string data(13, '\0');
    putbe32((unsigned char *)&data[0], width);
    putbe32((unsigned char *)&data[4], height);
    data[8] = (char)depth;
    data[9] = (char)colour;
    data[12] = interlaced ? 1 : 0;
    return data;
}

// stored: raw as a zlib stream of stored blocks, its Adler-32 after them.
std::string stored(const std::string &raw) {
    deflatebits d;
    for (size_t at = 0; at < raw.size(); at += 65535)
        putstored(&d, at + 65535 >= raw.size(), raw.substr(at, 65535));
    putend(&d, raw);
    return d.out;
}

// rowsof: 50 rows, each a filter byte of 0 and 50 pixels of bytes samples.
std::string rowsof(const std::string &pixel) {
    std::string row = std::string(1, '\0');
    for (int x = 0; x < 50; x++)
        row += pixel;
    std::string rows;
    for (int y = 0; y < 50; y++)
        rows += row;
    return rows;
}

TEST(Glyphs, LoadChecksSizeAndContent) {
    std::string dir = maketempdir();
    bytes grey = testglyph(5);
    bytes big(60 * 50, 128);
    ASSERT_TRUE(
        stbi_write_bmp((dir + "/good.bmp").c_str(), 50, 50, 1, grey.data()));
    ASSERT_TRUE(
        stbi_write_bmp((dir + "/wide.bmp").c_str(), 60, 50, 1, big.data()));
    ASSERT_TRUE(stbi_write_png((dir + "/small.bmp").c_str(), 49, 49, 1,
                               big.data(), 49));
    std::string whole = readfile(dir + "/good.bmp");
    writefile(dir + "/truncated.bmp", whole.substr(0, whole.size() / 2));
    writefile(dir + "/headeronly.bmp", whole.substr(0, 54));
    writefile(dir + "/text.bmp", "this is not a picture\n");
    writefile(dir + "/empty.bmp", "");
    makefolder(dir + "/folder.bmp");
    // A FIFO would block the run; a file past 256 KiB is no glyph.
#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir + "/fifo.bmp").c_str(), 0644), 0);
#endif
    writefile(dir + "/huge.bmp", whole);
    std::filesystem::resize_file(dir + "/huge.bmp", (256 << 10) + 1);
    struct loadcase {
        std::string file;
        int result;
        int width;
        int height;
        int shade;        // every pixel's grey when loaded; -1: testglyph(5)
        int channels = 0; // the file's channel count, when not 0
        int corner = -1;  // the bottom left pixel's grey, when not -1
    };
    std::vector<loadcase> cases = {
        {"good.bmp", glyphloaded, 50, 50, -1},
        {"wide.bmp", glyphwrongsize, 60, 50, 0},
        {"small.bmp", glyphwrongsize, 49, 49, 0},
        {"truncated.bmp", glyphunreadable, 0, 0, 0},
        {"headeronly.bmp", glyphunreadable, 0, 0, 0},
        {"text.bmp", glyphunreadable, 0, 0, 0},
        {"empty.bmp", glyphunreadable, 0, 0, 0},
        {"folder.bmp", glyphunreadable, 0, 0, 0},
#ifndef _WIN32
        {"fifo.bmp", glyphunreadable, 0, 0, 0},
#endif
        {"huge.bmp", glyphunreadable, 0, 0, 0},
        {"missing.bmp", glyphunreadable, 0, 0, 0},
    };
    // Files that lie about themselves. Each is written, and refused but for
    // those whose shade is given.
    auto add = [&](const std::string &name, const bytes &file, int result,
                   int shade = 0, int channels = 0) {
        writefile(dir + "/" + name, std::string(file.begin(), file.end()));
        cases.push_back({name, result, 50, 50, shade, channels});
    };
    // A compression code past 3, at every header size: a code of 2^31 or
    // more was once taken as negative, and as uncompressed.
    for (uint32_t hsz : {40, 52, 56, 64, 108, 124})
        for (uint32_t code : {4u, 5u, 0x7fffffffu, 0x80000000u, 0xffffffffu})
            add("compression-" + std::to_string(code) + "-" +
                    std::to_string(hsz) + ".bmp",
                bmpbytes(hsz, 24, code, 0, {}, 0, 0x80), glyphunreadable);
    // Two colours, white then black: a pixel may name entry 1, never 5,
    // whether or not bytes lie between the palette and the pixels.
    bytes twocolours = {255, 255, 255, 0, 0, 0, 0, 0};
    for (size_t gap : {0, 100}) {
        std::string g = std::to_string(gap);
        add("colours-2-index-1-gap-" + g + ".bmp",
            bmpbytes(40, 8, 0, 2, twocolours, gap, 1), glyphloaded, 0);
        add("colours-2-index-5-gap-" + g + ".bmp",
            bmpbytes(40, 8, 0, 2, twocolours, gap, 5), glyphunreadable);
    }
    // Bit-field masks, after a 40-byte header or inside a 56-byte one, with
    // and without a gap: 5-6-5 reads (every pixel 0, black); a zero colour,
    // equal or overlapping masks, or a mask in two runs does not.
    const struct {
        const char *kind;
        std::vector<uint32_t> masks;
        int result;
    } maskcases[] = {
        {"565", {0xf800, 0x7e0, 0x1f}, glyphloaded},
        {"zero-red", {0, 0x7e0, 0x1f}, glyphunreadable},
        {"equal", {0x7c00, 0x7c00, 0x7c00}, glyphunreadable},
        {"overlapping", {0xfc00, 0x7e0, 0x1f}, glyphunreadable},
        {"two-runs", {0xf001, 0x7e0, 0x1e}, glyphunreadable},
        {"alpha-overlapping", {0xf800, 0x7e0, 0x1f, 0x8000}, glyphunreadable},
        {"red-past-16-bits", {0x7c0000, 0x3e0, 0x1f}, glyphunreadable},
    };
    // Masks after a 40-byte header that the file does not hold.
    bytes cutmasks = bmpbytes(40, 16, 3, 0, {}, 0, 0);
    cutmasks.resize(14 + 40 + 4);
    add("masks-cut-off.bmp", cutmasks, glyphunreadable);
    for (const auto &m : maskcases)
        for (size_t gap : {0, 2}) {
            std::string name =
                std::string("masks-") + m.kind + "-gap-" + std::to_string(gap);
            if (m.masks.size() == 3)
                add(name + "-40.bmp",
                    bmpbytes(40, 16, 3, 0, words(m.masks), gap, 0), m.result);
            add(name + "-56.bmp", bmpbytes(56, 16, 3, 0, {}, gap, 0, m.masks),
                m.result);
        }
    // Run-length glyphs of another size get the size line, as uncompressed
    // ones do, even one that would unpack past what is ever unpacked.
    for (int nibbles : {0, 1}) {
        int width = nibbles ? 60 : 1100;
        int height = nibbles ? 50 : 1000;
        std::string name = nibbles ? "rle4-60x50.bmp" : "rle8-1100x1000.bmp";
        add(name, rlefile(width, height, nibbles, {0, 1}), glyphwrongsize);
        cases.back().width = width;
        cases.back().height = height;
    }
    // BMP headers as most decoders take them. Read: any plane count; pixels
    // from where the offset points, two bytes inside the header (here 0x40
    // twice, so that the bottom left pixel shows them) or in the middle of
    // the palette; a one-colour 1-bit file that holds both entries; 5-6-5
    // masks after a 40-byte header with the pixels right behind them; a
    // run-length picture whose data ends without its end code; rows stored
    // top first. Refused: a colour count past what 8 bits name, and a
    // header that describes no picture.
    for (uint32_t planes : {0, 2}) {
        bytes file = bmpbytes(40, 24, 0, 0, {}, 0, 0x80);
        putle16(file.data() + 26, planes);
        add("planes-" + std::to_string(planes) + ".bmp", file, glyphloaded,
            0x80);
    }
    bytes inside = bmpbytes(40, 24, 0, 0, {}, 0, 0x80);
    putle32(inside.data() + 10, 52);
    inside[52] = inside[53] = 0x40;
    add("offset-inside-header.bmp", inside, glyphloaded, 0x80);
    cases.back().corner = (77 * 0x80 + 150 * 0x40 + 29 * 0x40) >> 8;
    bytes greys(1024, 0x60);
    bytes middle = bmpbytes(40, 8, 0, 0, greys, 0, 1);
    putle32(middle.data() + 10, 14 + 40 + 512);
    add("offset-mid-palette.bmp", middle, glyphloaded, 0x60);
    add("1bit-1-colour-2-held.bmp",
        bmpbytes(40, 1, 0, 1, {0, 0, 0, 0, 0xc0, 0xc0, 0xc0, 0}, 0, 0xff),
        glyphloaded, 0xc0);
    add("1bit-1-colour-1-held.bmp",
        bmpbytes(40, 1, 0, 1, {0, 0, 0, 0}, 0, 0xff), glyphunreadable);
    // Two colours in 4 bits: every first pixel names entry 0, every second
    // entry 5, past them.
    add("4bit-2-colours-index-5-second.bmp",
        bmpbytes(40, 4, 0, 2, twocolours, 0, 0x05), glyphunreadable);
    add("colours-2-index-2.bmp", bmpbytes(40, 8, 0, 2, twocolours, 0, 2),
        glyphunreadable);
    bytes bottomrow = bmpbytes(40, 8, 0, 2, twocolours, 0, 1);
    bottomrow[14 + 40 + 8] = 5; // the first row stored, the picture's last
    add("colours-2-index-5-in-the-bottom-row.bmp", bottomrow, glyphunreadable);
    bytes oddheader = bmpbytes(40, 24, 0, 0, {}, 0, 0x80);
    putle32(oddheader.data() + 14, 20);
    add("header-size-20.bmp", oddheader, glyphunreadable);
    add("masks-565-white-40.bmp",
        bmpbytes(40, 16, 3, 0, words({0xf800, 0x7e0, 0x1f}), 0, 0xff),
        glyphloaded, 255);
    bytes runs;
    for (int y = 0; y < 50; y++)
        runs.insert(runs.end(), {50, 1, 0, 0});
    bytes noend = rlefile(50, 50, false, runs);
    for (int k = 0; k < 3; k++)
        noend[14 + 40 + 4 + k] = 0xe0;
    add("rle8-no-end-code.bmp", noend, glyphloaded, 0xe0);
    for (uint32_t colours : {257u, 1000u, 0xffffffffu})
        add("colours-" + std::to_string(colours) + ".bmp",
            bmpbytes(40, 8, 0, colours, greys, 0, 1), glyphunreadable);
    const int32_t sides[][2] = {{50, 0}, {50, INT32_MIN}, {-50, 50},
                                {0, 50}, {50, -50},       {1, 50}};
    for (const auto &side : sides) {
        bytes file = bmpbytes(40, 24, 0, 0, {}, 0, 0x80);
        putle32(file.data() + 18, (uint32_t)side[0]);
        putle32(file.data() + 22, (uint32_t)side[1]);
        add("side-" + std::to_string(side[0]) + "-" + std::to_string(side[1]) +
                ".bmp",
            file,
            side[1] == -50 ? glyphloaded
            : side[0] == 1 ? glyphwrongsize
                           : glyphunreadable,
            0x80);
        cases.back().width = side[0];
    }
    // PNGs as libpng reads them. Refused as damaged: a CRC that does not
    // match in a critical chunk, a zlib window code over 7, an Adler-32
    // wrong or missing, image data chunks split by another chunk, a second
    // header or palette, a chunk libpng does not know (Apple's CgBI), a
    // type that is not letters, no end chunk, image data past 1 MiB, a
    // width of 0 or 2^31. Read: an ancillary chunk with a bad CRC, an empty
    // image data chunk among the others, image data past what the picture
    // needs, a transparency chunk libpng ignores, which then gives no
    // alpha channel, and one it takes, which does.
    const std::string ihdr = header(50, 50, 8, 0);
    const std::string raw = rowsof("\x40");
    const std::string data = stored(raw);
    const bytes ihdrchunk = chunk("IHDR", ihdr);
    const bytes idat = chunk("IDAT", data);
    const bytes iend = chunk("IEND", "");
    std::string damaged = data;
    damaged.back() ^= 1;
    std::string wide = header(60, 50, 8, 0);
    std::string zero = header(0, 50, 8, 0);
    std::string huge = header(0x80000000u, 50, 8, 0);
    std::string palettepixels = rowsof("\x01");
    std::string palette("\0\0\0\x40\x40\x40", 6);
    const bytes plte = chunk("PLTE", palette);
    const bytes paletteidat = chunk("IDAT", stored(palettepixels));
    const bytes paletteihdr = chunk("IHDR", header(50, 50, 8, 3));
    const bytes colourihdr = chunk("IHDR", header(50, 50, 8, 2));
    const bytes colouridat = chunk("IDAT", stored(rowsof("\x40\x40\x40")));
    deflatebits flood; // 1 MiB and a bit of zeros: a literal, then copies
    putbits(&flood, 1, 1);
    putbits(&flood, 1, 2);
    putcode(&flood, 0x30, 8);
    for (int i = 0; i < 4065; i++) {
        putcode(&flood, 0xc5, 8); // length 258
        putcode(&flood, 0, 5);    // distance 1
    }
    putcode(&flood, 0, 7);
    putend(&flood, std::string(1 + 4065 * 258, '\0'));
    std::string flushed = "\x78\x01";
    {
        deflatebits d;
        for (size_t i = 0; i < raw.size(); i++)
            putstored(&d, i + 1 == raw.size(), raw.substr(i, 1));
        putend(&d, raw);
        flushed = d.out;
    }
    const struct {
        const char *name;
        std::vector<bytes> chunks;
        int result;
        int channels;
    } pngcases[] = {
        {"plain", {ihdrchunk, idat, iend}, glyphloaded, 1},
        {"header CRC",
         {chunk("IHDR", ihdr, true), idat, iend},
         glyphunreadable,
         0},
        {"palette CRC",
         {paletteihdr, chunk("PLTE", palette, true), paletteidat, iend},
         glyphunreadable,
         0},
        {"image data CRC",
         {ihdrchunk, chunk("IDAT", data, true), iend},
         glyphunreadable,
         0},
        {"end CRC",
         {ihdrchunk, idat, chunk("IEND", "", true)},
         glyphunreadable,
         0},
        {"ancillary CRC",
         {ihdrchunk, chunk("tEXt", "a\0b", true), idat, iend},
         glyphloaded,
         1},
        {"window code 8",
         {ihdrchunk, chunk("IDAT", withheader(data, 0x88, 0x01)), iend},
         glyphunreadable,
         0},
        {"Adler-32 wrong",
         {ihdrchunk, chunk("IDAT", damaged), iend},
         glyphunreadable,
         0},
        {"Adler-32 missing",
         {ihdrchunk, chunk("IDAT", data.substr(0, data.size() - 4)), iend},
         glyphunreadable,
         0},
        {"image data split",
         {ihdrchunk, chunk("IDAT", data.substr(0, 100)), chunk("tEXt", "a\0b"),
          chunk("IDAT", data.substr(100)), iend},
         glyphunreadable,
         0},
        {"an empty image data chunk among them",
         {ihdrchunk, chunk("IDAT", ""), chunk("IDAT", data.substr(0, 100)),
          chunk("IDAT", ""), chunk("IDAT", data.substr(100)), iend},
         glyphloaded,
         1},
        {"second header",
         {ihdrchunk, chunk("IHDR", ihdr), idat, iend},
         glyphunreadable,
         0},
        {"second palette",
         {paletteihdr, plte, plte, paletteidat, iend},
         glyphunreadable,
         0},
        {"second palette after the image data",
         {paletteihdr, plte, paletteidat, plte, iend},
         glyphunreadable,
         0},
        {"16 palette entries, all of them an 8-bit picture's",
         {paletteihdr,
          chunk("PLTE", std::string(30, '\x10') + "\x40\x40\x40" +
                            std::string(15, '\x10')),
          chunk("IDAT", stored(rowsof("\x0a"))), iend},
         glyphloaded,
         3},
        {"257 palette entries",
         {paletteihdr, chunk("PLTE", std::string(3 * 257, '\x40')), paletteidat,
          iend},
         glyphunreadable,
         0},
        {"CgBI",
         {chunk("CgBI", "\x50\0\x20\x02"), ihdrchunk, idat, iend},
         glyphunreadable,
         0},
        {"a digit first in a chunk type",
         {ihdrchunk, chunk("3EXt", "a"), idat, iend},
         glyphunreadable,
         0},
        {"a digit second",
         {ihdrchunk, chunk("t3Xt", "a"), idat, iend},
         glyphunreadable,
         0},
        {"a digit third",
         {ihdrchunk, chunk("tE3t", "a"), idat, iend},
         glyphunreadable,
         0},
        {"a digit last",
         {ihdrchunk, chunk("tEX3", "a"), idat, iend},
         glyphunreadable,
         0},
        {"two palettes after the image data of a grey picture",
         {ihdrchunk, idat, plte, plte, iend},
         glyphloaded,
         1},
        {"no end chunk", {ihdrchunk, idat}, glyphunreadable, 0},
        {"a byte more",
         {ihdrchunk, chunk("IDAT", stored(raw + "x")), iend},
         glyphloaded,
         1},
        {"a row more",
         {ihdrchunk, chunk("IDAT", stored(raw + raw.substr(0, 51))), iend},
         glyphloaded,
         1},
        {"200 KB more",
         {ihdrchunk, chunk("IDAT", stored(raw + std::string(200000, 'x'))),
          iend},
         glyphloaded,
         1},
        {"a block for every byte",
         {ihdrchunk, chunk("IDAT", flushed), iend},
         glyphloaded,
         1},
        {"past 1 MiB",
         {ihdrchunk, chunk("IDAT", flood.out), iend},
         glyphunreadable,
         0},
        {"width 0", {chunk("IHDR", zero), idat, iend}, glyphunreadable, 0},
        {"width 2^31", {chunk("IHDR", huge), idat, iend}, glyphunreadable, 0},
        {"transparency taken, grey",
         {ihdrchunk, chunk("tRNS", std::string(2, '\0')), idat, iend},
         glyphloaded,
         2},
        {"transparency taken, colour",
         {colourihdr, chunk("tRNS", std::string(6, '\0')), colouridat, iend},
         glyphloaded,
         4},
        {"transparency of the wrong length for colour",
         {colourihdr, chunk("tRNS", std::string(7, '\0')), colouridat, iend},
         glyphloaded,
         3},
        {"transparency taken, palette",
         {paletteihdr, plte, chunk("tRNS", "\x80"), paletteidat, iend},
         glyphloaded,
         4},
        {"transparency before the palette",
         {paletteihdr, chunk("tRNS", "\x80"), plte, paletteidat, iend},
         glyphloaded,
         3},
        {"transparency after the image data",
         {paletteihdr, plte, paletteidat, chunk("tRNS", "\x80"), iend},
         glyphloaded,
         3},
        {"transparency longer than the palette",
         {paletteihdr, plte, chunk("tRNS", "\x80\x80\x80"), paletteidat, iend},
         glyphloaded,
         3},
        {"transparency of the wrong length for grey",
         {ihdrchunk, chunk("tRNS", std::string(3, '\0')), idat, iend},
         glyphloaded,
         1},
        {"transparency with alpha",
         {chunk("IHDR", header(50, 50, 8, 4)),
          chunk("tRNS", std::string(2, '\0')),
          chunk("IDAT", stored(rowsof("\x40\xff"))), iend},
         glyphloaded,
         2},
    };
    for (const auto &c : pngcases)
        add(std::string("png-") + c.name + ".bmp", pngof(c.chunks), c.result,
            0x40, c.channels);
    add("png-60x50.bmp", pngof({chunk("IHDR", wide), idat, iend}),
        glyphwrongsize);
    cases.back().width = 60;
    add("png-16777217x50.bmp",
        pngof({chunk("IHDR", header(16777217, 50, 8, 0)), idat, iend}),
        glyphwrongsize);
    cases.back().width = 16777217;
    for (const auto &c : cases) {
        // What the caller had in the glyph before, which a refusal clears.
        unsigned char earlier = 0;
        unsigned char *glyph = &earlier;
        int channels = -1, width = -1, height = -1;
        std::string path = dir + "/" + c.file;
        int result =
            loadglyph(path.c_str(), &glyph, &channels, &width, &height);
        EXPECT_EQ(result, c.result) << c.file;
        if (c.file == "good.bmp") {
            EXPECT_EQ(channels, 3);
        }
        if (c.channels != 0) {
            EXPECT_EQ(channels, c.channels) << c.file;
        }
        if (c.result == glyphloaded && glyph != nullptr) {
            bytes want = c.shade < 0 ? grey : bytes(2500, c.shade);
            if (c.corner >= 0)
                want[49 * 50] = (unsigned char)c.corner;
            EXPECT_EQ(bytes(glyph, glyph + 2500), want) << c.file;
            releaseglyph(glyph);
        } else {
            EXPECT_EQ(glyph, nullptr) << c.file;
        }
        if (c.result == glyphwrongsize) {
            EXPECT_EQ(width, c.width) << c.file;
            EXPECT_EQ(height, c.height) << c.file;
        }
    }
    removetree(dir);
}

// The picture every valid file of the glyph corpus holds, as the script
// that made them draws it.
bytes corpuspicture() {
    bytes grey(2500);
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 50; x++)
            grey[y * 50 + x] =
                (x < 10 && y >= 40) || (3 * x + 7 * y) % 13 < 5 ? 0 : 255;
    return grey;
}

TEST(Glyphs, EveryBmpAndPngLayoutAndNothingElse) {
    // bmp-* and png-*: every bit depth and layout, top-down BMP rows, an
    // interlaced PNG and a chunk over 64 KiB among them, and the BMPs that
    // are rewritten before decoding (run-length coded by ImageMagick,
    // GraphicsMagick and by hand, OS/2's headers from ImageMagick, netpbm
    // and by hand, 52 and 56-byte headers, bytes before the pixels), must
    // give the same picture; shade-* files, of a colour picture, must load
    // (tests/pillowcheck.py compares them with Pillow's reading); cut-* and
    // lie-* (cut off, or with a header that does not match the data) must
    // be refused; and so must every kept glyph-* regression: other formats,
    // and files that once crashed, hung or fooled the loader, but for
    // glyph-loads-*, files that once did so and now give the same picture
    // too, and glyph-reads-*, read now as most decoders read them, whatever
    // picture that makes. Each file is loaded twice, over a stack filled with
    // two patterns, and must give the same result both times: no byte of stack
    // memory may reach a glyph.
    const std::string corpus =
        std::string(SOURCEDIR) + "/tests/fuzz/corpus/glyph";
    const std::string kept = std::string(SOURCEDIR) + "/tests/fuzz/regressions";
    std::vector<std::string> names = filenames(corpus);
    for (const std::string &name : filenames(kept))
        if (name.compare(0, 6, "glyph-") == 0)
            names.push_back("../../regressions/" + name);
    bytes want = corpuspicture();
    int valid = 0;
    int refused = 0;
    for (const std::string &name : names) {
        std::string path = corpus + "/" + name;
        bool shaded = name.compare(0, 6, "shade-") == 0 ||
                      name.find("/glyph-reads-") != std::string::npos;
        bool good = name.compare(0, 4, "bmp-") == 0 ||
                    name.compare(0, 4, "png-") == 0 || shaded ||
                    name.find("/glyph-loads-") != std::string::npos;
        unsigned char *glyph = nullptr;
        unsigned char *again = nullptr;
        int channels = 0, width = 0, height = 0;
        auto start = std::chrono::steady_clock::now();
        fillstack(0x00);
        int result =
            loadglyph(path.c_str(), &glyph, &channels, &width, &height);
        // A ceiling only a hang reaches: a glyph takes milliseconds, even
        // under the sanitizers or qemu; how fast is the benchmark's to say.
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::seconds(30))
            << name;
        fillstack(0xa5);
        EXPECT_EQ(loadglyph(path.c_str(), &again, &channels, &width, &height),
                  result)
            << name;
        if (glyph != nullptr && again != nullptr) {
            EXPECT_TRUE(bytes(glyph, glyph + 2500) ==
                        bytes(again, again + 2500))
                << name;
        }
        releaseglyph(again);
        if (good) {
            valid++;
            ASSERT_EQ(result, glyphloaded) << name;
            EXPECT_TRUE(shaded || bytes(glyph, glyph + 2500) == want) << name;
            releaseglyph(glyph);
        } else {
            refused++;
            EXPECT_NE(result, glyphloaded) << name;
            EXPECT_EQ(glyph, nullptr) << name;
            if (name.find("glyph-") != std::string::npos) {
                EXPECT_EQ(result, glyphunreadable) << name;
            }
        }
    }
    EXPECT_GE(valid, 43);
    EXPECT_GE(refused, 30);
}

TEST(GlyphHeaders, ReadOnceAndJudged) {
    // What the headers alone say, as the loader reads them before anything
    // else: 1 a picture, 0 not this format, -1 refused. Some of these the
    // loader refuses later on in any case; the headers' own reading must
    // refuse them already, so that nothing after it reads past the file.
    bytes bmp8 = bmpbytes(40, 8, 0, 2, {0, 0, 0, 0, 255, 255, 255, 0}, 0, 1);
    bytes bmp16 = bmpbytes(40, 16, 3, 0, words({0xf800, 0x7e0, 0x1f}), 0, 0);
    bytes fullpalette = bmpbytes(40, 8, 0, 2, bytes(1024, 0), 0, 1);
    // bmp8 with one field of its headers set otherwise.
    auto with = [&](uint32_t at, uint32_t value, bool twobytes = false) {
        bytes file = bmp8;
        if (twobytes)
            putle16(file.data() + at, value);
        else
            putle32(file.data() + at, value);
        return file;
    };
    const struct {
        const char *name;
        bytes file;
        size_t cut; // the file's first bytes only, when not 0
        int bmp;
        int png;
        int64_t entries;
    } cases[] = {
        {"a BMP's file header and its header's size alone", bmp8, 18, -1, 0, 0},
        {"17 bytes", bmp8, 17, 0, 0, 0},
        {"masks cut off", bmp16, 14 + 40 + 8, -1, 0, 0},
        {"palette cut off", bmp8, 14 + 40 + 6, -1, 0, 0},
        {"two colours", bmp8, 0, 1, 0, 2},
        {"two colours, a whole palette held", fullpalette, 0, 1, 0, 256},
        {"a header size no BMP has", with(14, 20), 0, -1, 0, 0},
        {"a colour count past 256", with(46, 1000), 0, -1, 0, 0},
        {"a compression code of 4", with(30, 4), 0, -1, 0, 0},
        {"3 bits a pixel", with(28, 3, true), 0, -1, 0, 0},
        {"a width of 0", with(18, 0), 0, -1, 0, 0},
        {"pixels from inside the file header", with(10, 10), 0, -1, 0, 0},
        {"a red mask of 0",
         bmpbytes(40, 16, 3, 0, words({0, 0x7e0, 0x1f}), 0, 0), 0, -1, 0, 0},
        {"a PNG's signature alone", pngof({}), 0, 0, -1, 0},
        {"a PNG header whose CRC is wrong",
         pngof({chunk("IHDR", header(50, 60, 8, 0), true)}), 0, 0, -1, 0},
        {"a PNG 0 wide", pngof({chunk("IHDR", header(0, 60, 8, 0))}), 0, 0, -1,
         0},
        {"a PNG 2^31 high",
         pngof({chunk("IHDR", header(50, 0x80000000u, 8, 0))}), 0, 0, -1, 0},
        {"a PNG's header", pngof({chunk("IHDR", header(50, 60, 8, 0))}), 0, 0,
         1, 0},
    };
    for (const auto &c : cases) {
        bytes file = c.file;
        if (c.cut != 0)
            file.resize(c.cut);
        bmpinfo bmp;
        EXPECT_EQ(readbmpinfo(file.data(), file.size(), &bmp), c.bmp) << c.name;
        if (c.bmp == 1) {
            EXPECT_EQ(bmp.entries, c.entries) << c.name;
        }
        int64_t width = 0;
        int64_t height = 0;
        EXPECT_EQ(readpngheader(file.data(), file.size(), &width, &height),
                  c.png)
            << c.name;
        if (c.png == 1) {
            EXPECT_EQ(width * 1000 + height, 50060) << c.name;
        }
    }
}

// pngimagedata: the image data of a PNG file, its chunks joined as the
// library joins them, or "" for a file that is no whole PNG.
std::string pngimagedata(const std::string &file) {
    std::string joined;
    if (file.compare(0, 8, "\x89PNG\r\n\x1a\n") != 0)
        return joined;
    for (size_t at = 8; file.size() - at >= 12;) {
        const unsigned char *p = (const unsigned char *)file.data() + at;
        size_t length = be32(p);
        if (length > file.size() - at - 12)
            break;
        if (memcmp(p + 4, "IDAT", 4) == 0)
            joined += file.substr(at + 8, length);
        at += length + 12;
    }
    return joined;
}

TEST(PngRewrite, EverySizeInterlacedAndWrittenOnce) {
    // The rewrite hands the library exactly the image data a picture needs,
    // pass by pass when it is interlaced, whatever its size; and what it
    // writes is a PNG read as it was written: rewritten again, the same.
    const int passes[7][4] = {{0, 0, 8, 8}, {4, 0, 8, 8}, {0, 4, 4, 8},
                              {2, 0, 4, 4}, {0, 2, 2, 4}, {1, 0, 2, 2},
                              {0, 1, 1, 2}};
    auto value = [](uint32_t x, uint32_t y) {
        return (char)(unsigned char)(x * 16 + y);
    };
    // Every size from 1 to 17 a side, each way; and 511 by 256, whose
    // 131,072 bytes of image data take three stored blocks.
    std::vector<std::vector<uint32_t>> sizes = {{511, 256, 0}};
    for (uint32_t side = 1; side <= 17; side++)
        for (uint32_t interlaced : {0, 1})
            sizes.push_back({side, side, interlaced});
    for (const auto &s : sizes) {
        uint32_t width = s[0], height = s[1];
        bool interlaced = s[2] != 0;
        {
            std::string raw;
            for (int p = 0; p < (interlaced ? 7 : 1); p++) {
                uint32_t x0 = interlaced ? passes[p][0] : 0;
                uint32_t y0 = interlaced ? passes[p][1] : 0;
                uint32_t dx = interlaced ? passes[p][2] : 1;
                uint32_t dy = interlaced ? passes[p][3] : 1;
                for (uint32_t y = y0; x0 < width && y < height; y += dy) {
                    raw += '\0';
                    for (uint32_t x = x0; x < width; x += dx)
                        raw += value(x, y);
                }
            }
            std::string name = std::to_string(width) + " by " +
                               std::to_string(height) +
                               (interlaced ? " interlaced" : " by rows");
            bytes file =
                pngof({chunk("IHDR", header(width, height, 8, 0, interlaced)),
                       chunk("IDAT", stored(raw)), chunk("IEND", "")});
            size_t size = file.size();
            unsigned char *data = (unsigned char *)malloc(size);
            memcpy(data, file.data(), size);
            ASSERT_EQ(rewritepng(&data, &size), 0) << name;
            bytes once(data, data + size);
            // Its image data ends with the Adler-32 of exactly what the
            // picture needs.
            std::string stream =
                pngimagedata(std::string(once.begin(), once.end()));
            ASSERT_GE(stream.size(), 4u) << name;
            EXPECT_EQ(
                be32((const unsigned char *)stream.data() + stream.size() - 4),
                adlersum((const unsigned char *)raw.data(), raw.size()))
                << name;
            EXPECT_EQ(rewritepng(&data, &size), 0) << name;
            EXPECT_TRUE(bytes(data, data + size) == once) << name;
            free(data);
            int w = 0, h = 0, n = 0;
            unsigned char *pixels = stbi_load_from_memory(
                once.data(), (int)once.size(), &w, &h, &n, 1);
            ASSERT_NE(pixels, nullptr) << name;
            std::string want;
            for (uint32_t y = 0; y < height; y++)
                for (uint32_t x = 0; x < width; x++)
                    want += value(x, y);
            EXPECT_EQ(std::string((char *)pixels, width * height), want)
                << name;
            stbi_image_free(pixels);
        }
    }
}

TEST(BmpRewrite, RunLengthCodes) {
    // Each stream unpacks to 8-bit rows of palette indices, in the order
    // the file stores them (the rows here: width bytes each, padding
    // left out), or is refused ("").
    const struct {
        const char *name;
        int width;
        int height;
        bool nibbles;
        bytes runs;
        const char *rows; // indices as digits, rows separated by "/"
    } cases[] = {
        {"runs, a padded odd absolute run, end of line, end",
         5,
         2,
         false,
         {2, 5, 0, 3, 1, 2, 3, 0, 0, 0, 3, 4, 2, 6, 0, 0, 0, 1},
         "55123/44466"},
        {"a delta right and up, over index 0",
         4,
         3,
         false,
         {1, 9, 0, 2, 1, 1, 1, 8, 0, 1},
         "9000/0080/0000"},
        {"early end of line, early end",
         3,
         3,
         false,
         {1, 7, 0, 0, 2, 3, 0, 1},
         "700/330/000"},
        {"rows stored top first stay so",
         2,
         -2,
         false,
         {2, 1, 0, 0, 2, 2, 0, 1},
         "11/22"},
        {"RLE4: nibbles take turns; absolute runs of 3 and 5",
         11,
         1,
         true,
         {3, 0x12, 0, 3, 0x45, 0x60, 0, 5, 0x78, 0x9a, 0xb0, 0, 0, 1},
         "121456789:;"},
        {"runs into the row's padding are dropped",
         5,
         1,
         false,
         {8, 3, 0, 0, 0, 1},
         "33333"},
        {"RLE4: into the padding of 8 pixels",
         5,
         1,
         true,
         {8, 0x11, 0, 1},
         "11111"},
        {"a run past the padded row", 5, 1, false, {9, 3, 0, 1}, ""},
        {"an absolute run past the padded row",
         5,
         1,
         false,
         {4, 1, 0, 5, 1, 2, 3, 4, 5, 0, 0, 1},
         ""},
        {"a run past the last row", 2, 1, false, {0, 0, 1, 1, 0, 1}, ""},
        {"an end of line past the last row",
         2,
         1,
         false,
         {0, 0, 0, 0, 0, 1},
         ""},
        {"a delta past the picture", 2, 2, false, {0, 2, 0, 3, 0, 1}, ""},
        {"a delta past the padded row", 2, 2, false, {0, 2, 5, 0, 0, 1}, ""},
        {"no end code: the data's end ends the picture",
         2,
         2,
         false,
         {2, 1, 0, 0},
         "11/00"},
        {"an odd absolute run without its padding byte at the end",
         3,
         1,
         false,
         {0, 3, 1, 2, 3},
         "123"},
        {"a move to the padded row's end",
         4,
         2,
         false,
         {1, 3, 0, 2, 3, 0, 0, 0, 4, 1, 0, 1},
         "3000/1111"},
        {"a move as the last code, no end code",
         2,
         2,
         false,
         {1, 5, 0, 2, 1, 0},
         "50/00"},
        {"cut off in an absolute run", 5, 1, false, {0, 5, 1, 2}, ""},
        {"cut off in a delta", 5, 1, false, {0, 2, 1}, ""},
    };
    for (const auto &c : cases) {
        bytes file = rlefile(c.width, c.height, c.nibbles, c.runs);
        size_t size = file.size();
        unsigned char *data = (unsigned char *)malloc(size);
        memcpy(data, file.data(), size);
        bmpinfo bmp;
        ASSERT_EQ(readbmpinfo(data, size, &bmp), 1) << c.name;
        int result = rewritebmp(&bmp, &data, &size);
        std::string rows;
        if (result == 0) {
            // A 40-byte header, 8 bits a pixel, uncompressed, the height
            // kept, the 16 entries, then rows padded to 4 bytes.
            EXPECT_EQ(le32(data + 14), 40u) << c.name;
            EXPECT_EQ((int32_t)le32(data + 22), c.height) << c.name;
            EXPECT_EQ(le16(data + 28), 8u) << c.name;
            EXPECT_EQ(le32(data + 30), 0u) << c.name;
            uint32_t offset = le32(data + 10);
            EXPECT_EQ(offset, 14u + 40 + 64) << c.name;
            int stride = (c.width + 3) & ~3;
            int height = abs(c.height);
            ASSERT_EQ(size, offset + (size_t)stride * height) << c.name;
            for (int y = 0; y < height; y++) {
                for (int x = 0; x < c.width; x++)
                    rows += (char)('0' + data[offset + y * stride + x]);
                rows += y + 1 < height ? "/" : "";
            }
        }
        EXPECT_EQ(result, c.rows[0] ? 0 : -1) << c.name;
        EXPECT_EQ(rows, c.rows) << c.name;
        free(data);
    }
}

#ifdef HAVE_ZLIB
// varied: n bytes on which a compressor uses every length (3 to 258) and
// distance (1 to 32768) code: stretches of noise, each followed by copies
// of earlier bytes, their lengths and distances swept across both ranges.
std::string varied(size_t n, uint32_t state) {
    std::string data;
    for (int step = 0; data.size() < n; step++) {
        for (int k = 0; k < 40; k++) {
            state = state * 1664525u + 1013904223u;
            data += (char)(state >> 24);
        }
        size_t length = 3 + (size_t)step * 37 % 256;
        size_t distance = 1 + (size_t)step * step * 97 % 32768;
        if (distance > data.size())
            distance = data.size();
        for (size_t k = 0; k < length; k++)
            data += data[data.size() - distance];
    }
    return data;
}

// deflated: data compressed by zlib with the given level, strategy and
// window bits, flushing every flushevery bytes when not 0.
std::string deflated(const std::string &data, int level, int strategy,
                     int windowbits, size_t flushevery) {
    z_stream z;
    memset(&z, 0, sizeof z);
    if (deflateInit2(&z, level, Z_DEFLATED, windowbits, 8, strategy) != Z_OK)
        return "";
    std::string out;
    unsigned char chunk[1 << 16];
    size_t at = 0;
    int flush;
    do {
        size_t piece = flushevery ? flushevery : data.size();
        piece = piece < data.size() - at ? piece : data.size() - at;
        z.next_in = (unsigned char *)data.data() + at;
        z.avail_in = (unsigned)piece;
        at += piece;
        flush = at == data.size() ? Z_FINISH : Z_SYNC_FLUSH;
        do {
            z.next_out = chunk;
            z.avail_out = sizeof chunk;
            deflate(&z, flush);
            out.append((char *)chunk, sizeof chunk - z.avail_out);
        } while (z.avail_out == 0);
    } while (flush != Z_FINISH);
    deflateEnd(&z);
    return out;
}
#endif

// canonical: the canonical Huffman codes for the given code lengths (0: no
// code), as deflate assigns them.
std::vector<uint32_t> canonical(const std::vector<int> &lengths) {
    int count[16] = {0};
    for (int l : lengths)
        count[l]++;
    count[0] = 0;
    uint32_t next[16] = {0};
    for (int l = 1; l < 16; l++)
        next[l] = (next[l - 1] + (uint32_t)count[l - 1]) << 1;
    std::vector<uint32_t> codes(lengths.size());
    for (size_t i = 0; i < lengths.size(); i++)
        if (lengths[i] != 0)
            codes[i] = next[lengths[i]]++;
    return codes;
}

// putdynamic: an empty block with codes of its own: the literal and length
// code's lengths (257 to 288 of them), one distance code of length 0, and
// the code lengths' own code (19 lengths, by symbol), which must give
// lengths 0 and 1 and symbol 18 a code. Zeros go as runs of symbol 18. The
// block ends with its end code, or, inroom, with a bit no code begins.
void putdynamic(deflatebits *d, bool final, const std::vector<int> &literals,
                const std::vector<int> &codecode, bool inroom = false,
                int distances = 1) {
    static const int order[19] = {16, 17, 18, 0, 8,  7, 9,  6, 10, 5,
                                  11, 4,  12, 3, 13, 2, 14, 1, 15};
    putbits(d, final, 1);
    putbits(d, 2, 2);
    putbits(d, (uint32_t)literals.size() - 257, 5);
    putbits(d, (uint32_t)distances - 1, 5);
    putbits(d, 15, 4);
    for (int i = 0; i < 19; i++)
        putbits(d, (uint32_t)codecode[order[i]], 3);
    std::vector<uint32_t> codes = canonical(codecode);
    std::vector<int> all = literals;
    all.insert(all.end(), (size_t)distances, 0); // distance codes, unused
    for (size_t i = 0; i < all.size();) {
        size_t run = 0;
        while (all[i] == 0 && i + run < all.size() && all[i + run] == 0 &&
               run < 138)
            run++;
        if (run >= 11) {
            putcode(d, codes[18], codecode[18]);
            putbits(d, (uint32_t)run - 11, 7);
            i += run;
        } else {
            putcode(d, codes[all[i]], codecode[all[i]]);
            i++;
        }
    }
    std::vector<uint32_t> literalcodes = canonical(literals);
    if (inroom) // a 1, where a code of a single 1-bit code has room only
        putbits(d, 1, 1);
    else if (literals[256] != 0)
        putcode(d, literalcodes[256], literals[256]);
}

// endonly: literal lengths that give the end code alone a code, of the
// given length; codecode: the code lengths' code for them, giving 18, 0, 1
// and 2 the given lengths.
std::vector<int> endonly(int length, size_t count = 257) {
    std::vector<int> lengths(count, 0);
    lengths[256] = length;
    return lengths;
}

std::vector<int> codecode(int for18, int for0, int for1, int for2) {
    std::vector<int> lengths(19, 0);
    lengths[18] = for18;
    lengths[0] = for0;
    lengths[1] = for1;
    lengths[2] = for2;
    return lengths;
}

// emptyblocks: count empty blocks of a kind (0 stored, 1 fixed codes, 2
// codes of their own), then a final stored block of 8 bytes.
std::string emptyblocks(int count, int kind) {
    deflatebits d;
    for (int i = 0; i < count; i++) {
        if (kind == 0) {
            putstored(&d, false, "");
        } else if (kind == 1) {
            putbits(&d, 0, 1);
            putbits(&d, 1, 2);
            putcode(&d, 0, 7); // the end code
        } else {
            putdynamic(&d, false, endonly(1), codecode(1, 2, 2, 0));
        }
    }
    putstored(&d, true, "moltravy");
    putend(&d, "moltravy");
    return d.out;
}

TEST(Inflate, AsZlibInflates) {
    // The inflater must make of every stream the bytes zlib makes, as libpng
    // calls it, and the image library too, or refuse it where zlib refuses
    // it: the image data of every PNG of the loader's corpus and kept
    // inputs, streams that use every length and distance code from zlib at
    // every level and strategy, flushed after every byte, copies at the edge
    // of every distance code, damaged headers and checksums, codes zlib
    // refuses, and the limit on blocks with codes of their own.
    struct stream {
        std::string name;
        std::string data;
        int64_t want; // -1 refused; -2 as zlib inflates it
        bool aszlib;  // false where zlib has no such limit or check
    };
    std::vector<stream> streams;
    const std::string root = std::string(SOURCEDIR) + "/tests/fuzz/";
    for (const char *folder : {"corpus/glyph", "regressions"})
        for (const std::string &name : filenames(root + folder)) {
            std::string data =
                pngimagedata(readfile(root + folder + "/" + name));
#ifdef HAVE_ZLIB
            if (!data.empty())
                streams.push_back({name, data, -2, true});
#endif
        }
#ifdef HAVE_ZLIB
    EXPECT_GE(streams.size(), 10u);
    const std::string text = varied(200000, 29);
    for (int level = 0; level <= 9; level++)
        for (int strategy :
             {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
            for (int window : {9, 15})
                streams.push_back({"zlib level " + std::to_string(level) +
                                       " strategy " + std::to_string(strategy) +
                                       " window " + std::to_string(window),
                                   deflated(text, level, strategy, window, 0),
                                   (int64_t)text.size(), true});
    // Flushed every 20 bytes: 500 coded blocks, each behind an empty
    // stored one, as libpng makes when it flushes every row; and after
    // every byte: 3000 blocks of the fixed codes.
    streams.push_back(
        {"a flush every 20 bytes",
         deflated(text.substr(0, 10000), 6, Z_DEFAULT_STRATEGY, 15, 20), 10000,
         true});
    streams.push_back(
        {"a flush after every byte",
         deflated(text.substr(0, 3000), 6, Z_DEFAULT_STRATEGY, 15, 1), 3000,
         true});
    // Damaged: a window over 32 KiB, a header check that fails, a preset
    // dictionary, no deflate; the Adler-32 wrong, cut short or missing; and
    // bytes after it, which zlib leaves alone.
    const std::string good =
        deflated(text.substr(0, 5000), 9, Z_DEFAULT_STRATEGY, 15, 0);
    const std::string body = good.substr(0, good.size() - 4);
    std::string wrongcheck = good;
    wrongcheck.back() ^= 1;
    streams.push_back(
        {"window code 8", withheader(good, 0x88, 0xda), -1, true});
    streams.push_back(
        {"window code 15", withheader(good, 0xf8, 0xda), -1, true});
    streams.push_back({"a failed header check",
                       withheader(good, 0x78, 0xda, true), -1, true});
    streams.push_back(
        {"a preset dictionary", withheader(good, 0x78, 0xfa), -1, true});
    streams.push_back({"not deflate", withheader(good, 0x77, 0xda), -1, true});
    streams.push_back({"the Adler-32 wrong", wrongcheck, -1, true});
    streams.push_back(
        {"the Adler-32 cut short", good.substr(0, good.size() - 2), -1, true});
    streams.push_back({"no Adler-32", body, -1, true});
    streams.push_back({"bytes after the Adler-32", good + "more", 5000, true});
    // A copy 300 bytes back: past a window of 256 bytes, inside one of 512.
    std::string far = text.substr(0, 300) + text.substr(0, 300);
    streams.push_back(
        {"a copy past the window",
         withheader(deflated(far, 9, Z_DEFAULT_STRATEGY, 15, 0), 0x08, 0), -1,
         false});
    streams.push_back(
        {"a copy inside the window",
         withheader(deflated(far, 9, Z_DEFAULT_STRATEGY, 15, 0), 0x18, 0), 600,
         true});
#endif
    // A copy from as far back as there are bytes, and from one further,
    // at the first and last distance of every distance code.
    for (int code = 0; code < 30; code++) {
        int extra = 0;
        int first = firstdistance(code, &extra);
        for (int distance : {first, first + (1 << extra) - 1})
            for (int before : {distance, distance - 1})
                streams.push_back({"distance " + std::to_string(distance) +
                                       " after " + std::to_string(before),
                                   backreference(before, distance),
                                   before == distance ? before + 3 : -1, true});
    }
    // Blocks: as many with codes of their own as are read, and one more;
    // fixed and stored ones without a limit.
    const int most = maxdeflateblocks;
    streams.push_back({"empty blocks with codes of their own, as many as are "
                       "read",
                       emptyblocks(most, 2), 8, true});
    streams.push_back({"empty blocks with codes of their own, one too many",
                       emptyblocks(most + 1, 2), -1, false});
    streams.push_back({"50,000 empty blocks of the fixed codes",
                       emptyblocks(50000, 1), 8, true});
    streams.push_back(
        {"50,000 empty stored blocks", emptyblocks(50000, 0), 8, true});
    // Codes zlib refuses: an incomplete code for the code lengths, a
    // literal code of one 2-bit code (one 1-bit code is taken, but not a
    // bit in the room it leaves), an over-subscribed one, no end code, more
    // than 286 literal and length codes.
    std::vector<int> threeones = endonly(1);
    threeones[0] = threeones[1] = 1;
    const struct {
        const char *name;
        std::vector<int> literals;
        std::vector<int> lengthscode;
        int64_t want;
        bool inroom;
        int distances = 1;
    } codes[] = {
        {"the end code alone, 1 bit", endonly(1), codecode(1, 2, 2, 0), 8,
         false},
        {"a bit in the room a single 1-bit code leaves", endonly(1),
         codecode(1, 2, 2, 0), -1, true},
        {"an incomplete code for the code lengths", endonly(1),
         codecode(1, 2, 3, 0), -1, false},
        {"the end code alone, 2 bits", endonly(2), codecode(1, 2, 0, 2), -1,
         false},
        {"three 1-bit literal codes", threeones, codecode(1, 2, 2, 0), -1,
         false},
        {"no end code", endonly(0), codecode(1, 1, 0, 0), -1, false},
        {"31 distance codes", endonly(1), codecode(1, 2, 2, 0), -1, false, 31},
        {"287 literal and length codes", endonly(1, 287), codecode(1, 2, 2, 0),
         -1, false},
    };
    for (const auto &c : codes) {
        deflatebits d;
        putdynamic(&d, false, c.literals, c.lengthscode, c.inroom, c.distances);
        putstored(&d, true, "moltravy");
        putend(&d, "moltravy");
        streams.push_back({c.name, d.out, c.want, true});
    }
    // Symbols 286 and 287, which the fixed code has but no stream may use.
    for (uint32_t symbol : {286u, 287u}) {
        deflatebits d;
        putbits(&d, 1, 1);
        putbits(&d, 1, 2);
        putcode(&d, 0xc0 + symbol - 280, 8);
        putcode(&d, 0, 5);
        putcode(&d, 0, 7);
        putend(&d, "");
        streams.push_back(
            {"fixed symbol " + std::to_string(symbol), d.out, -1, true});
    }
    std::vector<unsigned char> out(decoderblocklimit);
    for (const stream &s : streams) {
        int length = -1;
        char *library = stbi_zlib_decode_malloc_guesssize_headerflag(
            s.data.data(), (int)s.data.size(), 16384, &length, 1);
        std::string theirs =
            library != nullptr ? std::string(library, (size_t)length) : "";
        free(library);
        const unsigned char *data = (const unsigned char *)s.data.data();
        int64_t n = inflatezlib(data, s.data.size(), out.data(), out.size());
#ifdef HAVE_ZLIB
        // zlib itself, as libpng calls it, but for the window: zlib checks a
        // copy against the buffers it is given, and libpng gives it a row
        // at a time, which one call into a whole buffer cannot show.
        if (s.aszlib) {
            uLongf zsize = (uLongf)out.size();
            std::vector<unsigned char> z(out.size());
            int zresult =
                uncompress(z.data(), &zsize, data, (uLong)s.data.size());
            int64_t zlibs = zresult == Z_OK ? (int64_t)zsize : -1;
            EXPECT_EQ(n, s.want == -2 ? zlibs : s.want) << s.name;
            EXPECT_EQ(zlibs, s.want == -2 ? zlibs : s.want) << s.name;
        }
#endif
        if (s.want != -2) {
            EXPECT_EQ(n, s.want) << s.name;
        }
        // What it inflates to, the image library makes of it too; bounded
        // at that, a stream is read, and a byte less, refused.
        if (n > 0) {
            EXPECT_TRUE(std::string((char *)out.data(), (size_t)n) == theirs)
                << s.name;
            EXPECT_EQ(inflatezlib(data, s.data.size(), out.data(), (size_t)n),
                      n)
                << s.name;
            EXPECT_EQ(
                inflatezlib(data, s.data.size(), out.data(), (size_t)n - 1), -1)
                << s.name;
        }
    }
}

} // namespace
