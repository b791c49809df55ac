// The text stages on their own: reading a line, normalising it, measuring it.
#include <cstdio>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "helpers.h"
#include "message/message.h"

namespace {

// Normalises typed text the way the driver does and checks that the bytes
// behind the shortened string, up to n0, are all NUL.
std::string normalised(const std::string &typed, int *n0out = nullptr) {
    char msg[messagebuffersize] = {0};
    memcpy(msg, typed.data(), typed.size());
    int n0 = (int)typed.size();
    normalisemessage(msg, n0);
    size_t len = strlen(msg);
    for (int p = (int)len; p < messagebuffersize; p++)
        EXPECT_EQ(msg[p], 0) << "position " << p << " of '" << typed << "'";
    if (n0out)
        *n0out = n0;
    return std::string(msg, len);
}

struct normcase {
    const char *typed;
    const char *want;
};

TEST(Normalise, MapsAndFilters) {
    const normcase cases[] = {
        {"", ""},
        {"Hello, World!", "hello world."},
        {"Hi. Bye.", "hi.bye."},
        {"Hi.  Bye?", "hi. bye?"},
        {"ABC 123 !", "abc mwt ."},
        {"(hi)", "hi"},
        {"x#", "x"},
        {"\xc3\xa9", ""},
        {".# x", ". x"},
        {" a", " a"},
        {"  a", "  a"},
        {". a", ".a"},
        {"? a", "?a"},
        {"a. ", "a."},
        {"0123456789", "zmwtfvxsgn"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZ", "abcdefghijklmnopqrstuvwxyz"},
        {"Wow! Yes!", "wow.yes."},
        {"a\xff"
         "b\x80"
         "c",
         "abc"},
        {"\t\x01\x1f\x7f"
         "a\r",
         "a"},
        {"[\\]^_`{|}~@", ""},
        {"It's 9 o'clock.", "its n oclock."},
    };
    for (const normcase &c : cases)
        EXPECT_EQ(normalised(c.typed), c.want) << "typed '" << c.typed << "'";
}

TEST(Normalise, EveryByteValue) {
    // Each single byte either maps to a script symbol or is removed; nothing
    // else survives.
    for (int b = 1; b < 256; b++) {
        std::string out = normalised(std::string(1, (char)b));
        ASSERT_LE(out.size(), 1u);
        if (!out.empty()) {
            char c = out[0];
            EXPECT_TRUE((c >= 'a' && c <= 'z') || c == ' ' || c == '.' ||
                        c == '?')
                << "byte " << b;
        }
        bool kept = (b >= 'a' && b <= 'z') || (b >= 'A' && b <= 'Z') ||
                    (b >= '0' && b <= '9') || b == ' ' || b == '.' ||
                    b == '?' || b == '!';
        EXPECT_EQ(!out.empty(), kept) << "byte " << b;
    }
}

TEST(Normalise, LongJunkLeavesNothingBehind) {
    std::string typed(messagemaxchars, '#');
    typed[0] = 'A';
    typed[messagemaxchars - 1] = 'Z';
    EXPECT_EQ(normalised(typed), "az");
}

TEST(Indmax, PicksTheLarger) {
    EXPECT_EQ(indmax(-1, 0), 0);
    EXPECT_EQ(indmax(5, 0), 5);
    EXPECT_EQ(indmax(3, 3), 3);
    EXPECT_EQ(indmax(-7, -2), -2);
}

struct metriccase {
    const char *typed;
    const char *want;
    int longest;
    int sentences;
};

TEST(Metrics, LongestSentenceAndCount) {
    const metriccase cases[] = {
        {"", "", 0, 0},
        {"a", "a", 1, 1},
        {"a.", "a.", 2, 1},
        {"Hello, World!", "hello world.", 12, 1},
        {"Hello, World", "hello world", 12, 1},
        {"Hi. Bye.", "hi.bye.", 4, 2},
        {"ab?cd", "ab?cd", 3, 2},
        {"one. two three. four", "one.two three.four", 10, 3},
        {"x#", "x", 2, 1},
        {"a.###", "a.", 3, 1},
        {"\xc3\xa9", "", 2, 0},
        {"..", "..", 1, 2},
        {"?.?", "?.?", 1, 3},
        {"#", "", 1, 0},
        {"a.b", "a.b", 2, 2},
    };
    for (const metriccase &c : cases) {
        char msg[messagebuffersize] = {0};
        memcpy(msg, c.typed, strlen(c.typed));
        int n0 = (int)strlen(c.typed);
        normalisemessage(msg, n0);
        EXPECT_STREQ(msg, c.want) << "typed '" << c.typed << "'";
        int longest = -1;
        int sentences = -1;
        measuremessage(msg, n0, &longest, &sentences);
        EXPECT_EQ(longest, c.longest) << "typed '" << c.typed << "'";
        EXPECT_EQ(sentences, c.sentences) << "typed '" << c.typed << "'";
    }
}

TEST(Metrics, LargestMessage) {
    // 999 full stops, then 999 letters: the widest and tallest picture.
    char msg[messagebuffersize] = {0};
    memset(msg, '.', 999);
    memset(msg + 999, 'a', 999);
    int longest = 0;
    int sentences = 0;
    measuremessage(msg, messagemaxchars, &longest, &sentences);
    EXPECT_EQ(longest, 999);
    EXPECT_EQ(sentences, 1000);
}

struct readcase {
    std::string input;
    int n0;
    std::string message;
    std::string unread;
};

TEST(ReadMessage, LineEndingsLengthsAndNul) {
    const std::string longest(messagemaxchars, 'q');
    const readcase cases[] = {
        {"Hello\n", 5, "Hello", ""},
        {"Hello\r\n", 5, "Hello", ""},
        {"Hello", 5, "Hello", ""},
        {"\n", 0, "", ""},
        {"\r\n", 0, "", ""},
        {"\nsecond\n", 0, "", "second\n"},
        {"one\ntwo\n", 3, "one", "two\n"},
        {"a\rb\n", 3, "a\rb", ""},
        {"ab\r", 3, "ab\r", ""},
        {"\r\r\n", 1, "\r", ""},
        {std::string("a\0b\n", 4), 1, "a", ""},
        {std::string("\0abc\n", 5), 0, "", ""},
        {longest + "\nnext", messagemaxchars, longest, "next"},
        {longest, messagemaxchars, longest, ""},
        {longest + "xyz\nnext", messagemaxchars, longest, "xyz\nnext"},
        {std::string(2500, 'q') + "\n", messagemaxchars, longest,
         std::string(502, 'q') + "\n"},
    };
    for (const readcase &c : cases) {
        FILE *in = instream(c.input);
        ASSERT_NE(in, nullptr);
        char msg[messagebuffersize];
        memset(msg, 'X', sizeof msg);
        int n0 = readmessage(in, msg);
        std::string rest;
        for (int ch; (ch = getc(in)) != EOF;)
            rest += (char)ch;
        fclose(in);
        EXPECT_EQ(n0, c.n0) << "input of " << c.input.size() << " bytes";
        EXPECT_EQ(std::string(msg), c.message);
        EXPECT_EQ(rest, c.unread);
        for (int p = (int)c.message.size(); p < messagebuffersize; p++)
            ASSERT_EQ(msg[p], 0) << "position " << p;
    }
}

TEST(ReadMessage, NothingToRead) {
    FILE *in = instream("");
    ASSERT_NE(in, nullptr);
    char msg[messagebuffersize];
    memset(msg, 'X', sizeof msg);
    EXPECT_EQ(readmessage(in, msg), -1);
    EXPECT_EQ(msg[0], 0);
    fclose(in);

    // A stream that fails on its first read counts as no input too: one
    // opened for writing only.
    std::string dir = maketempdir();
    in = fopen((dir + "/out").c_str(), "wb");
    ASSERT_NE(in, nullptr);
    EXPECT_EQ(readmessage(in, msg), -1);
    fclose(in);
    removetree(dir);
}

} // namespace
