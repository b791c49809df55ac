// The picture stages on their own: geometry, the stored file, placement.
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include "fillstack.h"
#include "helpers.h"
#include "render/glyphs.h"
#include "render/placement.h"
#include "render/raster.h"

namespace {

struct sizecase {
    int longest;
    int sentences;
    int width;
    int height;
};

TEST(Raster, SizeBackgroundAndRule) {
    const sizecase cases[] = {
        {0, 0, 40, 50},    {1, 1, 100, 100}, {12, 1, 100, 650},
        {10, 3, 220, 550}, {2, 1, 100, 150},
    };
    for (const sizecase &c : cases) {
        int64_t w = rasterwidth(c.sentences);
        int64_t h = rasterheight(c.longest);
        EXPECT_EQ(w, c.width);
        EXPECT_EQ(h, c.height);
        unsigned char *raster = createraster(w, h);
        ASSERT_NE(raster, nullptr);
        for (int64_t y = 0; y < h; y++) {
            unsigned char want = (y >= h - 25 && y <= h - 22) ? 0 : 255;
            for (int64_t x = 0; x < w; x++)
                ASSERT_EQ(raster[y * w + x], want) << "x " << x << " y " << y;
        }
        free(raster);
    }
}

TEST(Raster, WhatFitsInABmpFile) {
    // 54 + 3 * w * h may not pass 2^31 - 1: w * h at most 715827864.
    EXPECT_TRUE(rasterfits(4, 178956966));
    EXPECT_FALSE(rasterfits(4, 178956967));
    EXPECT_TRUE(rasterfits(40, 50));
    // The largest message: 999 full stops, then 999 letters.
    EXPECT_EQ(rasterwidth(1000), 60040);
    EXPECT_EQ(rasterheight(999), 50000);
    EXPECT_FALSE(rasterfits(60040, 50000));
    EXPECT_EQ(bmpfilesize(60040, 50000), 9006000054LL);
}

TEST(Raster, StoredFileLayout) {
    // A raster with every row and column different, so that a flipped,
    // mirrored or shifted file shows.
    std::string dir = maketempdir();
    const int64_t w = 8, h = 3;
    unsigned char raster[w * h];
    for (int i = 0; i < w * h; i++)
        raster[i] = (unsigned char)(i * 11 + 1);
    std::string path = dir + "/picture.bmp";
    int replaced = 0;
    ASSERT_EQ(storeraster(raster, w, h, path.c_str(), &replaced), 0);
    EXPECT_EQ(replaced, 1);
    std::string file = readfile(path);
    ASSERT_EQ(file.size(), 54u + 3 * w * h);
    const unsigned char header[54] = {
        'B', 'M', 126, 0, 0, 0, 0, 0, 0, 0, 54, 0, 0, 0, 40, 0, 0, 0,
        8,   0,   0,   0, 3, 0, 0, 0, 1, 0, 24, 0, 0, 0, 0,  0, 0, 0,
        0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0,  0, 0, 0, 0,  0, 0, 0};
    EXPECT_EQ(memcmp(file.data(), header, 54), 0);
    for (int64_t row = 0; row < h; row++)
        for (int64_t x = 0; x < w; x++)
            for (int k = 0; k < 3; k++)
                EXPECT_EQ(
                    (unsigned char)file[54 + ((h - 1 - row) * w + x) * 3 + k],
                    raster[row * w + x])
                    << "x " << x << " row " << row;
    removetree(dir);
}

TEST(Raster, FailedStoreKeepsTheEarlierFile) {
    std::string dir = maketempdir();
    unsigned char raster[40 * 50];
    memset(raster, 255, sizeof raster);
    // A folder in the way of the picture.
    std::string blocked = dir + "/blocked.bmp";
    makefolder(blocked);
    int replaced = 1;
    EXPECT_EQ(storeraster(raster, 40, 50, blocked.c_str(), &replaced), EISDIR);
    EXPECT_EQ(replaced, 0);
    // A folder that does not exist.
    std::string nowhere = dir + "/missing/picture.bmp";
    EXPECT_EQ(storeraster(raster, 40, 50, nowhere.c_str(), &replaced), ENOENT);
    // A picture too large for the format is refused before any file is made.
    std::string earlier = dir + "/earlier.bmp";
    writefile(earlier, "earlier");
    EXPECT_EQ(storeraster(raster, 60040, 50000, earlier.c_str(), &replaced),
              EFBIG);
    EXPECT_EQ(readfile(earlier), "earlier");
    // Only what the test made is left: no temporary files.
    EXPECT_EQ(listing(dir), "blocked.bmp earlier.bmp ");
    removetree(dir);
}

TEST(Placement, OneGlyphInTwoColumns) {
    // 'a.a': a at position 0 (mirrored, column 0) and at 2 (mirrored,
    // column 1); the stop at position 1 gets no stamp from the a glyph.
    bytes glyph = testglyph(0);
    int64_t w = rasterwidth(2), h = rasterheight(2);
    unsigned char *raster = createraster(w, h);
    ASSERT_NE(raster, nullptr);
    const char msg[4] = "a.a";
    EXPECT_EQ(placeglyph(raster, w, h, msg, 3, glyph.data(), 'a', stdout), 0);
    bytes got(raster, raster + w * h);
    std::vector<bytes> glyphs(29, bytes(2500, 255));
    glyphs[0] = glyph;
    bytes want = expectedpicture("a.a", 3, 2, 2, glyphs);
    EXPECT_EQ(got, want);
    // A glyph whose character is not there changes nothing.
    EXPECT_EQ(placeglyph(raster, w, h, msg, 3, glyph.data(), 'z', stdout), 0);
    EXPECT_EQ(bytes(raster, raster + w * h), want);
    free(raster);
}

TEST(Placement, RangeCheckSkipsAndDescribes) {
    // A raster one cell too short for 'a': the upper half of the cell falls
    // above row 0. Those pixels are skipped and described, the rest land.
    bytes glyph = testglyph(3);
    int64_t w = 100, h = 50;
    unsigned char *raster = createraster(w, h);
    ASSERT_NE(raster, nullptr);
    FILE *diag = tmpfile();
    ASSERT_NE(diag, nullptr);
    EXPECT_EQ(placeglyph(raster, w, h, "a", 1, glyph.data(), 'a', diag),
              50 * 25);
    rewind(diag);
    char first[512] = {0};
    size_t got = fread(first, 1, sizeof first - 1, diag);
    fclose(diag);
    ASSERT_GT(got, 0u);
    // x 0, y 25: raster row -1, mirrored column 74.
    char want[512];
    snprintf(want, sizeof want,
             "xbase:        25\nx:            0\nybase:        25\n"
             "y:            25\nRaster Index: -26\nLetter Index: 1200\n"
             "Paint Value:  0\nLetter Value: %d\n\nxbase:        25\n",
             glyph[1200]);
    EXPECT_EQ(std::string(first, strlen(want)), want);
    // Rows 0 to 24 hold glyph rows 25 to 49, mirrored.
    for (int y = 0; y < 25; y++)
        for (int x = 0; x < 50; x++)
            ASSERT_EQ(raster[y * w + 25 + x], glyph[(25 + y) * 50 + 49 - x]);
    free(raster);
}

TEST(Glyphs, NamesAndCharactersInLoadingOrder) {
    for (int i = 0; i < glyphcount; i++)
        EXPECT_EQ(glyphfilename(i), glyphfile(i)) << i;
    std::string symbols;
    for (int i = 0; i < glyphcount; i++)
        symbols += glyphcharacter(i);
    EXPECT_EQ(symbols, "abcdefghijklmnopqrstuvwxyz .?");
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
    const struct {
        const char *file;
        int result;
        int width;
        int height;
    } cases[] = {
        {"good.bmp", glyphloaded, 50, 50},
        {"wide.bmp", glyphwrongsize, 60, 50},
        {"small.bmp", glyphwrongsize, 49, 49},
        {"truncated.bmp", glyphunreadable, 0, 0},
        {"headeronly.bmp", glyphunreadable, 0, 0},
        {"text.bmp", glyphunreadable, 0, 0},
        {"empty.bmp", glyphunreadable, 0, 0},
        {"folder.bmp", glyphunreadable, 0, 0},
#ifndef _WIN32
        {"fifo.bmp", glyphunreadable, 0, 0},
#endif
        {"huge.bmp", glyphunreadable, 0, 0},
        {"missing.bmp", glyphunreadable, 0, 0},
    };
    for (const auto &c : cases) {
        unsigned char *glyph = nullptr;
        int channels = -1, width = -1, height = -1;
        std::string path = dir + "/" + c.file;
        int result =
            loadglyph(path.c_str(), &glyph, &channels, &width, &height);
        EXPECT_EQ(result, c.result) << c.file;
        if (c.result == glyphloaded) {
            ASSERT_NE(glyph, nullptr);
            EXPECT_EQ(bytes(glyph, glyph + 2500), grey);
            EXPECT_EQ(channels, 3);
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
    // interlaced PNG and a chunk over 64 KiB among them, must give the same
    // picture; cut-* and lie-* (cut off, or with a header that does not match
    // the data) must be refused; and so must every kept glyph-* regression:
    // other formats, and files that once crashed, hung or fooled the loader,
    // but for glyph-loads-*, files that once did so and now give the same
    // picture too. Each file is loaded twice, over a stack filled with two
    // patterns, and must give the same result both times: no byte of stack
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
        bool good = name.compare(0, 4, "bmp-") == 0 ||
                    name.compare(0, 4, "png-") == 0 ||
                    name.find("/glyph-loads-") != std::string::npos;
        unsigned char *glyph = nullptr;
        unsigned char *again = nullptr;
        int channels = 0, width = 0, height = 0;
        auto start = std::chrono::steady_clock::now();
        fillstack(0x00);
        int result =
            loadglyph(path.c_str(), &glyph, &channels, &width, &height);
        EXPECT_LT(std::chrono::steady_clock::now() - start,
                  std::chrono::seconds(2))
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
            EXPECT_TRUE(bytes(glyph, glyph + 2500) == want) << name;
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
    EXPECT_GE(valid, 17);
    EXPECT_GE(refused, 30);
}

} // namespace
