// Every way a run can fail, as a user meets it: status 1, one clear line on
// standard output, nothing on standard error, no picture written, and an
// earlier picture left byte for byte as it was.
#include <string>
#include <sys/stat.h>
#include <vector>

#include <gtest/gtest.h>
#include <stb_image_write.h>

#include "helpers.h"

namespace {

const char *const earlier = "earlier picture, kept as it was";

// A glyph folder with an earlier picture in it, changed by how.
std::string brokenfolder(const std::string &how) {
    std::string dir = maketempdir();
    writeglyphset(dir);
    writefile(dir + "/moltravytext.bmp", earlier);
    if (how == "missing question") {
        removetree(dir + "/_question.bmp");
    } else if (how == "wrong size") {
        bytes wide(60 * 50, 0);
        stbi_write_bmp((dir + "/k.bmp").c_str(), 60, 50, 1, wide.data());
    } else if (how == "not an image") {
        writefile(dir + "/c.bmp", "just some words\n");
    } else if (how == "truncated") {
        std::string whole = readfile(dir + "/m.bmp");
        writefile(dir + "/m.bmp", whole.substr(0, 1000));
    } else if (how == "folder in the way") {
        removetree(dir + "/moltravytext.bmp");
        mkdir((dir + "/moltravytext.bmp").c_str(), 0755);
        writefile(dir + "/moltravytext.bmp/inside", earlier);
    }
    return dir;
}

struct failcase {
    const char *how;
    std::string input;
    std::string prelude;
    std::string after; // what follows the prompt
};

TEST(Failure, StatusMessageAndNothingLost) {
    const std::string hello = report("hello world.", 13, 12, 1, 100, 650);
    std::string largest(999, '.');
    largest += std::string(999, 'a');
    const failcase cases[] = {
        {"missing question", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"wrong size", "Hello, World!\n", "",
         hello + "Glyph file k.bmp is 60 by 50 pixels; glyphs must be 50 by "
                 "50.\n"},
        {"not an image", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"truncated", "Hello, World!\n", "",
         hello + "currentletter = NULL\n\n"},
        {"folder in the way", "Hello, World!\n", "",
         hello + "Picture not stored: moltravytext.bmp: Is a directory.\n"},
        // The picture is 54 + 3 * 100 * 650 bytes; allow 100 blocks of 512.
        {"write fails part-way", "Hello, World!\n",
         "trap '' XFSZ; ulimit -f 100",
         hello + "Picture not stored: moltravytext.bmp: File too large.\n"},
        {"too large", largest + "\n", "",
         report(std::string(999, '.') + std::string(999, 'a'), 1998, 999, 1000,
                60040, 50000) +
             "Picture too large to store: 60040 by 50000 pixels would make a "
             "9006000054-byte BMP file, over the limit of 2147483647 bytes.\n"},
        {"empty input", "", "", "No message entered.\n"},
    };
    for (const failcase &c : cases) {
        std::string dir = brokenfolder(c.how);
        toolrun run = runtool(dir, c.input, c.prelude);
        EXPECT_EQ(run.status, 1) << c.how;
        EXPECT_EQ(run.out, prompt() + c.after) << c.how;
        EXPECT_EQ(run.err, "") << c.how;
        std::string kept = std::string(c.how) == "folder in the way"
                               ? dir + "/moltravytext.bmp/inside"
                               : dir + "/moltravytext.bmp";
        EXPECT_TRUE(readfile(kept) == earlier) << c.how;
        // No temporary file is left behind.
        EXPECT_EQ(shellout(dir, "ls -A | grep -c moltravytext"), "1\n")
            << c.how;
        removetree(dir);
    }
}

TEST(Failure, RasterWithoutMemory) {
#ifdef SANITIZED
    GTEST_SKIP() << "needs an address-space limit";
#endif
    // 100 sentences, one of them 1000 positions long: a 6040 by 50050 raster
    // of about 300 MB, under a 200 MB address-space limit.
    std::string input = std::string(99, '.') + std::string(1000, 'a') + "\n";
    std::string dir = brokenfolder("");
    toolrun run = runtool(dir, input, "ulimit -v 200000");
    EXPECT_EQ(run.status, 1);
    EXPECT_EQ(run.out,
              prompt() +
                  report(std::string(99, '.') + std::string(1000, 'a'), 1099,
                         1000, 100, 6040, 50050) +
                  "Raster memory not allocated: 6040 by 50050 pixels.\n");
    EXPECT_EQ(readfile(dir + "/moltravytext.bmp"), earlier);
    removetree(dir);
}

TEST(Failure, TooLargeIsRefusedAtOnce) {
#ifdef SANITIZED
    GTEST_SKIP() << "needs an address-space limit";
#endif
    // Refused before the raster or any glyph: it works without glyph files
    // and within a small address space.
    std::string dir = maketempdir();
    std::string input = std::string(999, '.') + std::string(999, 'x') + "\n";
    toolrun run = runtool(dir, input, "ulimit -v 50000");
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.out.find("Picture too large to store"), std::string::npos);
    EXPECT_FALSE(fileexists(dir + "/moltravytext.bmp"));
    removetree(dir);
}

} // namespace
