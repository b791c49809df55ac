// The picture stages on their own: geometry, the stored file, placement.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"
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
    // A raster too short for 'a': the upper half of its cell falls above
    // row 0. Those pixels are skipped and described, the rest land, mirrored
    // at position 0 and not at position 1 (a cell higher, in a raster a
    // cell taller).
    bytes glyph = testglyph(3);
    const struct {
        const char *msg;
        int64_t height;
        int mirrored;
        const char *ybase;
        const char *rasterindex;
    } cases[] = {{"a", 50, 1, "25", "-26"}, {"xa", 100, 0, "75", "-75"}};
    for (const auto &c : cases) {
        int64_t w = 100, h = c.height;
        unsigned char *raster = createraster(w, h);
        ASSERT_NE(raster, nullptr);
        FILE *diag = tmpfile();
        ASSERT_NE(diag, nullptr);
        EXPECT_EQ(placeglyph(raster, w, h, c.msg, (int)strlen(c.msg),
                             glyph.data(), 'a', diag),
                  50 * 25)
            << c.msg;
        rewind(diag);
        char first[512] = {0};
        size_t got = fread(first, 1, sizeof first - 1, diag);
        fclose(diag);
        ASSERT_GT(got, 0u);
        // x 0, y 25: raster row -1, column 74 mirrored or 25 not.
        char want[512];
        snprintf(want, sizeof want,
                 "xbase:        25\nx:            0\nybase:        %s\n"
                 "y:            25\nRaster Index: %s\nLetter Index: 1200\n"
                 "Paint Value:  0\nLetter Value: %d\n\nxbase:        25\n",
                 c.ybase, c.rasterindex, glyph[1200]);
        EXPECT_EQ(std::string(first, strlen(want)), want) << c.msg;
        // Rows 0 to 24 hold glyph rows 25 to 49.
        for (int y = 0; y < 25; y++)
            for (int x = 0; x < 50; x++)
                ASSERT_EQ(raster[y * w + 25 + x],
                          glyph[(25 + y) * 50 + (c.mirrored ? 49 - x : x)])
                    << c.msg;
        free(raster);
    }
}

} // namespace
