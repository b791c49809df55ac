// The program as a user meets it: a process with real standard input, run in
// a temporary folder of glyph files, judged by its exact output, its exit
// status and the picture it stores.
#include <chrono>
#include <filesystem>
#include <regex>
#include <string>
#include <thread>
#include <vector>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <gtest/gtest.h>
#include <stb_image_write.h>

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

std::vector<bytes> testglyphs() {
    std::vector<bytes> glyphs;
    for (int i = 0; i < 29; i++)
        glyphs.push_back(testglyph(i));
    return glyphs;
}

// expectpicture: the stored picture is the one the placement rules give.
void expectpicture(const std::string &dir, const runcase &c,
                   const std::vector<bytes> &glyphs) {
    int width = 0;
    int height = 0;
    std::string why;
    bytes got = readbmp(dir + "/moltravytext.bmp", &width, &height, &why);
    ASSERT_FALSE(got.empty()) << c.name << ": " << why;
    EXPECT_EQ(width, 60 * c.sentences + 40) << c.name;
    EXPECT_EQ(height, 50 * (c.longest + 1)) << c.name;
    bytes want =
        expectedpicture(c.message, c.n0, c.longest, c.sentences, glyphs);
    ASSERT_EQ(got.size(), want.size()) << c.name;
    size_t wrong = 0;
    size_t first = 0;
    for (size_t i = 0; i < got.size(); i++)
        if (got[i] != want[i] && wrong++ == 0)
            first = i;
    EXPECT_EQ(wrong, 0u) << c.name << ": first wrong pixel at x "
                         << first % width << ", y " << first / width;
}

TEST(Process, ReportAndPictureAreExact) {
    const std::string longline(1998, 'a');
    // The README's sample line, over and over: 120 sentences and, after the
    // last full stop, 164 positions cleared, a 7240 by 8250 picture (179 MB)
    // that once crashed Node's WASI runner.
    std::string repeated;
    std::string normalised;
    for (int i = 0; i < 40; i++) {
        repeated += "Hello, World! Is this the moltravy script? It is. ";
        normalised += "hello world.is this the moltravy script?it is.";
    }
    repeated.resize(1998);
    normalised.resize(39 * 46 + 45);
    std::string highbytes;
    for (int b = 0x80; b <= 0xff; b++)
        highbytes += (char)b;
    const runcase cases[] = {
        {"hello", "Hello, World!\n", "hello world.", 13, 12, 1},
        {"empty line", "\n", "", 0, 0, 0},
        {"crlf", "Hello, World!\r\n", "hello world.", 13, 12, 1},
        // Bytes that a C runtime's text mode would change: a carriage return
        // before "\r\n", and 0x1a, which ends text input on Windows.
        {"carriage return before crlf", "Hi.\r\r\n", "hi.", 4, 3, 1},
        {"a 0x1a byte",
         "a\x1a"
         "b\n",
         "ab", 3, 3, 1},
        {"no newline", "Hello, World!", "hello world.", 13, 12, 1},
        {"1998 characters", longline + "\n", longline, 1998, 1998, 1},
        {"2500 characters", std::string(2500, 'a') + "\n", longline, 1998, 1998,
         1},
        {"10000 characters", std::string(10000, 'a'), longline, 1998, 1998, 1},
        {"the sample line repeated", repeated + "\n", normalised, 1998, 164,
         120},
        {"control bytes and a lone carriage return", "\x01\x1b[2Ja\rb\tc\x7f\n",
         "wjabc", 11, 11, 1},
        {"high bytes", "ab" + highbytes + "c.\n", "abc.", 132, 128, 1},
        {"nul inside", std::string("Hi. Bye.\0 more\n", 15), "hi.bye.", 8, 4,
         2},
        {"single letter", "a\n", "a", 1, 1, 1},
        {"two letters", "ab\n", "ab", 2, 2, 1},
        {"two sentences", "Hi. Bye.\n", "hi.bye.", 8, 4, 2},
        {"open sentence", "Hello, World\n", "hello world", 12, 12, 1},
        {"three sentences", "one. two three. four\n", "one.two three.four", 20,
         10, 3},
        {"after the last stop", "a.###\n", "a.", 5, 3, 1},
        {"two stops", "..\n", "..", 2, 1, 2},
        {"both terminators", "Why? Yes. No?\n", "why?yes.no?", 13, 4, 3},
        {"every symbol", "The quick brown fox? Jumps over 1 lazy dog.\n",
         "the quick brown fox?jumps over m lazy dog.", 43, 22, 2},
    };
    std::vector<bytes> glyphs = testglyphs();
    for (const runcase &c : cases) {
        std::string dir = maketempdir();
        writeglyphset(dir);
        toolrun run = runtool(dir, c.input);
        int width = 60 * c.sentences + 40;
        int height = 50 * (c.longest + 1);
        EXPECT_EQ(run.status, 0) << c.name << run.err;
        EXPECT_EQ(run.out, prompt() +
                               report(c.message, c.n0, c.longest, c.sentences,
                                      width, height) +
                               "3\n")
            << c.name;
        EXPECT_EQ(run.err, "") << c.name;
        expectpicture(dir, c, glyphs);
        removetree(dir);
    }
}

TEST(Process, PictureGetsPlainFilePermissions) {
#ifndef FAILCALLS
    GTEST_SKIP() << "file modes, the umask and failing system calls are "
                    "Linux's";
#else
    // Written unnamed; named through the file itself where /proc is missing;
    // and named from the start where the filesystem has no unnamed files.
    for (const std::string &wrapper :
         {std::string(), failing("procfd:ENOENT"), failing(notmpfile)}) {
        std::string dir = maketempdir();
        writeglyphset(dir);
        writefile(dir + "/moltravytext.bmp", "earlier picture");
        toolrun run = runtool(dir, "a\n", "umask 027", false, wrapper);
        EXPECT_EQ(run.status, 0) << wrapper;
        EXPECT_EQ(run.err, "") << wrapper;
        struct stat st;
        ASSERT_EQ(stat((dir + "/moltravytext.bmp").c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 0777, 0640u) << wrapper;
        EXPECT_NE(readfile(dir + "/moltravytext.bmp"), "earlier picture");
        // Nothing but the glyphs and the picture is left behind.
        EXPECT_EQ(filenames(dir).size(), 30u) << wrapper;
        removetree(dir);
    }
#endif
}

TEST(Process, DataIsSyncedBeforeTheRenameAndTheFolderAfter) {
    // And the temporary file is named and renamed with SIGINT, SIGTERM and
    // SIGHUP blocked, so that the handler that removes it always knows
    // whether the name exists.
#ifndef FAILCALLS
    GTEST_SKIP() << "strace is Linux's";
#else
    for (const std::string &wrapper : {std::string(), failing(notmpfile)}) {
        std::string dir = maketempdir();
        writeglyphset(dir);
        std::string logdir = maketempdir();
        std::string log = logdir + "/strace";
        // LeakSanitizer cannot run under a tracer; the other tests have it.
        // -y names the file behind each descriptor.
        toolrun run = runtool(
            dir, "a\n", "export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0",
            false,
            "strace -f -qq -y -o '" + log +
                "' -e trace=fdatasync,fsync,rename,renameat,renameat2," +
                "linkat,rt_sigprocmask,close " + wrapper);
        EXPECT_EQ(run.status, 0) << wrapper << run.out << run.err;
        std::string trace = readfile(log);
        size_t datasync = trace.find("fdatasync(");
        size_t renamed = trace.find("rename");
        // The sync after the rename is the folder's own.
        std::string folder = std::filesystem::canonical(dir).string();
        size_t foldersync = trace.find("fsync(", renamed);
        EXPECT_NE(datasync, std::string::npos) << trace;
        EXPECT_NE(renamed, std::string::npos) << trace;
        ASSERT_NE(foldersync, std::string::npos) << trace;
        EXPECT_LT(datasync, renamed) << trace;
        size_t name = trace.find('<', foldersync);
        EXPECT_EQ(trace.substr(name, folder.size() + 3), "<" + folder + ">)")
            << trace;
        std::vector<std::string> lines;
        for (size_t at = 0, end; at < trace.size(); at = end + 1) {
            end = trace.find('\n', at);
            end = end == std::string::npos ? trace.size() : end;
            lines.push_back(trace.substr(at, end - at));
        }
        int bracketed = 0;
        for (size_t i = 0; i < lines.size(); i++) {
            if (lines[i].find("linkat(") == std::string::npos &&
                lines[i].find("rename") == std::string::npos)
                continue;
            size_t before = i;
            while (before > 0 &&
                   lines[--before].find("rt_sigprocmask") == std::string::npos)
                ;
            size_t after = i;
            while (after + 1 < lines.size() &&
                   lines[++after].find("rt_sigprocmask") == std::string::npos)
                ;
#ifndef EMULATED
            // (qemu-user keeps a guest's signal mask to itself.)
            EXPECT_NE(lines[before].find("SIG_BLOCK, [HUP INT TERM]"),
                      std::string::npos)
                << lines[i] << "\n"
                << trace;
            EXPECT_NE(lines[after].find("SIG_SETMASK"), std::string::npos)
                << lines[i] << "\n"
                << trace;
#endif
            bracketed++;
            // The temporary name, as the manual names a leftover one.
            EXPECT_TRUE(std::regex_search(
                lines[i],
                std::regex("\"moltravytext\\.bmp\\.[A-Za-z0-9]{6}\"")))
                << lines[i];
        }
        // Linux links a nameless file in and renames it; the generic store
        // and a Linux without O_TMPFILE rename only.
#ifdef GENERICPOSIX
        EXPECT_GE(bracketed, 1) << trace;
#else
        EXPECT_GE(bracketed, wrapper.empty() ? 2 : 1) << trace;
#endif
        // And every glyph file read is closed again, once.
        std::string closed;
        std::smatch glyph;
        for (const std::string &line : lines)
            if (std::regex_search(
                    line, glyph,
                    std::regex("close\\(\\d+<.*/([a-z_]+)\\.bmp>\\)")))
                closed += glyph[1].str() + " ";
        EXPECT_EQ(closed, "a b c d e f g h i j k l m n o p q r s t u v w x y z "
                          "_ _period _question ")
            << trace;
        removetree(logdir);
        removetree(dir);
    }
#endif
}

TEST(Process, PromptIsOutBeforeTheLineIsRead) {
#ifdef _WIN32
    GTEST_SKIP() << "a FIFO is POSIX's; tests/winconsole.py waits for the "
                    "prompt at a Windows console";
#else
    // Through a pipe or at a terminal, the prompt is out while the program
    // waits for the line, so that whoever answers it sees it first: here
    // standard output is a file, which the C library writes only when told
    // to, and standard input a FIFO the test writes the line to once it
    // has seen the prompt.
    std::string dir = maketempdir();
    writeglyphset(dir);
    std::string io = maketempdir();
    std::string fifo = io + "/in";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    pid_t pid = fork();
    if (pid == 0) {
        int out = open((io + "/out").c_str(), O_WRONLY | O_CREAT, 0644);
        int in = open(fifo.c_str(), O_RDONLY); // until the test opens it
        if (chdir(dir.c_str()) != 0 || in < 0 || out < 0)
            _exit(99);
        dup2(in, 0);
        dup2(out, 1);
        std::string command = std::string("exec ") + TOOLPATH;
        execl("/bin/sh", "sh", "-c", command.c_str(), (char *)NULL);
        _exit(98);
    }
    int writer = open(fifo.c_str(), O_WRONLY);
    bool seen = false;
    // A ceiling only a hang reaches: 30 s.
    for (int tries = 0; tries < 600 && !seen; tries++) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        seen =
            readfile(io + "/out").find("Enter message: ") != std::string::npos;
    }
    EXPECT_TRUE(seen) << "no prompt while the program waits for the line";
    EXPECT_EQ(write(writer, "Hi.\n", 4), 4);
    close(writer);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(readfile(io + "/out"),
              prompt() + report("hi.", 3, 3, 1, 100, 200) + "3\n");
    removetree(io);
    removetree(dir);
#endif
}

TEST(Process, InterruptedOrGrowingGlyphRead) {
#ifndef FAILCALLS
    GTEST_SKIP() << "strace is Linux's";
#else
    // strace's faults on the reads of a.bmp: the first interrupted by a
    // signal (EINTR, which a network filesystem can give), tried again and
    // read; or a byte more than the file's size had (a file written to
    // while it is read), refused rather than read half old, half new: the
    // read after the whole file asks for that byte.
    const struct {
        const char *inject;
        int status;
        const char *traced;
    } cases[] = {{"error=EINTR:when=1", 0, "EINTR"},
                 {"retval=1:when=2", 1, "\", 1) "}};
    const runcase msg = {"interrupted", "A.\n", "a.", 2, 2, 1};
    for (const auto &c : cases) {
        std::string dir = maketempdir();
        writeglyphset(dir);
        toolrun run = runtool(
            dir, msg.input,
            "export ASAN_OPTIONS=${ASAN_OPTIONS:-}:detect_leaks=0", false,
            "strace -f -qq -o " + dir + "/trace -P a.bmp -e trace=read " +
                "-e inject=read:" + c.inject);
        EXPECT_EQ(run.status, c.status) << c.inject << run.out << run.err;
        EXPECT_NE(readfile(dir + "/trace").find(c.traced), std::string::npos)
            << readfile(dir + "/trace");
        if (c.status == 0)
            expectpicture(dir, msg, testglyphs());
        else
            EXPECT_EQ(run.out.substr(run.out.size() - 22),
                      "currentletter = NULL\n\n")
                << c.inject;
        removetree(dir);
    }
#endif
}

TEST(Process, SymlinkedPictureIsWrittenThrough) {
#ifdef _WIN32
    GTEST_SKIP() << "on Windows a link in the picture's place is left alone "
                    "and the picture not stored, as the README says";
#elif defined(WASIRUN)
    GTEST_SKIP() << "a WebAssembly module sees only the folder its runtime "
                    "opens to it, and no link that leads out of it";
#else
    const struct {
        const char *name;
        const char *link;   // what moltravytext.bmp points to
        const char *target; // the file that must get the picture
    } cases[] = {
        {"relative, to nothing yet", "elsewhere/picture.bmp",
         "elsewhere/picture.bmp"},
        {"relative, to an earlier picture", "elsewhere/earlier.bmp",
         "elsewhere/earlier.bmp"},
        {"through a second link", "elsewhere/link.bmp",
         "elsewhere/earlier.bmp"},
        {"absolute", "", "elsewhere/picture.bmp"},
    };
    const runcase msg = {"link", "Hi.\n", "hi.", 3, 3, 1};
    for (const auto &c : cases) {
        std::string dir = maketempdir();
        writeglyphset(dir);
        makefolder(dir + "/elsewhere");
        writefile(dir + "/elsewhere/earlier.bmp", "earlier picture");
        ASSERT_EQ(symlink("earlier.bmp", (dir + "/elsewhere/link.bmp").c_str()),
                  0);
        std::string link = c.link[0] ? c.link : dir + "/" + c.target;
        ASSERT_EQ(symlink(link.c_str(), (dir + "/moltravytext.bmp").c_str()),
                  0);
        toolrun run = runtool(dir, msg.input);
        EXPECT_EQ(run.status, 0) << c.name;
        // The links stay as they were; the file they lead to is replaced.
        char got[4096] = {0};
        EXPECT_GT(
            readlink((dir + "/moltravytext.bmp").c_str(), got, sizeof got - 1),
            0)
            << c.name;
        EXPECT_EQ(std::string(got), link) << c.name;
        expectpicture(dir, msg, testglyphs());
        EXPECT_EQ(listing(dir + "/elsewhere"),
                  std::string(c.target) == "elsewhere/picture.bmp"
                      ? "earlier.bmp link.bmp picture.bmp "
                      : "earlier.bmp link.bmp ")
            << c.name;
        removetree(dir);
    }
#endif
}

TEST(Process, ReadOnlyHeldOrDeepPictureIsReplaced) {
    // A read-only earlier picture is replaced, as on Linux, by a plain new
    // file; so, on Windows, is one that another program holds open, sharing
    // nothing, for a moment (an indexer or a virus scanner taking a look);
    // and so is one in a folder 240 characters deep, where the temporary
    // file's full name passes Windows' MAX_PATH (260).
    namespace fs = std::filesystem;
    const struct {
        const char *name;
        bool readonly;
        int heldms;
        size_t depth; // the folder's length, when deep
    } cases[] = {
        {"read-only", true, 0, 0},
#ifdef _WIN32
        {"held open for 300 ms", false, 300, 0},
        {"held open for 300 ms, read-only", true, 300, 0},
#endif
        {"in a folder 240 characters deep", false, 0, 240},
    };
    const runcase msg = {"replaced", "Hi.\n", "hi.", 3, 3, 1};
    for (const auto &c : cases) {
        std::string top = maketempdir();
        std::string dir = top;
        while (dir.size() < c.depth) {
            size_t room = c.depth - dir.size() - 1;
            dir += "/" + std::string(room < 30 ? room : 30, 'd');
            makefolder(dir);
        }
        writeglyphset(dir);
        std::string picture = dir + "/moltravytext.bmp";
        writefile(picture, "earlier picture");
        if (c.readonly)
            fs::permissions(picture,
                            fs::perms::owner_write | fs::perms::group_write |
                                fs::perms::others_write,
                            fs::perm_options::remove);
#ifdef _WIN32
        void *held = c.heldms ? holdopen(picture) : nullptr;
        std::thread release([&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(c.heldms));
            letgo(held);
        });
#endif
        toolrun run = runtool(dir, msg.input);
#ifdef _WIN32
        release.join();
#endif
        EXPECT_EQ(run.status, 0) << c.name << ": " << run.out;
        expectpicture(dir, msg, testglyphs());
        EXPECT_NE(fs::status(picture).permissions() & fs::perms::owner_write,
                  fs::perms::none)
            << c.name;
        EXPECT_EQ(filenames(dir).size(), 30u) << c.name;
        removetree(top);
    }
}

// Glyph files in other formats, under the same ".bmp" names.
TEST(Process, GlyphFormatsAreFoundByContent) {
    struct formatcase {
        const char *name;
        const char *format; // "png1", "rgbbmp", "rgbapng", "rgbafirst"
        const char *closing;
    } cases[] = {
        {"grey PNG", "png1", "1\n"},
        {"colour BMP", "rgbbmp", "3\n"},
        {"RGBA PNG", "rgbapng", "4\n"},
        // The closing line is the glyph file loaded last's, the question
        // mark's: an RGBA "a.bmp" before 28 BMP files does not show.
        {"RGBA PNG loaded first", "rgbafirst", "3\n"},
    };
    const runcase msg = {
        "format", "Why? Yes, zebra.\n", "why?yes zebra.", 16, 10, 2};
    for (const formatcase &f : cases) {
        std::string dir = maketempdir();
        std::vector<bytes> glyphs;
        std::string format = f.format;
        for (int i = 0; i < 29; i++) {
            bytes grey = testglyph(i, 7);
            bytes colour(2500 * 4);
            bytes want(2500);
            for (int p = 0; p < 2500; p++) {
                // Different red, green and blue, and an alpha that must be
                // dropped.
                unsigned char r = grey[p];
                unsigned char g = (unsigned char)(grey[p] * 3 + 17);
                unsigned char b = (unsigned char)(255 - grey[p]);
                colour[4 * p] = r;
                colour[4 * p + 1] = g;
                colour[4 * p + 2] = b;
                colour[4 * p + 3] = (unsigned char)(p % 256);
                want[p] = (unsigned char)((77 * r + 150 * g + 29 * b) >> 8);
            }
            std::string path = dir + "/" + glyphfile(i);
            int ok = 0;
            if (format == "png1") {
                ok = stbi_write_png(path.c_str(), 50, 50, 1, grey.data(), 50);
                want = grey;
            } else if (format == "rgbbmp") {
                bytes rgb(2500 * 3);
                for (int p = 0; p < 2500; p++)
                    for (int k = 0; k < 3; k++)
                        rgb[3 * p + k] = colour[4 * p + k];
                ok = stbi_write_bmp(path.c_str(), 50, 50, 3, rgb.data());
            } else {
                // Only the question mark (or the "a") is RGBA.
                if (i == (format == "rgbapng" ? 28 : 0)) {
                    ok = stbi_write_png(path.c_str(), 50, 50, 4, colour.data(),
                                        200);
                } else {
                    ok = stbi_write_bmp(path.c_str(), 50, 50, 1, grey.data());
                    want = grey;
                }
            }
            ASSERT_TRUE(ok) << path;
            glyphs.push_back(want);
        }
        toolrun run = runtool(dir, msg.input);
        EXPECT_EQ(run.status, 0) << f.name;
        EXPECT_EQ(run.out, prompt() +
                               report(msg.message, msg.n0, msg.longest,
                                      msg.sentences, 160, 550) +
                               f.closing)
            << f.name;
        expectpicture(dir, msg, glyphs);
        removetree(dir);
    }
}

TEST(Process, LostReportIsAFailure) {
#ifdef _WIN32
    GTEST_SKIP() << "Windows has no full device to write to";
#else
    // Standard output on a full device: the report cannot be written.
    std::string dir = maketempdir();
    writeglyphset(dir);
    std::string status = shellout(dir, std::string("echo hi | ") + TOOLPATH +
                                           " >/dev/full 2>/dev/null; echo $?");
    EXPECT_EQ(status, "1\n");
    removetree(dir);
#endif
}

} // namespace
