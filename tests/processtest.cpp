// The program as a user meets it: a process with real standard input, run in
// a temporary folder, judged by its exact output and its exit status.
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"

namespace {

struct runcase {
    const char *name;
    std::string input;
    std::string message;
    int n0;
    int longest;
    int sentences;
};

TEST(Process, ReportIsExact) {
    const std::string longline(1998, 'a');
    std::string highbytes;
    for (int b = 0x80; b <= 0xff; b++)
        highbytes += (char)b;
    const runcase cases[] = {
        {"hello", "Hello, World!\n", "hello world.", 13, 12, 1},
        {"empty line", "\n", "", 0, 0, 0},
        {"crlf", "Hello, World!\r\n", "hello world.", 13, 12, 1},
        {"no newline", "Hello, World!", "hello world.", 13, 12, 1},
        {"1998 characters", longline + "\n", longline, 1998, 1998, 1},
        {"2500 characters", std::string(2500, 'a') + "\n", longline, 1998, 1998,
         1},
        {"high bytes", "ab" + highbytes + "c.\n", "abc.", 132, 128, 1},
        {"nul inside", std::string("Hi. Bye.\0 more\n", 15), "hi.bye.", 8, 4,
         2},
        {"three sentences", "one. two three. four\n", "one.two three.four", 20,
         10, 3},
    };
    for (const runcase &c : cases) {
        std::string dir = maketempdir();
        toolrun run = runtool(dir, c.input);
        int width = 60 * c.sentences + 40;
        int height = 50 * (c.longest + 1);
        EXPECT_EQ(run.status, 0) << c.name;
        EXPECT_EQ(run.out, prompt() + report(c.message, c.n0, c.longest,
                                             c.sentences, width, height))
            << c.name;
        EXPECT_EQ(run.err, "") << c.name;
        removetree(dir);
    }
}

TEST(Process, EmptyInputIsRefused) {
    std::string dir = maketempdir();
    writefile(dir + "/moltravytext.bmp", "earlier picture");
    for (bool noinput : {true, false}) {
        toolrun run = runtool(dir, "", "", noinput);
        EXPECT_EQ(run.status, 1);
        EXPECT_EQ(run.out, prompt() + "No message entered.\n");
        EXPECT_EQ(run.err, "");
        EXPECT_EQ(readfile(dir + "/moltravytext.bmp"), "earlier picture");
    }
    removetree(dir);
}

} // namespace
