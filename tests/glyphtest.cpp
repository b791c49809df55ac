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
#include "glyphs/bmprewrite.h"
#include "glyphs/byteorder.h"
#include "glyphs/glyphcheck.h"
#include "glyphs/glyphs.h"
#include "glyphs/inflatewalk.h"
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
        int shade; // every pixel's grey when loaded; -1: testglyph(5)
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
                   int shade = 0) {
        writefile(dir + "/" + name, std::string(file.begin(), file.end()));
        cases.push_back({name, result, 50, 50, shade});
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
    };
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
    for (const auto &c : cases) {
        unsigned char *glyph = nullptr;
        int channels = -1, width = -1, height = -1;
        std::string path = dir + "/" + c.file;
        int result =
            loadglyph(path.c_str(), &glyph, &channels, &width, &height);
        EXPECT_EQ(result, c.result) << c.file;
        if (c.file == "good.bmp") {
            EXPECT_EQ(channels, 3);
        }
        if (c.result == glyphloaded) {
            ASSERT_NE(glyph, nullptr);
            EXPECT_EQ(bytes(glyph, glyph + 2500),
                      c.shade < 0 ? grey : bytes(2500, c.shade))
                << c.file;
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
    // too. Each file is loaded twice, over a stack filled with two patterns,
    // and must give the same result both times: no byte of stack memory may
    // reach a glyph.
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
        bool shaded = name.compare(0, 6, "shade-") == 0;
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
    EXPECT_GE(refused, 29);
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
        {"no end code", 2, 1, false, {2, 1, 0, 0}, ""},
        {"cut off in an absolute run", 5, 1, false, {0, 5, 1, 2}, ""},
        {"cut off in a delta", 5, 1, false, {0, 2, 1}, ""},
    };
    for (const auto &c : cases) {
        bytes file = rlefile(c.width, c.height, c.nibbles, c.runs);
        size_t size = file.size();
        unsigned char *data = (unsigned char *)malloc(size);
        memcpy(data, file.data(), size);
        int result = rewritebmp(&data, &size);
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

// emptyblocks: count empty blocks of a kind (fixed codes, or stored), then
// a final stored block of 8 bytes.
std::string emptyblocks(int count, bool stored) {
    deflatebits d;
    for (int i = 0; i < count; i++) {
        if (stored) {
            putstored(&d, false, "");
        } else {
            putbits(&d, 0, 1);
            putbits(&d, 1, 2);
            putcode(&d, 0, 7); // the end code
        }
    }
    putstored(&d, true, "moltravy");
    putend(&d, "moltravy");
    return d.out;
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

TEST(Inflate, WalkerCountsWhatTheLibraryInflates) {
    // The walker must inflate every stream to as many bytes as the
    // library's own inflater, or refuse where it fails: the image data of
    // every PNG of the loader table, and streams that use every length and
    // distance code, from zlib at every level and strategy; and it counts
    // only blocks with codes of their own towards its limit.
    struct stream {
        std::string name;
        std::string data;
        int64_t want; // -2: what the library makes of it
    };
    std::vector<stream> streams;
    const std::string root = std::string(SOURCEDIR) + "/tests/fuzz/";
    for (const char *folder : {"corpus/glyph", "regressions"})
        for (const std::string &name : filenames(root + folder)) {
            std::string data =
                pngimagedata(readfile(root + folder + "/" + name));
            if (!data.empty())
                streams.push_back({name, data, -2});
        }
    EXPECT_GE(streams.size(), 10u);
#ifdef HAVE_ZLIB
    const std::string text = varied(200000, 29);
    for (int level = 0; level <= 9; level++)
        for (int strategy :
             {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED})
            for (int window : {9, 15})
                streams.push_back({"zlib level " + std::to_string(level) +
                                       " strategy " + std::to_string(strategy) +
                                       " window " + std::to_string(window),
                                   deflated(text, level, strategy, window, 0),
                                   (int64_t)text.size()});
    // Flushed every 20 bytes: 500 coded blocks, each behind an empty
    // stored one, as libpng makes when it flushes every row.
    streams.push_back(
        {"a flush every 20 bytes",
         deflated(text.substr(0, 10000), 6, Z_DEFAULT_STRATEGY, 15, 20),
         10000});
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
                                   before == distance ? before + 3 : -1});
    }
    const int most = maxdeflateblocks;
    streams.push_back({"empty fixed blocks, as many as are read",
                       emptyblocks(most, false), 8});
    streams.push_back(
        {"empty fixed blocks, one too many", emptyblocks(most + 1, false), -1});
    streams.push_back(
        {"50,000 empty stored blocks", emptyblocks(50000, true), 8});
    for (const stream &s : streams) {
        int length = -1;
        char *inflated = stbi_zlib_decode_malloc_guesssize_headerflag(
            s.data.data(), (int)s.data.size(), 16384, &length, 1);
        free(inflated);
        int64_t library = inflated != nullptr ? length : -1;
        const unsigned char *data = (const unsigned char *)s.data.data();
        int64_t walked =
            inflatedsize(data, s.data.size(), 1, decoderblocklimit);
        EXPECT_EQ(walked, s.want == -2 ? library : s.want) << s.name;
        if (s.want >= 0) {
            EXPECT_EQ(library, s.want) << s.name;
        }
        // Bounded at what it inflates to, a stream is read; a byte less,
        // refused.
        if (walked > 0) {
            EXPECT_EQ(inflatedsize(data, s.data.size(), 1, walked), walked)
                << s.name;
            EXPECT_EQ(inflatedsize(data, s.data.size(), 1, walked - 1), -1)
                << s.name;
        }
    }
}

} // namespace
