// The default glyph set that the build draws, its installation, and a run of
// the program on it.
#include <cstdlib>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "helpers.h"
#include "glyphs/glyphs.h"

namespace {

// Two glyphs count as different when more than this many of their 2500
// pixels differ by more than half the grey range: about a dot's worth.
const int mindifferent = 40;

int differentpixels(const bytes &a, const bytes &b) {
    int n = 0;
    for (size_t i = 0; i < a.size(); i++)
        if (abs((int)a[i] - (int)b[i]) > 128)
            n++;
    return n;
}

bytes mirrored(const bytes &g) {
    bytes m(g.size());
    for (int y = 0; y < 50; y++)
        for (int x = 0; x < 50; x++)
            m[y * 50 + x] = g[y * 50 + 49 - x];
    return m;
}

std::vector<bytes> defaultglyphs() {
    std::vector<bytes> glyphs;
    for (int i = 0; i < glyphcount; i++) {
        std::string path = std::string(GLYPHDIR) + "/" + glyphfile(i);
        // Genuine BMP files, as their names say: uncompressed, 8 bits a
        // pixel, with a grey palette.
        std::string file = readfile(path);
        EXPECT_EQ(file.size(), 54u + 1024 + 52 * 50) << path;
        EXPECT_EQ(file.substr(0, 2), "BM") << path;
        if (file.size() > 1078) {
            EXPECT_EQ(file[28], 8) << path;
            EXPECT_EQ(file.substr(30, 4), std::string(4, '\0')) << path;
            for (int v = 0; v < 256; v++)
                EXPECT_EQ(file.substr(54 + 4 * v, 3), std::string(3, (char)v))
                    << path;
        }
        unsigned char *glyph = nullptr;
        int channels = 0, width = 0, height = 0;
        EXPECT_EQ(loadglyph(path.c_str(), &glyph, &channels, &width, &height),
                  glyphloaded)
            << path;
        if (glyph == nullptr)
            return std::vector<bytes>();
        glyphs.push_back(bytes(glyph, glyph + 2500));
        releaseglyph(glyph);
    }
    return glyphs;
}

TEST(DefaultGlyphs, LegibleEvenWhenMirrored) {
    std::vector<bytes> glyphs = defaultglyphs();
    ASSERT_EQ(glyphs.size(), 29u);
    const int space = 26;
    for (int i = 0; i < glyphcount; i++) {
        int ink = 0;
        for (unsigned char v : glyphs[i])
            ink += v < 128;
        if (i == space) {
            EXPECT_EQ(glyphs[i], bytes(2500, 255)) << "the space is blank";
            continue;
        }
        EXPECT_GT(ink, 50) << glyphfile(i) << " has ink";
        // A white margin all round.
        for (int k = 0; k < 50; k++)
            for (int edge = 0; edge < 4; edge++) {
                EXPECT_EQ(glyphs[i][edge * 50 + k], 255) << glyphfile(i);
                EXPECT_EQ(glyphs[i][(49 - edge) * 50 + k], 255) << glyphfile(i);
                EXPECT_EQ(glyphs[i][k * 50 + edge], 255) << glyphfile(i);
                EXPECT_EQ(glyphs[i][k * 50 + 49 - edge], 255) << glyphfile(i);
            }
        for (int j = 0; j < glyphcount; j++) {
            if (j == space)
                continue;
            if (j > i) {
                EXPECT_GT(differentpixels(glyphs[i], glyphs[j]), mindifferent)
                    << glyphfile(i) << " and " << glyphfile(j);
            }
            EXPECT_GT(differentpixels(glyphs[i], mirrored(glyphs[j])),
                      mindifferent)
                << glyphfile(i) << " and the mirrored " << glyphfile(j);
        }
    }
}

TEST(DefaultGlyphs, ProgramRunsOnThem) {
    std::vector<bytes> glyphs = defaultglyphs();
    ASSERT_EQ(glyphs.size(), 29u);
    std::string dir = maketempdir();
    copyglyphs(GLYPHDIR, dir);
    toolrun run = runtool(dir, "Is it here? Yes, all 29 of them!\n");
    // BMP files without alpha: the closing line shows 3.
    std::string message = "is it here?yes all wn of them.";
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.out,
              prompt() + report(message, 32, 19, 2, 160, 1000) + "3\n");
    int width = 0, height = 0;
    std::string why;
    bytes got = readbmp(dir + "/moltravytext.bmp", &width, &height, &why);
    EXPECT_TRUE(got == expectedpicture(message, 32, 19, 2, glyphs)) << why;
    removetree(dir);
}

TEST(DefaultGlyphs, InstallLaysDownProgramGlyphsAndManual) {
#ifdef _WIN32
    GTEST_SKIP() << "the Windows zip is checked by scripts/test";
#else
    std::string prefix = maketempdir();
    std::string log =
        shellout(BUILDDIR, "cmake --install . --prefix '" + prefix +
                               "' >/dev/null 2>&1 && "
                               "echo installed");
    ASSERT_EQ(log, "installed\n");
    EXPECT_EQ(shellout(prefix, "test -x bin/moltravytext && echo yes"),
              "yes\n");
    EXPECT_EQ(shellout(prefix, "ls share/moltravytext/glyphs | wc -l"), "29\n");
    EXPECT_EQ(shellout(prefix, "gzip -t share/man/man1/moltravytext.1.gz && "
                               "test -s share/doc/moltravytext/copyright && "
                               "gzip -t share/doc/moltravytext/changelog.gz && "
                               "echo yes"),
              "yes\n");
    // The installed program works in a folder of the installed glyphs.
    std::string work = maketempdir();
    shellout(work, "cp '" + prefix + "'/share/moltravytext/glyphs/* .");
    EXPECT_EQ(shellout(work, "echo 'Hi.' | " + std::string(RUNPREFIX) + "'" +
                                 prefix +
                                 "/bin/moltravytext' >/dev/null && ls "
                                 "moltravytext.bmp"),
              "moltravytext.bmp\n");
    removetree(work);
    removetree(prefix);
#endif
}

TEST(DefaultGlyphs, ManualRendersWithoutWarnings) {
#ifdef _WIN32
    GTEST_SKIP() << "manual pages are for Linux";
#else
    std::string page = std::string(SOURCEDIR) + "/docs/moltravytext.1";
    std::string warnings = shellout("/", "MANWIDTH=80 man --warnings -l '" +
                                             page + "' 2>&1 >/dev/null");
    EXPECT_EQ(warnings, "");
    std::string text =
        shellout("/", "MANWIDTH=80 man -l '" + page + "' 2>/dev/null");
    for (const char *needed :
         {"EXIT STATUS", "currentletter = NULL", "_question.bmp",
          "moltravytext.bmp", "No message entered.", "Picture not stored"})
        EXPECT_NE(text.find(needed), std::string::npos) << needed;
#endif
}

} // namespace
