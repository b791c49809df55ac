// The glyph loader on its own: the glyph table, reading files of every BMP
// and PNG layout image tools write, as most decoders read a BMP and as
// libpng reads a PNG, and the rewrites.
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
#include <zlib.h>
#ifdef HAVE_LIBPNG
#include <csetjmp>
#include <png.h>
#endif

#include "fillstack.h"
#include "glyphs/bmpinfo.h"
#include "glyphs/bmprewrite.h"
#include "glyphs/byteorder.h"
#include "glyphs/glyphs.h"
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

// deflated: data as a zlib stream from zlib at level (0: stored blocks);
// when flushevery is not 0, flushed (Z_SYNC_FLUSH) after every flushevery
// bytes and after the last, then finished on its own.
std::string deflated(const std::string &data, int level = 0,
                     size_t flushevery = 0) {
    z_stream z;
    memset(&z, 0, sizeof z);
    EXPECT_EQ(deflateInit(&z, level), Z_OK);
    std::string out;
    unsigned char piece[1 << 16];
    size_t at = 0;
    for (int flush = Z_SYNC_FLUSH; flush != Z_FINISH;) {
        size_t n = data.size() - at;
        n = flushevery != 0 && flushevery < n ? flushevery : n;
        z.next_in = (unsigned char *)data.data() + at;
        z.avail_in = (unsigned)n;
        at += n;
        flush = flushevery != 0 && n > 0 ? Z_SYNC_FLUSH : Z_FINISH;
        do {
            z.next_out = piece;
            z.avail_out = sizeof piece;
            deflate(&z, flush);
            out.append((char *)piece, sizeof piece - z.avail_out);
        } while (z.avail_out == 0);
    }
    deflateEnd(&z);
    return out;
}

// farcopies: 50 rows of 16-bit colour and alpha, every byte 0x40 (filter
// bytes 0), as one block of deflate's fixed codes behind a zlib header of
// a 256-byte window, in which each row's bytes at to at + 7 are a copy from
// distance (257 to 384) bytes back, its first literals bytes and filter
// byte literals (8 bits each), the rest copies from 8 back.
std::string farcopies(int distance, int at, int literals = 8) {
    std::string out = "\x08\x1d"; // deflate, a 256-byte window, checked
    uint32_t bits = 0;
    int n = 0;
    auto put = [&](uint32_t value, int width) { // lowest bit first
        bits |= value << n;
        for (n += width; n >= 8; n -= 8, bits >>= 8)
            out += (char)(bits & 0xff);
    };
    auto code = [&](uint32_t value, int width) { // highest bit first
        for (int i = width - 1; i >= 0; i--)
            put(value >> i & 1, 1);
    };
    // A copy of 3 to 258 bytes: lengths 3 to 10 have a symbol each (257
    // on), then each 4 symbols take one more extra bit; 258 is 285. From
    // 8 back it is distance code 5 and 1 extra bit, from 257 to 384 code
    // 16 and 7.
    auto copy = [&](int length, int from) {
        int e =
            length < 11 || length == 258 ? 0 : 29 - __builtin_clz(length - 3);
        int symbol = length == 258 ? 285
                     : e == 0      ? 254 + length
                                   : 261 + 4 * e + ((length - 3) >> e) - 4;
        if (symbol < 280)
            code((uint32_t)symbol - 256, 7);
        else
            code((uint32_t)symbol - 280 + 0xc0, 8);
        put((uint32_t)(length - 3) & ((1u << e) - 1), e);
        if (from == 8)
            code(5, 5), put(1, 1);
        else
            code(16, 5), put((uint32_t)(from - 257), 7);
    };
    auto copies = [&](int length) { // from 8 back, in pieces of 3 or more
        while (length > 0) {
            int piece = length <= 258  ? length
                        : length < 261 ? length - 3
                                       : 258;
            copy(piece, 8);
            length -= piece;
        }
    };
    put(1, 1); // the final block
    put(1, 2); // of fixed codes
    std::string raw;
    for (int y = 0; y < 50; y++) {
        code(0x30, 8); // the filter byte, 0
        for (int i = 0; i < literals; i++)
            code(0x30 + 0x40, 8);
        copies(at - 1 - literals);
        copy(8, distance);
        copies(401 - at - 8);
        raw += '\0' + std::string(400, '\x40');
    }
    code(0, 7); // the end code
    put(0, (8 - n) % 8);
    uLong check = adler32(1, (const Bytef *)raw.data(), (uInt)raw.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        put((uint32_t)(check >> shift) & 0xff, 8);
    return out;
}

// chunk: a PNG chunk of the given type and data, its CRC broken when asked.
bytes chunk(const char *type, const std::string &data, bool broken = false) {
    bytes out(8);
    putbe32(out.data(), (uint32_t)data.size());
    memcpy(out.data() + 4, type, 4);
    out.insert(out.end(), data.begin(), data.end());
    out.resize(out.size() + 4);
    uint32_t crc = (uint32_t)crc32(0, out.data() + 4, (uInt)(4 + data.size()));
    putbe32(out.data() + out.size() - 4, crc ^ (broken ? 1 : 0));
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

#ifdef HAVE_LIBPNG
// libpngreads: whether libpng reads file as a program that reads a PNG to
// its end does (its benign errors warnings), and in *grey the picture as
// the glyph loader gives it: 16-bit samples and colour made grey by the
// image library's rules, alpha dropped.
struct pngsource {
    const bytes *file;
    size_t at;
};

void readpngbytes(png_structp png, png_bytep out, size_t n) {
    pngsource *from = (pngsource *)png_get_io_ptr(png);
    if (from->file->size() - from->at < n)
        png_error(png, "cut off");
    memcpy(out, from->file->data() + from->at, n);
    from->at += n;
}

void stopreading(png_structp png, png_const_charp) {
    longjmp(png_jmpbuf(png), 1);
}

void nowarning(png_structp, png_const_charp) {}

bool libpngreads(const bytes &file, bytes *grey) {
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr,
                                             stopreading, nowarning);
    png_infop info = png_create_info_struct(png);
    png_infop end = png_create_info_struct(png);
    pngsource from = {&file, 0};
    std::vector<unsigned char> pixels;
    std::vector<png_bytep> rows;
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_read_struct(&png, &info, &end);
        return false;
    }
    png_set_read_fn(png, &from, readpngbytes);
    png_set_benign_errors(png, 1);
    png_read_info(png, info);
    png_set_expand(png);
    png_set_strip_alpha(png);
    png_set_interlace_handling(png);
    png_read_update_info(png, info);
    size_t width = png_get_image_width(png, info);
    size_t height = png_get_image_height(png, info);
    size_t samples = png_get_channels(png, info);
    size_t sample = png_get_bit_depth(png, info) / 8;
    size_t rowbytes = png_get_rowbytes(png, info);
    pixels.resize(rowbytes * height);
    for (size_t y = 0; y < height; y++)
        rows.push_back(pixels.data() + y * rowbytes);
    png_read_image(png, rows.data());
    png_read_end(png, end);
    grey->clear();
    for (size_t i = 0; i < width * height * samples; i += samples) {
        unsigned v[3];
        for (size_t k = 0; k < samples; k++)
            v[k] = sample == 2
                       ? pixels[2 * (i + k)] << 8 | pixels[2 * (i + k) + 1]
                       : pixels[i + k];
        unsigned y =
            samples == 1 ? v[0] : (77 * v[0] + 150 * v[1] + 29 * v[2]) >> 8;
        grey->push_back((unsigned char)(sample == 2 ? y >> 8 : y));
    }
    png_destroy_read_struct(&png, &info, &end);
    return true;
}
#endif

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
    // A FIFO would block the run; a file past 256 KiB is no glyph, one of
    // 256 KiB (a BMP and bytes after it) is.
#ifndef _WIN32
    ASSERT_EQ(mkfifo((dir + "/fifo.bmp").c_str(), 0644), 0);
#endif
    writefile(dir + "/huge.bmp", whole);
    std::filesystem::resize_file(dir + "/huge.bmp", (256 << 10) + 1);
    writefile(dir + "/largest.bmp", whole);
    std::filesystem::resize_file(dir + "/largest.bmp", 256 << 10);
    struct loadcase {
        std::string file;
        int result;
        int width;
        int height;
        int shade;        // every pixel's grey when loaded; -1: testglyph(5)
        int channels = 0; // the file's channel count, when not 0
        int corner = -1;  // the bottom left pixel's grey, when not -1
        bool stricter = false; // a PNG refused where libpng reads it
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
        {"largest.bmp", glyphloaded, 50, 50, -1},
        {"missing.bmp", glyphunreadable, 0, 0, 0},
    };
    // Files that lie about themselves. Each is written, and refused but for
    // those whose shade is given.
    auto add = [&](const std::string &name, const bytes &file, int result,
                   int shade = 0, int channels = 0, bool stricter = false) {
        writefile(dir + "/" + name, std::string(file.begin(), file.end()));
        cases.push_back({name, result, 50, 50, shade, channels, -1, stricter});
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
    // the palette; a one-colour 1-bit file whose pixels name entry 1, with
    // the first entry's colour (as ImageMagick reads it), whether the file
    // holds a second entry or not; 5-6-5
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
        bmpbytes(40, 1, 0, 1, {0x20, 0x20, 0x20, 0, 0xc0, 0xc0, 0xc0, 0}, 0,
                 0xff),
        glyphloaded, 0x20);
    add("1bit-1-colour-1-held.bmp",
        bmpbytes(40, 1, 0, 1, {0x20, 0x20, 0x20, 0}, 0, 0xff), glyphloaded,
        0x20);
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
    // PNGs as libpng reads them (and, where this machine has libpng, as
    // libpng does read them). Refused as damaged: a CRC that does not match
    // in a critical chunk, a zlib window code over 7, an Adler-32 wrong or
    // missing before the picture is whole, image data needed past another
    // chunk, a second header or palette, an empty palette, a chunk libpng
    // does not know (Apple's CgBI), a type that is not letters, no end
    // chunk, a width of 0 or 2^31; and, stricter than libpng, image data
    // past 1 MiB, or a stream that needs more than 64 KiB to end. Read: an
    // ancillary chunk with a bad CRC, an empty image data chunk among the
    // others, image data past what the picture needs, damaged or in later
    // chunks, a copy from past the stream's window that stays inside the
    // row, a transparency chunk libpng ignores, which then gives no alpha
    // channel, and one it takes, which does.
    const std::string ihdr = header(50, 50, 8, 0);
    const std::string raw = rowsof("\x40");
    const std::string data = deflated(raw);
    const bytes ihdrchunk = chunk("IHDR", ihdr);
    const bytes idat = chunk("IDAT", data);
    const bytes iend = chunk("IEND", "");
    const bytes text = chunk("tEXt", std::string("a\0b", 3));
    std::string damaged = data;
    damaged.back() ^= 1;
    std::string wide = header(60, 50, 8, 0);
    std::string zero = header(0, 50, 8, 0);
    std::string huge = header(0x80000000u, 50, 8, 0);
    std::string palettepixels = rowsof("\x01");
    std::string palette("\0\0\0\x40\x40\x40", 6);
    const bytes plte = chunk("PLTE", palette);
    const bytes paletteidat = chunk("IDAT", deflated(palettepixels));
    const bytes paletteihdr = chunk("IHDR", header(50, 50, 8, 3));
    const bytes colourihdr = chunk("IHDR", header(50, 50, 8, 2));
    const bytes colouridat = chunk("IDAT", deflated(rowsof("\x40\x40\x40")));
    // A stream flushed after its rows, and its end: the empty block and
    // Adler-32 that finish it.
    const std::string flushed = deflated(raw, 6, raw.size());
    const size_t flushend = flushed.rfind(std::string("\0\0\xff\xff", 4)) + 4;
    const bytes deep = chunk("IHDR", header(50, 50, 16, 6));
    std::string window = data;
    window[0] = '\x88'; // a window of 2^16 bytes
    window[1] = '\x1c';
    const struct {
        const char *name;
        std::vector<bytes> chunks;
        int result;
        int channels;
        bool stricter = false;
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
         {ihdrchunk, chunk("IDAT", window), iend},
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
        {"image data needed past another chunk",
         {ihdrchunk, chunk("IDAT", data.substr(0, 100)), text,
          chunk("IDAT", data.substr(100)), iend},
         glyphunreadable,
         0},
        {"image data after another chunk, after the stream's end",
         {ihdrchunk, idat, text, chunk("IDAT", "xyz"), chunk("IDAT", ""), iend},
         glyphloaded,
         1},
        {"the Adler-32 wrong in a chunk of its own",
         {ihdrchunk, chunk("IDAT", damaged.substr(0, damaged.size() - 4)),
          chunk("IDAT", damaged.substr(damaged.size() - 4)), iend},
         glyphloaded,
         1},
        {"the stream's end in a later chunk",
         {ihdrchunk, chunk("IDAT", flushed.substr(0, flushend)),
          chunk("IDAT", flushed.substr(flushend)), iend},
         glyphloaded,
         1},
        {"the stream's end in a later chunk, after another chunk",
         {ihdrchunk, chunk("IDAT", flushed.substr(0, flushend)), text,
          chunk("IDAT", flushed.substr(flushend)), iend},
         glyphunreadable,
         0},
        {"an invalid block after the rows, in a chunk of its own",
         {ihdrchunk, chunk("IDAT", flushed.substr(0, flushend)),
          chunk("IDAT", "\x07\xff"), iend},
         glyphloaded,
         1},
        {"the rows' data cut off before the next chunk",
         {ihdrchunk, chunk("IDAT", flushed.substr(0, flushend / 2)), iend},
         glyphunreadable,
         0},
        {"a copy from past the window, inside the row",
         {deep, chunk("IDAT", farcopies(290, 300)), iend},
         glyphloaded,
         4},
        {"a copy from past the window and the row",
         {deep, chunk("IDAT", farcopies(290, 20)), iend},
         glyphunreadable,
         0},
        // zlib is handed 8 KiB at a time: the first 8 KiB end at byte 269
        // of row 26, so that zlib's next call makes 31 bytes of that row
        // before the copy, which then reaches past them and the window.
        {"a copy from past the window, just after the first 8 KiB",
         {deep, chunk("IDAT", farcopies(290, 300, 299)), iend},
         glyphunreadable,
         0},
        {"image data that ends before the last row, bytes after it",
         {ihdrchunk, chunk("IDAT", deflated(raw.substr(0, 1000)) + "after"),
          iend},
         glyphunreadable,
         0},
        {"an empty palette in a colour picture",
         {colourihdr, chunk("PLTE", ""), colouridat, iend},
         glyphunreadable,
         0},
        {"a palette of 4 bytes in a colour picture",
         {colourihdr, chunk("PLTE", "abcd"), colouridat, iend},
         glyphloaded,
         3},
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
          chunk("IDAT", deflated(rowsof("\x0a"))), iend},
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
        {"a chunk libpng does not know before the header",
         {chunk("abCd", "x", true), ihdrchunk, idat, iend},
         glyphloaded,
         1},
        {"a text chunk before the header",
         {text, ihdrchunk, idat, iend},
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
         {ihdrchunk, chunk("IDAT", deflated(raw + "x")), iend},
         glyphloaded,
         1},
        {"a row more",
         {ihdrchunk, chunk("IDAT", deflated(raw + raw.substr(0, 51))), iend},
         glyphloaded,
         1},
        {"50 KB more",
         {ihdrchunk, chunk("IDAT", deflated(raw + std::string(50000, 'x'))),
          iend},
         glyphloaded,
         1},
        {"200 KB more, past 64 KiB of compressed data",
         {ihdrchunk, chunk("IDAT", deflated(raw + std::string(200000, 'x'))),
          iend},
         glyphunreadable,
         0,
         true},
        {"a flush after every byte",
         {ihdrchunk, chunk("IDAT", deflated(raw, 6, 1)), iend},
         glyphloaded,
         1},
        {"past 1 MiB",
         {ihdrchunk,
          chunk("IDAT", deflated(raw + std::string(1 << 20, 'x'), 9)), iend},
         glyphunreadable,
         0,
         true},
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
        {"transparency before a colour picture's palette, which cancels it",
         {colourihdr, chunk("tRNS", std::string(6, '\0')),
          chunk("PLTE", palette), colouridat, iend},
         glyphloaded,
         3},
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
          chunk("IDAT", deflated(rowsof("\x40\xff"))), iend},
         glyphloaded,
         2},
    };
    for (const auto &c : pngcases)
        add(std::string("png-") + c.name + ".bmp", pngof(c.chunks), c.result,
            0x40, c.channels, c.stricter);
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
#ifdef HAVE_LIBPNG
        // What libpng reads, but where the program is stricter.
        if (c.file.compare(0, 4, "png-") == 0 && c.result != glyphwrongsize &&
            !c.stricter) {
            bytes theirs;
            std::string file = readfile(path);
            EXPECT_EQ(libpngreads(bytes(file.begin(), file.end()), &theirs),
                      c.result == glyphloaded)
                << c.file << ", as libpng reads it";
            if (result == glyphloaded && !theirs.empty()) {
                EXPECT_TRUE(bytes(glyph, glyph + 2500) == theirs) << c.file;
            }
        }
#endif
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
        {"masks, then nothing", bmp16, 14 + 40 + 12, 1, 0, 0},
        {"bit fields in OS/2's 64-byte header",
         bmpbytes(64, 16, 3, 0, {}, 0, 0, {0xf800, 0x7e0, 0x1f}), 0, -1, 0, 0},
        {"palette cut off", bmp8, 14 + 40 + 6, -1, 0, 0},
        {"two colours", bmp8, 0, 1, 0, 2},
        {"two colours, a whole palette held", fullpalette, 0, 1, 0, 2},
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
        {"a PNG 2^31 - 1 high",
         pngof({chunk("IHDR", header(50, 0x7fffffffu, 8, 0))}), 0, 0, 1, 0},
        {"a PNG's header", pngof({chunk("IHDR", header(50, 60, 8, 0))}), 0, 0,
         1, 0},
        {"a grey PNG of 3 bits", pngof({chunk("IHDR", header(50, 60, 3, 0))}),
         0, 0, -1, 0},
        {"a palette PNG of 16 bits",
         pngof({chunk("IHDR", header(50, 60, 16, 3))}), 0, 0, -1, 0},
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
        pnginfo png;
        EXPECT_EQ(readpnginfo(file.data(), file.size(), &png), c.png) << c.name;
        if (c.png == 1) {
            EXPECT_EQ(png.width, 50) << c.name;
            EXPECT_EQ(png.height, (int64_t)be32(file.data() + 20)) << c.name;
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
    // Every size from 1 to 17 a side, each way; and 255 by 255, whose
    // 65,280 bytes of image data are nearly the most one stored block
    // holds, the most rewritten, and 256 by 256, which is more.
    std::vector<std::vector<uint32_t>> sizes = {{255, 255, 0, 0},
                                                {256, 256, 0, 1}};
    for (uint32_t side = 1; side <= 17; side++)
        for (uint32_t interlaced : {0, 1})
            sizes.push_back({side, side, interlaced, 0});
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
                       chunk("IDAT", deflated(raw, 9)), chunk("IEND", "")});
            size_t size = file.size();
            unsigned char *data = (unsigned char *)malloc(size);
            memcpy(data, file.data(), size);
            pnginfo png;
            ASSERT_EQ(readpnginfo(data, size, &png), 1) << name;
            if (s[3] != 0) {
                EXPECT_EQ(rewritepng(&png, &data, &size), -1) << name;
                free(data);
                continue;
            }
            ASSERT_EQ(rewritepng(&png, &data, &size), 0) << name;
            bytes once(data, data + size);
            // Its image data ends with the Adler-32 of exactly what the
            // picture needs.
            std::string stream =
                pngimagedata(std::string(once.begin(), once.end()));
            ASSERT_GE(stream.size(), 4u) << name;
            EXPECT_EQ(
                be32((const unsigned char *)stream.data() + stream.size() - 4),
                adler32(1, (const Bytef *)raw.data(), (uInt)raw.size()))
                << name;
            EXPECT_EQ(rewritepng(&png, &data, &size), 0) << name;
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
                for (int x = c.width; x < stride; x++)
                    EXPECT_EQ(data[offset + y * stride + x], 0) << c.name;
            }
        }
        EXPECT_EQ(result, c.rows[0] ? 0 : -1) << c.name;
        EXPECT_EQ(rows, c.rows) << c.name;
        free(data);
    }
}

} // namespace
